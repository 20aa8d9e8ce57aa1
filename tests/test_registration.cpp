// Registration of the file types for the user, and the temporary folder.
#include "support/playerfixture.h"

#include "platform/desktop/registration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

QString read(const QString &path) {
    return QString::fromUtf8(fileBytes(path));
}

QString lineOf(const QString &text, const QString &key) {
    for (const QString &line : text.split('\n'))
        if (line.startsWith(key + "="))
            return line.mid(key.size() + 1);
    return "<none>";
}

} // namespace

TEST(Registration, ProgramPathIsQuotedForEachKey) {
    const QString tpl = "[Desktop Entry]\n# a comment # kept\nTryExec=#\nExec=# %F\nName=Tunabel\n";
    const QString filled = FillDesktopTemplate(tpl, "/opt/mes 100% programmes/tunabel");
    EXPECT_EQ(lineOf(filled, "TryExec"), "/opt/mes 100% programmes/tunabel");
    EXPECT_TRUE(filled.contains("\n# a comment # kept\n"));
    // A plain path is not quoted; quotes, dollars and backslashes are escaped
    // inside the quotes, then backslashes once more for the string value.
    EXPECT_EQ(DesktopExecArgument("/usr/bin/tunabel"), "/usr/bin/tunabel");
    EXPECT_EQ(DesktopExecArgument("/a\"b$c\\d/t"), "\"/a\\\\\"b\\\\$c\\\\\\\\d/t\"");
    EXPECT_EQ(DesktopStringValue("/a\\b"), "/a\\\\b");
}

TEST(Registration, DefaultApplicationsKeepEveryOtherEntry) {
    const QByteArray head = "[Added Associations]\naudio/mpeg=autre.desktop;\n\n"
                            "[Default Applications]\n# mine\ntext/plain=editeur.desktop;\n";
    const QByteArray tail = "\n[Removed Associations]\nimage/png=x.desktop;\n";
    const QStringList types{"audio/mpeg", "audio/midi"};
    const QByteArray after =
        MergeDefaultApplications(head + "audio/mpeg=autre.desktop;\n" + tail, types, "t.desktop");
    EXPECT_EQ(after, head + "audio/mpeg=t.desktop;\naudio/midi=t.desktop;\n" + tail);
    EXPECT_EQ(MergeDefaultApplications("", {"audio/midi"}, "t.desktop"),
              "[Default Applications]\naudio/midi=t.desktop;\n");
    // Done twice, nothing doubles.
    EXPECT_EQ(MergeDefaultApplications(after, types, "t.desktop"), after);
}

TEST(Registration, WritesEverythingForTheUserAndNothingInTheTemporaryFolder) {
    QTemporaryDir tmp;
    const QString data = tmp.path() + "/data", config = tmp.path() + "/config";
    qputenv("XDG_DATA_HOME", data.toUtf8());
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    QDir().mkpath(config);
    ASSERT_TRUE(
        writeFile(config + "/mimeapps.list", "[Default Applications]\ntext/plain=editeur.desktop;\n"));
    // A stand-in for the command that notes what it was given.
    const QString marker = tmp.path() + "/started";
    const QString program = tmp.path() + "/l'appli \"100%\"/tunabel";
    QDir().mkpath(tmp.path() + "/l'appli \"100%\"");
    ASSERT_TRUE(writeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + marker.toUtf8() + "'\n"));
    ASSERT_TRUE(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // Beside the player, built or installed, the command is what gets registered.
    EXPECT_EQ(CommandToRegister(QFileInfo(program).path() + "/tunabel-player"), program);
    EXPECT_EQ(CommandToRegister(tmp.path() + "/tunabel-player"), tmp.path() + "/tunabel-player");
    EXPECT_EQ(RegisterFileTypes(program, DesktopTemplate("/nowhere")), "");

    const QString entry = data + "/applications/tunabel.desktop";
    const QString text = read(entry);
    EXPECT_EQ(lineOf(text, "Exec"), "env \"" + tmp.path() + "/l'appli \\\\\"100%%\\\\\"/tunabel\" %F");
    EXPECT_TRUE(lineOf(text, "MimeType").contains("application/x-tunabel-playlist;"));
    EXPECT_TRUE(read(data + "/mime/packages/tunabel.xml").contains("<glob pattern=\"*.tnl\"/>"));
    EXPECT_TRUE(QFile::exists(data + "/icons/hicolor/scalable/apps/tunabel.svg"));
    const QString list = read(config + "/mimeapps.list");
    EXPECT_TRUE(list.contains("text/plain=editeur.desktop;\n"));
    for (const QString &type : SupportedMimeTypes())
        EXPECT_TRUE(list.contains(type + "=tunabel.desktop;\n")) << type.toStdString();

    const QString validate = QStandardPaths::findExecutable("desktop-file-validate");
    if (!validate.isEmpty()) {
        QProcess p;
        p.start(validate, {entry});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_EQ(p.readAll(), "");
    }
    // GLib's own reading of the entry starts the program with the files.
    const QString gio = QStandardPaths::findExecutable("gio");
    ASSERT_FALSE(gio.isEmpty()) << "gio is missing (package libglib2.0-bin)";
    QProcess launch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + tmp.path() + "/no-bus");
    env.remove("DISPLAY");
    launch.setProcessEnvironment(env);
    const QString song = tmp.path() + "/un titre.mp3";
    launch.start(gio, {"launch", entry, song});
    ASSERT_TRUE(launch.waitForFinished(30000));
    EXPECT_EQ(launch.exitCode(), 0) << launch.readAllStandardError().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return read(marker) == song + "\n"; }, 30000))
        << read(marker).toStdString();

    // Nothing was put in the shared temporary folder.
    EXPECT_FALSE(QFile::exists(TempPath() + "Tunabel.reg"));

    // A path that cannot be written in a desktop entry is refused.
    EXPECT_NE(RegisterFileTypes("/a\nb/tunabel", DesktopTemplate("/nowhere")), "");
    EXPECT_NE(RegisterFileTypes("/a=100%/tunabel", DesktopTemplate("/nowhere")), "");
    qputenv("XDG_DATA_HOME", (QDir::homePath() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (QDir::homePath() + "/config").toUtf8());
}

using AssociateTest = PlayerTest;

TEST_F(AssociateTest, MenuCommandRegistersOrSaysWhy) {
    load();
    form->Associate->trigger();
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(
        read(data + "/applications/tunabel.desktop").contains(QCoreApplication::applicationFilePath()));
    // Folders that cannot be written: a message, no crash.
    QTemporaryDir tmp;
    QFile blocker(tmp.path() + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    qputenv("XDG_DATA_HOME", (tmp.path() + "/file/sub").toUtf8());
    form->Associate->trigger();
    EXPECT_EQ(messages.size(), 1);
    qputenv("XDG_DATA_HOME", (QDir::homePath() + "/data").toUtf8());
}
