// A start that claims the hand-over channel the way the player does: it
// forwards its requests, or becomes the receiver and writes every batch it
// gets, one line each, until it has heard from `expected` starts in all.
// As the receiver it also writes what it would tell the user ("notice ...").
// PROBE_NOFILE=N starts it as under `ulimit -n N`.
//   handover_probe OUTPUT EXPECTED PATH...
#include "platform/desktop/handover.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cstdlib>
#include <sys/resource.h>

int main(int argc, char **argv) {
    if (argc < 3)
        return 2;
    if (const char *n = std::getenv("PROBE_NOFILE")) {
        const rlimit limit{rlim_t(std::atoi(n)), rlim_t(std::atoi(n))};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 6;
    }
    std::vector<std::string> requests;
    for (int i = 3; i < argc; ++i)
        requests.push_back(handover::WrapArgument(argv[i], "/"));
    int lock = -1;
    const handover::Claim claim = handover::ClaimOrForward(requests, &lock);
    if (claim == handover::Claim::Forwarded)
        return 0;
    if (claim != handover::Claim::Primary)
        return 3;
    QCoreApplication app(argc, argv);
    handover::Server server;
    if (!server.listen(lock))
        return 4;
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::Append))
        return 5;
    const int expected = std::atoi(argv[2]);
    int heard = 1;
    QStringList own;
    for (const std::string &r : requests)
        own << QString::fromStdString(r);
    out.write("primary\n" + own.join('|').toUtf8() + "\n");
    if (!server.notice().isEmpty())
        out.write("notice " + server.notice().toUtf8().replace('\n', ' ') + "\n");
    out.flush();
    QObject::connect(&server, &handover::Server::batch, &app, [&](const QStringList &batch) {
        out.write(batch.join('|').toUtf8() + "\n");
        out.flush();
        if (++heard >= expected)
            app.quit();
    });
    QTimer::singleShot(120000, &app, &QCoreApplication::quit);
    return app.exec();
}
