// One player per user: the channel later starts hand their files over by.
#include "platform/filename.h"
#include "platform/handover.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

sockaddr_un channelAddress() {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, handover::SocketPath().c_str(), sizeof addr.sun_path - 1);
    return addr;
}

int rawClient() {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = channelAddress();
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string frame(std::initializer_list<std::string> requests, unsigned claimedCount = ~0u) {
    std::string out = "TNB1";
    auto u32 = [&](unsigned v) {
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(char(v >> s));
    };
    u32(claimedCount == ~0u ? unsigned(requests.size()) : claimedCount);
    for (const std::string &r : requests) {
        u32(unsigned(r.size()));
        out += r;
    }
    return out;
}

// Runs the program while this process goes on receiving.
int runTunabel(const QStringList &args, const QString &cwd) {
    QProcess p;
    p.setWorkingDirectory(cwd);
    p.start(TUNABEL_BIN, args);
    if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 30000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

TEST(HandOver, ArgumentsBecomeAbsoluteWrappedPaths) {
    EXPECT_EQ(handover::WrapArgument("a b.wav", "/home/u/Musique"), "[/home/u/Musique/a b.wav]");
    EXPECT_EQ(handover::WrapArgument("x.mp3", "/"), "[/x.mp3]");
    EXPECT_EQ(handover::WrapArgument("/abs/x.mp3", "/elsewhere"), "[/abs/x.mp3]");
    EXPECT_EQ(handover::WrapArgument("file:///m/un%20deux%25.mp3", "/x"), "[/m/un deux%.mp3]");
    EXPECT_EQ(handover::WrapArgument("FILE://localhost/m/%C3%A9t%C3%A9.wav", "/x"), "[/m/été.wav]");
    EXPECT_EQ(handover::WrapArgument("/m/\xff\xfe.mp3", "/x"), "[/m/\xff\xfe.mp3]"); // bytes kept
    for (const char *bad : {"http://host/a.mp3", "file://other/a.mp3", "file:///a%zz.mp3", "file:///a%00.mp3",
                            "file:///a%4", ""})
        EXPECT_EQ(handover::WrapArgument(bad, "/x"), "") << bad;
}

// Over a crashed player's socket, hostile clients first: the channel drops
// what is malformed and still takes later starts' files, byte names intact.
TEST(HandOver, SecondStartsForwardAndExitWhateverCameBefore) {
    // A socket file nobody listens on, as a killed player leaves it.
    ASSERT_FALSE(handover::SocketPath().empty());
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = channelAddress();
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(stale);
    // The receiving end, as the player holds it.
    int lock = -1;
    ASSERT_EQ(handover::ClaimOrForward({}, &lock), handover::Claim::Primary);
    handover::Server server;
    ASSERT_TRUE(server.listen(lock));
    QList<QStringList> batches;
    QObject::connect(&server, &handover::Server::batch, [&](const QStringList &b) { batches << b; });
    const auto received = [&](qsizetype n) {
        return QTest::qWaitFor([&] { return batches.size() >= n; }, 30000);
    };
    struct stat st;
    ASSERT_EQ(stat(handover::SocketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u); // the user's alone

    const std::string bad[] = {
        "GET / HTTP/1.1\r\n\r\n",
        frame({}, 5000),                                         // too many requests
        frame({"[/a]"}) + "trailing bytes",                      // more than it said
        frame({std::string("[/a\0b]", 6)}),                      // binary
        frame({std::string(20000, 'x')}),                        // too long
        std::string("TNB1\x00\x00\x00\x01\x7f\xff\xff\xff", 12), // huge length
    };
    for (const std::string &b : bad) {
        const int fd = rawClient();
        ASSERT_GE(fd, 0);
        ASSERT_EQ(send(fd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
        QTest::qWait(50);
        close(fd);
    }
    const int silent = rawClient(); // connects and says nothing
    ASSERT_GE(silent, 0);
    QTest::qWait(100);
    EXPECT_TRUE(batches.isEmpty());

    QTemporaryDir elsewhere;
    QDir().mkpath(elsewhere.path() + "/sous dossier");
    EXPECT_EQ(runTunabel({"sous dossier/a b.wav", "file:///m/x%20y.mp3"}, elsewhere.path()), 0);
    ASSERT_TRUE(received(1));
    EXPECT_EQ(batches[0], QStringList({"[" + elsewhere.path() + "/sous dossier/a b.wav]", "[/m/x y.mp3]"}));
    // Without files: only the window is brought back.
    EXPECT_EQ(runTunabel({}, elsewhere.path()), 0);
    ASSERT_TRUE(received(2));
    EXPECT_TRUE(batches[1].isEmpty());
    close(silent);

    // A name that is not UTF-8. The client blocks on the receipt: the receiver must run meanwhile.
    const std::string bytes = "[/m/caf\xe9.mp3]";
    const int fd = rawClient();
    ASSERT_GE(fd, 0);
    bool sent = false;
    std::thread client([&] { sent = handover::SendBatch(fd, {bytes}, 20000); });
    ASSERT_TRUE(received(3));
    client.join();
    close(fd);
    EXPECT_TRUE(sent);
    EXPECT_EQ(batches[2], QStringList({DecodeFileName(QByteArray::fromStdString(bytes))}));
    EXPECT_EQ(EncodeFileName(batches[2][0]).toStdString(), bytes);
}

TEST(HandOver, TwentyStartsAtOnceEndAsOnePlayer) {
    QTemporaryDir dir;
    const QString out = dir.path() + "/heard";
    const int starts = 20;
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int i = 0; i < starts; ++i) {
        procs.push_back(std::make_unique<QProcess>());
        procs.back()->start(
            PROBE_BIN, {out, QString::number(starts), QString("/s/%1-a").arg(i), QString("/s/%1-b").arg(i)});
    }
    for (auto &p : procs) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0);
    }
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.count("primary"), 1);
    lines.removeAll("primary");
    ASSERT_EQ(lines.size(), starts);
    QSet<QString> seen;
    for (const QString &line : lines) {
        // Each start's requests arrive whole and in their order.
        const QStringList parts = line.split('|');
        ASSERT_EQ(parts.size(), 2) << line.toStdString();
        const QString n = parts[0].mid(4).chopped(3);
        EXPECT_EQ(parts, QStringList({"[/s/" + n + "-a]", "[/s/" + n + "-b]"}));
        seen << n;
    }
    EXPECT_EQ(seen.size(), starts);
}
