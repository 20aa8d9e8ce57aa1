// One player per user: the channel later starts hand their files over by.
#include "platform/filename.h"
#include "platform/handover.h"
#include "platform/handoverparser.h"
#include "platform/launcher.h"

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

// The batch parser, fed each frame whole, a byte at a time and in uneven
// pieces: the same verdict and the same requests whatever the pieces.
TEST(HandOver, ParserTakesWholeBatchesAndRefusesTheRest) {
    using S = handover::RequestParser::Status;
    const std::string wide(handover::kMaxRequestBytes, 'w');
    std::string full = frame({}, handover::kMaxRequests);
    for (unsigned i = 0; i < handover::kMaxRequests; ++i)
        full += std::string("\0\0\0\3[a]", 7);
    std::string overTotal = frame({}, handover::kMaxTotalBytes / handover::kMaxRequestBytes + 1);
    for (unsigned i = 0; i <= handover::kMaxTotalBytes / handover::kMaxRequestBytes; ++i)
        overTotal += frame({wide}).substr(8);
    const struct {
        std::string bytes;
        S status;
        QStringList requests;
    } cases[] = {
        {frame({}), S::Done, {}},
        {frame({"[/a b]", "[/c]"}), S::Done, {"[/a b]", "[/c]"}},
        {frame({"[/caf\xe9]"}), S::Done, {DecodeFileName("[/caf\xe9]")}},
        {frame({wide}), S::Done, {QString::fromStdString(wide)}},
        {full, S::Done, QStringList(qsizetype(handover::kMaxRequests), "[a]")},
        {frame({"[/a]", "[/b]"}).substr(0, 20), S::NeedMore, {}},
        {"TNB", S::NeedMore, {}},
        {"TNB2" + frame({}).substr(4), S::Bad, {}},
        {frame({}, handover::kMaxRequests + 1), S::Bad, {}},
        {frame({"[/a]"}) + "x", S::Bad, {}},
        {frame({std::string("[/a\0b]", 6)}), S::Bad, {}},
        {frame({wide + "w"}), S::Bad, {}},
        {overTotal, S::Bad, {}},
    };
    for (const auto &c : cases) {
        for (const size_t step : {c.bytes.size(), size_t(1), size_t(7), size_t(4096)}) {
            handover::RequestParser parser;
            S status = S::NeedMore;
            for (size_t at = 0; at < c.bytes.size(); at += step)
                status = parser.feed(c.bytes.data() + at, qsizetype(std::min(step, c.bytes.size() - at)));
            SCOPED_TRACE(c.bytes.substr(0, 40) + " in pieces of " + std::to_string(step));
            EXPECT_EQ(status, c.status);
            if (status == S::Done) {
                EXPECT_EQ(parser.requests(), c.requests);
                EXPECT_EQ(parser.feed("x", 1), S::Bad); // nothing may follow a batch
            }
        }
    }
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

// Tools the player starts get no descriptor of its own, only 0, 1 and 2; and
// a program that cannot start is still reported.
TEST(HandOver, StartedProgramsInheritOnlyTheStandardDescriptors) {
    int leaks[2], pair[2];
    ASSERT_EQ(pipe(leaks), 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    QTemporaryDir dir;
    const QString out = dir.path() + "/fds";
    ProgramLauncher launcher;
    ASSERT_TRUE(launcher.StartDetached("/bin/sh",
                                       {"-c", R"(exec > "$0.tmp"; ls /proc/$$/fd; mv "$0.tmp" "$0")", out}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(out); }, 30000));
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts), QStringList({"0", "1", "2"}));
    EXPECT_FALSE(launcher.StartDetached(dir.path() + "/missing", {}));
    for (const int fd : {leaks[0], leaks[1], pair[0], pair[1]})
        close(fd);
}
