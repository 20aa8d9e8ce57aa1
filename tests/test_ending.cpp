// The player ended by its session, a terminal or Ctrl+C saves what its own
// "Quitter" saves and exits normally.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>

TEST(Ending, SignalsOfTheSessionEndThePlayerWithItsSessionSaved) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        QTemporaryDir home;
        const QString runtime = home.path() + "/run";
        ASSERT_TRUE(QDir().mkpath(runtime));
        ASSERT_TRUE(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("XDG_DATA_HOME", home.path() + "/.local/share");
        env.insert("XDG_CACHE_HOME", home.path() + "/.cache");
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.path() + "/pas-de-bus");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess player;
        player.setProcessEnvironment(env);
        player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        player.start(PLAYER_BIN, {});
        ASSERT_TRUE(player.waitForStarted(30000));
        // The channel opens once the signals are taken.
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(runtime + "/tunabel.socket"); }, 60000));
        ::kill(pid_t(player.processId()), sig);
        ASSERT_TRUE(player.waitForFinished(60000));
        EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(player.exitCode(), 0);
        QFile ini(home.path() + "/.config/Tunabel/Tunabel.ini");
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly)) << "nothing saved";
        EXPECT_TRUE(ini.readAll().contains("Volume=")) << "the session's volume was not saved";
    }
}
