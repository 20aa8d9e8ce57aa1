// Build tool: prints the desktop entry of an installed copy, made from the
// template the way "A&ssocier les fichiers supportés" makes it, so that the
// installed entry and the user's own quote the program alike.
//   tunabel-desktop-entry <template> <installed tunabel command>
#include "platform/desktop/registration.h"

#include <QFile>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage : tunabel-desktop-entry <modèle> <commande installée>\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tunabel-desktop-entry : %s est illisible\n", argv[1]);
        return 1;
    }
    const QByteArray entry =
        FillDesktopTemplate(QString::fromUtf8(in.readAll()), QString::fromLocal8Bit(argv[2])).toUtf8();
    return std::fwrite(entry.constData(), 1, size_t(entry.size()), stdout) == size_t(entry.size()) ? 0 : 1;
}
