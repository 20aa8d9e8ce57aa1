// The desktop's media control interface, on a private session bus.
#include "support/playerfixture.h"

#include "platform/desktop/mpris.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>

namespace {

// What a client of the bus sees change.
class Listener : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes;
    QList<qlonglong> seeks;
public slots:
    void changed(const QString &, const QVariantMap &props, const QStringList &) { changes << props; }
    void seeked(qlonglong position) { seeks << position; }
};

QVariantMap asMap(const QVariant &v) {
    return v.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(v.value<QDBusArgument>()) : v.toMap();
}

} // namespace

class MprisTest : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        ASSERT_FALSE(daemon.isEmpty()) << "dbus-daemon is missing (package dbus)";
        bus.start(daemon, {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(bus.waitForStarted(30000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return bus.canReadLine(); }, 30000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        service =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "tunabel-service"));
        client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "tunabel-client"));
        ASSERT_TRUE(service->isConnected() && client->isConnected());
        ASSERT_TRUE(client->connect(kMprisService, kMprisPath, "org.freedesktop.DBus.Properties",
                                    "PropertiesChanged", &listener,
                                    SLOT(changed(QString, QVariantMap, QStringList))));
        ASSERT_TRUE(client->connect(kMprisService, kMprisPath, "org.mpris.MediaPlayer2.Player", "Seeked",
                                    &listener, SLOT(seeked(qlonglong))));
    }
    void TearDown() override {
        form.reset();
        service.reset();
        client.reset();
        QDBusConnection::disconnectFromBus("tunabel-service");
        QDBusConnection::disconnectFromBus("tunabel-client");
        bus.kill();
        bus.waitForFinished();
        PlayerTest::TearDown();
    }
    // A call from the client, answered by the player in this same process.
    QDBusMessage call(const QString &iface, const QString &method, const QVariantList &args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(kMprisService, kMprisPath, iface, method);
        m.setArguments(args);
        QDBusPendingCall pending = client->asyncCall(m);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 30000));
        return pending.reply();
    }
    QDBusMessage player(const QString &method, const QVariantList &args = {}) {
        return call("org.mpris.MediaPlayer2.Player", method, args);
    }
    QVariant property(const QString &name) {
        const QDBusMessage r =
            call("org.freedesktop.DBus.Properties", "Get", {"org.mpris.MediaPlayer2.Player", name});
        return r.arguments().isEmpty() ? QVariant() : r.arguments()[0].value<QDBusVariant>().variant();
    }
    // Waits for a change of `key` to `value` to reach the client.
    bool seen(const QString &key, const QVariant &value, const QString &metaKey = {}) {
        const auto is = [&](const QVariantMap &c) {
            return (metaKey.isEmpty() ? c.value(key) : asMap(c.value(key)).value(metaKey)) == value;
        };
        return QTest::qWaitFor(
            [&] { return std::any_of(listener.changes.cbegin(), listener.changes.cend(), is); }, 30000);
    }

    QProcess bus;
    std::unique_ptr<QDBusConnection> service, client;
    Listener listener;
};

TEST_F(MprisTest, TransportUriAndRaiseFromTheBusAndChangesSeenByAClient) {
    const QString dir = makeNumberedFolder("m", 3), other = makeFolder("d", {"un.mp3", "deux.mp3"});
    start(dir, 0);
    EXPECT_FALSE(form->StartMpris(QDBusConnection("pas-de-bus"))); // no bus: no service, no harm
    ASSERT_TRUE(form->StartMpris(*service));
    EXPECT_EQ(property("PlaybackStatus").toString(), "Stopped");

    EXPECT_EQ(player("PlayPause").type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(media->opened, QStringList({dir + "/track00000.mp3"}));
    media->completeOpen(125.5);
    EXPECT_TRUE(seen("PlaybackStatus", "Playing"));
    const QVariantMap meta = asMap(property("Metadata"));
    EXPECT_EQ(meta.value("xesam:title").toString(), "track00000");
    EXPECT_EQ(meta.value("mpris:length").toLongLong(), 125500000);
    EXPECT_EQ(meta.value("xesam:url").toString(), "file://" + dir + "/track00000.mp3");
    EXPECT_TRUE(seen("Metadata", "track00000", "xesam:title"));

    player("PlayPause");
    EXPECT_EQ(media->CurrentState(), 1);
    EXPECT_TRUE(seen("PlaybackStatus", "Paused"));
    player("Play");
    EXPECT_EQ(media->CurrentState(), 2);
    player("Next"); // the transport's own Avancer: the folder goes on
    EXPECT_EQ(media->opened.last(), dir + "/track00001.mp3");

    call("org.freedesktop.DBus.Properties", "Set",
         {"org.mpris.MediaPlayer2.Player", "Volume", QVariant::fromValue(QDBusVariant(0.25))});
    EXPECT_EQ(form->VScroll1->value(), 75);
    EXPECT_TRUE(seen("Volume", 0.25));
    player("Stop");
    EXPECT_EQ(media->FileName(), "");
    EXPECT_TRUE(seen("PlaybackStatus", "Stopped"));

    // Raise and OpenUri go through the hand-over.
    form->ReduceToTray();
    call("org.mpris.MediaPlayer2", "Raise");
    EXPECT_TRUE(form->isVisible());
    player("OpenUri", {"file://" + other + "/deux.mp3"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return media->opened.last() == other + "/deux.mp3"; }, 30000));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MprisTest, OpenUriAnswersAtOnceRefusingWhatCannotBePlayedWithoutABox) {
    const QString dir = makeFolder("d", {"un.mp3", "deux.mp3"});
    const QString list = makeFolder("liste.tnl", {}); // a play-list that is a folder: a box when opened
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/tube.mp3").constData(), 0600), 0);
    start(dir, 0);
    ASSERT_TRUE(form->StartMpris(*service));
    const QString invalid = "org.freedesktop.DBus.Error.InvalidArgs",
                  unsupported = "org.freedesktop.DBus.Error.NotSupported";
    const struct {
        QString uri, error;
    } refused[] = {
        {"", invalid},
        {"http://ailleurs/x.mp3", unsupported},
        {"smb://serveur/x.mp3", unsupported},
        {"file://" + dir + "/un%zz.mp3", invalid},
        {"file://" + dir + "/un%00.mp3", invalid},
        {"file://" + dir + "/" + QString(100000, 'a') + ".mp3", invalid},
        {"un.mp3", invalid},
        {"file://" + dir + "/absent.mp3", invalid},
        {"file://" + dir + "/tube.mp3", unsupported}, // a named pipe would block the open
    };
    for (const auto &r : refused) {
        const QDBusMessage reply = player("OpenUri", {r.uri});
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << r.uri.left(80).toStdString();
        EXPECT_EQ(reply.errorName(), r.error) << r.uri.left(80).toStdString();
        EXPECT_FALSE(reply.errorMessage().isEmpty());
    }
    settle();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(media->opened.isEmpty());

    // Accepted, the address is opened after the answer: the caller is not
    // held by the box the opening shows, and while it is up, further
    // requests show none.
    int boxes = 0, deepest = 0;
    bool answeredFirst = false;
    std::unique_ptr<QDBusPendingCall> pending;
    form->MsgBox = [&](const QString &text, QMessageBox::Icon, const QString &,
                       QMessageBox::StandardButtons) {
        messages << text;
        deepest = std::max(deepest, ++boxes);
        if (messages.size() == 1) {
            answeredFirst = QTest::qWaitFor([&] { return pending->isFinished(); }, 30000);
            for (const auto &r : refused)
                EXPECT_EQ(player("OpenUri", {r.uri}).errorName(), r.error);
            EXPECT_EQ(player("OpenUri", {"file://" + dir + "/deux.mp3"}).type(), QDBusMessage::ReplyMessage);
            settle();
        }
        --boxes;
        return QMessageBox::Ok;
    };
    QDBusMessage open =
        QDBusMessage::createMethodCall(kMprisService, kMprisPath, "org.mpris.MediaPlayer2.Player", "OpenUri");
    open.setArguments({"file://" + list});
    pending = std::make_unique<QDBusPendingCall>(client->asyncCall(open));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.isEmpty() && boxes == 0; }, 30000));
    EXPECT_TRUE(answeredFirst);
    EXPECT_EQ(pending->reply().type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(deepest, 1);
    // The file accepted during the box opens once the box is closed.
    EXPECT_TRUE(QTest::qWaitFor([&] { return media->opened.value(0) == dir + "/deux.mp3"; }, 30000));
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(MprisTest, SeekAndSetPositionMoveInTheOpenTrackAndAreSeen) {
    const QString dir = makeNumberedFolder("m", 2);
    start(dir, 0);
    ASSERT_TRUE(form->StartMpris(*service));
    const auto seconds = [](double s) { return qlonglong(s * 1e6); };
    // Nothing open: nothing moves.
    EXPECT_FALSE(property("CanSeek").toBool());
    player("Seek", {seconds(5)});
    EXPECT_FALSE(media->log.contains("position"));

    player("PlayPause");
    media->completeOpen(100);
    EXPECT_TRUE(seen("CanSeek", true));
    EXPECT_TRUE(property("CanSeek").toBool());
    const QString track = asMap(property("Metadata")).value("mpris:trackid").value<QDBusObjectPath>().path();
    const QDBusObjectPath current(track), other("/org/tunabel/track/ailleurs");
    const struct {
        const char *method;
        QVariantList args;
        double position; // where the track is afterwards
    } steps[] = {
        {"Seek", {seconds(10)}, 10},
        {"Seek", {seconds(-2.5)}, 7.5},
        {"Seek", {seconds(-60)}, 0},    // clamped to the start
        {"Seek", {seconds(1000)}, 100}, // and to the end
        {"SetPosition", {QVariant::fromValue(current), seconds(42)}, 42},
        {"SetPosition", {QVariant::fromValue(other), seconds(5)}, 42}, // not the current track
        {"SetPosition", {QVariant::fromValue(current), seconds(-1)}, 0},
        {"SetPosition", {QVariant::fromValue(current), seconds(500)}, 100},
    };
    qsizetype seeks = 0;
    for (const auto &step : steps) {
        const bool moves = step.position != media->CurrentPosition();
        EXPECT_EQ(player(step.method, step.args).type(), QDBusMessage::ReplyMessage);
        EXPECT_DOUBLE_EQ(media->CurrentPosition(), step.position) << step.method;
        if (moves) {
            // Seeked carries the new position to the clients.
            EXPECT_TRUE(QTest::qWaitFor([&] { return listener.seeks.size() > seeks; }, 30000));
            EXPECT_EQ(listener.seeks.value(seeks), seconds(step.position));
            seeks = listener.seeks.size();
        }
    }
    EXPECT_EQ(property("Position").toLongLong(), seconds(100));

    player("Pause"); // paused, the track can still be moved in
    player("Seek", {seconds(-30)});
    EXPECT_DOUBLE_EQ(media->CurrentPosition(), 70);
    player("Stop");
    EXPECT_TRUE(seen("CanSeek", false));
    const qsizetype moved = media->log.count("position");
    player("Seek", {seconds(5)});
    EXPECT_EQ(media->log.count("position"), moved);
}

#include "test_mpris.moc"
