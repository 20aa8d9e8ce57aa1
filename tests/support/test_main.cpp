// Every test process runs against a private home: settings, data and
// temporary files never touch the real user's, nor its calls the machine's
// services.
#include "platform/language.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
    QTemporaryDir home(QDir::tempPath() + "/tunabel-test-XXXXXX");
    const QByteArray root = home.path().toLocal8Bit();
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_MUSIC_DIR", (root + "/music").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/run").constData(), 1);
    // No system bus either: what the player asks of the machine's services
    // (real-time priority) goes nowhere unless a test stands one in.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + root + "/run/no-system-bus").constData(), 1);
    QDir().mkpath(home.path() + "/run");
    QFile::setPermissions(home.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tunabel");
    LoadQtFrench();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
