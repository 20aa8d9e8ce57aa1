// The desktop's media control interface, on a private session bus.
#include "support/playerfixture.h"

#include "platform/mpris.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

// What a client of the bus sees change.
class Listener : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes;
public slots:
    void changed(const QString &, const QVariantMap &props, const QStringList &) { changes << props; }
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
    QDBusMessage player(const QString &method) { return call("org.mpris.MediaPlayer2.Player", method); }
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

    // Raise and OpenUri go through the hand-over; only local files are taken.
    form->ReduceToTray();
    call("org.mpris.MediaPlayer2", "Raise");
    EXPECT_TRUE(form->isVisible());
    call("org.mpris.MediaPlayer2.Player", "OpenUri", {"file://" + other + "/deux.mp3"});
    EXPECT_EQ(media->opened.last(), other + "/deux.mp3");
    EXPECT_TRUE(messages.isEmpty());
    call("org.mpris.MediaPlayer2.Player", "OpenUri", {"http://ailleurs/x.mp3"});
    EXPECT_EQ(messages.size(), 1);
}

#include "test_mpris.moc"
