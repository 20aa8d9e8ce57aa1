#include "platform/desktop/registration.h"

#include "platform/desktop/launcher.h"
#include "platform/filename.h"
#include "storage/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error) {
    QDir().mkpath(QFileInfo(path).path());
    return WriteFileAtomically(path, bytes, error);
}

// The same file the package installs.
QByteArray mimePackage() {
    QFile f(":/tunabel.xml");
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void refresh(const QString &tool, const QString &folder) {
    const QString program = QStandardPaths::findExecutable(tool);
    // Through our own launcher even in tests: a started program gets no
    // descriptor of ours.
    if (!program.isEmpty())
        ProgramLauncher().StartDetached(program, {folder});
}

} // namespace

QString TempPath() {
    QString t = QDir::tempPath();
    if (!t.endsWith('/'))
        t += '/';
    return t;
}

QStringList SupportedMimeTypes() {
    return {"audio/mpeg",         "audio/mp2",        "audio/x-wav", "audio/basic", "audio/x-aiff",
            "audio/x-aifc",       "audio/midi",       "video/mpeg",  "audio/flac",  "audio/ogg",
            "audio/x-vorbis+ogg", "audio/x-opus+ogg", "audio/mp4",   kPlayListMime};
}

QString CommandToRegister(const QString &playerPath) {
    const QFileInfo command(QFileInfo(playerPath).path() + "/tunabel");
    return command.isFile() && command.isExecutable() && command.filePath() != playerPath ? command.filePath()
                                                                                          : playerPath;
}

QString DesktopTemplate(const QString &programFolder) {
    for (const QString &path : {programFolder + "/tunabel.desktop.in", QString(":/tunabel.desktop.in")}) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            return QString::fromUtf8(f.readAll());
    }
    return {};
}

QString DesktopStringValue(const QString &path) {
    QString out;
    for (QChar c : path)
        out += c == '\\' ? QString("\\\\") : QString(c);
    return out;
}

QString DesktopExecArgument(const QString &path) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = path.isEmpty();
    for (QChar c : path)
        quote = quote || reserved.contains(c);
    QString arg;
    for (QChar c : path) {
        if (c == '%')
            arg += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            arg += QString('\\') + c;
        else
            arg += c;
    }
    if (quote)
        arg = '"' + arg + '"';
    return DesktopStringValue(arg);
}

QString DesktopExecProgram(const QString &path) {
    return path.contains('%') ? "env " + DesktopExecArgument(path) : DesktopExecArgument(path);
}

QString FillDesktopTemplate(const QString &text, const QString &programPath) {
    const QString exec = DesktopExecProgram(programPath);
    const QString plain = DesktopStringValue(programPath);
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    QString out;
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (trimmed.startsWith('#') || eq < 0) {
            out += line + '\n';
            continue;
        }
        const QString key = line.left(eq).trimmed();
        const QString with = key == "Exec" ? exec : plain;
        out += line.left(eq + 1);
        for (QChar c : line.mid(eq + 1))
            out += c == '#' ? with : QString(c);
        out += '\n';
    }
    return out;
}

QByteArray MergeDefaultApplications(const QByteArray &existing, const QStringList &types,
                                    const QString &desktopFile) {
    QList<QByteArray> lines = existing.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const QByteArray value = desktopFile.toUtf8() + ";";
    QList<QByteArray> pending;
    for (const QString &t : types)
        pending.append(t.toUtf8());

    qsizetype groupEnd = -1; // index after the last line of the group
    bool inGroup = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray trimmed = lines[i].trimmed();
        if (trimmed.startsWith('[')) {
            inGroup = trimmed == "[Default Applications]";
            if (inGroup)
                groupEnd = i + 1;
            continue;
        }
        if (!inGroup)
            continue;
        if (!trimmed.isEmpty())
            groupEnd = i + 1;
        const qsizetype eq = trimmed.indexOf('=');
        if (eq < 0 || trimmed.startsWith('#'))
            continue;
        const QByteArray key = trimmed.left(eq).trimmed();
        if (types.contains(QString::fromUtf8(key))) {
            lines[i] = key + "=" + value;
            pending.removeAll(key);
        }
    }
    QList<QByteArray> added;
    for (const QByteArray &key : pending)
        added.append(key + "=" + value);
    if (groupEnd < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QByteArray());
        lines.append("[Default Applications]");
        lines.append(added);
    } else {
        for (qsizetype k = 0; k < added.size(); ++k)
            lines.insert(groupEnd + k, added[k]);
    }
    return lines.join('\n') + '\n';
}

QString RegisterFileTypes(const QString &programPath, const QString &templateText) {
    if (templateText.isEmpty())
        return "le modèle tunabel.desktop.in est introuvable.";
    for (QChar c : programPath)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return "le chemin du programme contient un caractère de contrôle.";
    if (HasEscapedBytes(programPath))
        return "le chemin du programme n'est pas en UTF-8.";
    // env would take such a path for a variable to set.
    if (programPath.contains('%') && programPath.contains('='))
        return "le chemin du programme contient à la fois « % » et « = », que le bureau ne sait pas lancer.";
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (data.isEmpty() || config.isEmpty())
        return "les dossiers de l'utilisateur sont introuvables.";

    QString error;
    const QString apps = data + "/applications";
    if (!writeAtomically(apps + "/" + kDesktopFile, FillDesktopTemplate(templateText, programPath).toUtf8(),
                         &error))
        return error;
    const QString mime = data + "/mime";
    const QByteArray package = mimePackage();
    if (package.isEmpty())
        return "la description du type des listes est introuvable.";
    if (!writeAtomically(mime + "/packages/tunabel.xml", package, &error))
        return error;
    QFile icon(":/icons/note.svg");
    if (!icon.open(QIODevice::ReadOnly) ||
        !writeAtomically(data + "/icons/hicolor/scalable/apps/tunabel.svg", icon.readAll(), &error))
        return error.isEmpty() ? "l'icône est introuvable." : error;

    const QString listPath = config + "/mimeapps.list";
    QByteArray list;
    QFile existing(listPath);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return "impossible de lire " + listPath + ".";
        list = existing.readAll();
        existing.close();
    }
    if (!writeAtomically(listPath, MergeDefaultApplications(list, SupportedMimeTypes(), kDesktopFile),
                         &error))
        return error;

    refresh("update-mime-database", mime);
    refresh("update-desktop-database", apps);
    return {};
}
