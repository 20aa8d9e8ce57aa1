// One player per user: the channel later starts hand their files over by.
#include "platform/desktop/handover.h"
#include "platform/desktop/handoverparser.h"
#include "platform/desktop/launcher.h"
#include "platform/filename.h"
#include "support/rawsocket.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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
    return RawClientTo(handover::SocketPath());
}

// True once something listens on the path, within the time given.
bool listening(const std::string &path, int ms) {
    return QTest::qWaitFor(
        [&] {
            const int fd = RawClientTo(path);
            return fd >= 0 && close(fd) == 0;
        },
        ms);
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
    // A whole batch from a client gone before its receipt could go out: it
    // would count it as lost and send it again, so it is not taken.
    const int gone = rawClient();
    const std::string whole = frame({"[/gone]"});
    ASSERT_EQ(send(gone, whole.data(), whole.size(), MSG_NOSIGNAL), ssize_t(whole.size()));
    close(gone);
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
    std::thread client([&] { sent = handover::SendBatch(fd, {bytes}, 20000) == handover::Delivery::Taken; });
    ASSERT_TRUE(received(3));
    client.join();
    close(fd);
    EXPECT_TRUE(sent);
    EXPECT_EQ(batches[2], QStringList({DecodeFileName(QByteArray::fromStdString(bytes))}));
    EXPECT_EQ(EncodeFileName(batches[2][0]).toStdString(), bytes);
}

// Starts `starts` probes at once, each with two requests; as `user` when
// not 0. Returns the exit codes and the receiver's lines, its "primary"
// and "notice" lines checked and taken out.
struct StartsRun {
    std::vector<int> exits;
    QStringList batches;
    int primaries = 0;
    QStringList notices;
};

StartsRun startAtOnce(int starts, const QString &out, const QProcessEnvironment &env, uid_t user = 0) {
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int i = 0; i < starts; ++i) {
        procs.push_back(std::make_unique<QProcess>());
        procs.back()->setProcessEnvironment(env);
        if (user)
            procs.back()->setChildProcessModifier([user] {
                if (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)
                    _exit(9);
            });
        procs.back()->start(
            PROBE_BIN, {out, QString::number(starts), QString("/s/%1-a").arg(i), QString("/s/%1-b").arg(i)});
    }
    StartsRun run;
    for (auto &p : procs) {
        if (!p->waitForFinished(60000))
            p->kill();
        p->waitForFinished();
        run.exits.push_back(p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1);
    }
    QFile f(out);
    if (f.open(QIODevice::ReadOnly))
        for (const QString &line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
            if (line == "primary")
                ++run.primaries;
            else if (line.startsWith("notice "))
                run.notices << line;
            else
                run.batches << line;
        }
    return run;
}

// Each start's requests arrive whole and in their order, from every start.
void expectEveryStartHeard(const StartsRun &run, int starts) {
    EXPECT_EQ(run.exits, std::vector<int>(size_t(starts), 0));
    EXPECT_EQ(run.primaries, 1);
    ASSERT_EQ(run.batches.size(), starts);
    QSet<QString> seen;
    for (const QString &line : run.batches) {
        const QStringList parts = line.split('|');
        ASSERT_EQ(parts.size(), 2) << line.toStdString();
        const QString n = parts[0].mid(4).chopped(3);
        EXPECT_EQ(parts, QStringList({"[/s/" + n + "-a]", "[/s/" + n + "-b]"}));
        seen << n;
    }
    EXPECT_EQ(seen.size(), starts);
}

// A private runtime folder for one test's starts.
QProcessEnvironment runtimeIn(const QString &folder) {
    QDir().mkpath(folder);
    chmod(QFile::encodeName(folder).constData(), 0700);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", folder);
    return env;
}

TEST(HandOver, TwentyStartsAtOnceEndAsOnePlayer) {
    QTemporaryDir dir;
    const StartsRun run = startAtOnce(20, dir.path() + "/heard", QProcessEnvironment::systemEnvironment());
    expectEveryStartHeard(run, 20);
    EXPECT_TRUE(run.notices.isEmpty());
}

// Something other than the player's socket where it is looked for: the starts
// neither give up nor talk to it, they end as one player that says where it
// listens instead; and the obstacle is left where it was.
TEST(HandOver, StartsGoAroundWhatSitsOnTheSocketPath) {
    enum Obstacle { Folder, LinkToAListener, OtherUsersListener, OtherUsersTmpFolder };
    for (const Obstacle obstacle : {Folder, LinkToAListener, OtherUsersListener, OtherUsersTmpFolder}) {
        SCOPED_TRACE(obstacle);
        if ((obstacle == OtherUsersListener || obstacle == OtherUsersTmpFolder) && getuid() != 0)
            continue; // another user's doing needs root to stage
        QTemporaryDir dir;
        chmod(QFile::encodeName(dir.path()).constData(), 0711);
        QProcessEnvironment env = runtimeIn(dir.path() + "/run");
        const std::string usual = handover::SocketPaths((dir.path() + "/run").toStdString())[0];
        QString out = dir.path() + "/heard";
        uid_t user = 0;
        int decoy = -1;
        pid_t stranger = -1;
        std::string tmpFolder;
        if (obstacle == Folder) {
            ASSERT_EQ(mkdir(usual.c_str(), 0700), 0);
        } else if (obstacle == LinkToAListener || obstacle == OtherUsersListener) {
            const std::string at =
                obstacle == LinkToAListener ? (dir.path() + "/decoy").toStdString() : usual;
            decoy = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::strncpy(addr.sun_path, at.c_str(), sizeof addr.sun_path - 1);
            ASSERT_EQ(bind(decoy, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
            if (obstacle == LinkToAListener) {
                ASSERT_EQ(listen(decoy, 16), 0);
                ASSERT_EQ(symlink(at.c_str(), usual.c_str()), 0);
            } else {
                // The listener's user is the one who called listen().
                stranger = fork();
                if (stranger == 0) {
                    if (setuid(65534) == 0 && listen(decoy, 16) == 0)
                        for (;;)
                            pause();
                    _exit(1);
                }
                close(decoy);
                decoy = -1;
                ASSERT_TRUE(listening(usual, 10000));
            }
        } else {
            // No runtime folder, and our name in /tmp taken by someone else.
            user = 61000 + uid_t(getpid() % 1000);
            tmpFolder = "/tmp/tunabel-" + std::to_string(user);
            ASSERT_EQ(mkdir(tmpFolder.c_str(), 0700), 0) << tmpFolder;
            env.remove("XDG_RUNTIME_DIR");
            QDir().mkpath(dir.path() + "/home");
            ASSERT_EQ(chown(QFile::encodeName(dir.path() + "/home").constData(), user, user), 0);
            env.insert("HOME", dir.path() + "/home");
            out = dir.path() + "/home/heard";
        }

        const StartsRun run = startAtOnce(4, out, env, user);
        expectEveryStartHeard(run, 4);
        EXPECT_EQ(run.notices.size(), 1);
        if (decoy >= 0) {
            EXPECT_EQ(accept(decoy, nullptr, nullptr), -1); // no one came
            close(decoy);
        }
        if (stranger > 0) {
            kill(stranger, SIGKILL);
            waitpid(stranger, nullptr, 0);
        }
        struct stat st;
        if (!tmpFolder.empty()) {
            EXPECT_TRUE(stat(tmpFolder.c_str(), &st) == 0 && st.st_uid == 0);
            rmdir(tmpFolder.c_str());
        } else {
            EXPECT_EQ(lstat(usual.c_str(), &st), 0);
            EXPECT_EQ(S_ISDIR(st.st_mode), obstacle == Folder);
        }
    }
}

// Idle connections by the hundred against a receiver under a low, hard limit
// of descriptors, then its socket file removed: later starts still reach it.
// Under the higher limit it keeps descriptors to spare; under the lower one
// it runs out of them (inherited ones count too) and must still take the
// next start.
TEST(HandOver, ChannelOutlivesADescriptorFloodAndItsSocketGoing) {
    for (const auto &[limit, mostHeld] : {std::pair(128, 96), std::pair(40, 0)}) {
        SCOPED_TRACE(limit);
        QTemporaryDir dir;
        QProcessEnvironment env = runtimeIn(dir.path() + "/run");
        const std::string usual = handover::SocketPaths((dir.path() + "/run").toStdString())[0];
        const QString out = dir.path() + "/heard";
        QProcess receiver;
        QProcessEnvironment limited = env;
        limited.insert("PROBE_NOFILE", QString::number(limit));
        receiver.setProcessEnvironment(limited);
        receiver.start(PROBE_BIN, {out, "3", "/r"});
        ASSERT_TRUE(listening(usual, 30000));
        std::vector<int> flood; // as many as connect while the receiver takes them
        [[maybe_unused]] const bool all = QTest::qWaitFor(
            [&] {
                for (int fd; flood.size() < 300 && (fd = RawClientTo(usual)) >= 0;)
                    flood.push_back(fd);
                return flood.size() >= 300;
            },
            20000);
        QTest::qWait(200);
        const int held = OpenDescriptors(receiver.processId());
        if (mostHeld) {
            EXPECT_LE(held, mostHeld) << flood.size() << " connected";
        }

        const auto start = [&](const QString &request) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(PROBE_BIN, {out, "3", request});
            if (!p.waitForFinished(30000))
                p.kill();
            p.waitForFinished();
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        EXPECT_EQ(start("/during"), 0);
        for (const int fd : flood)
            close(fd);
        // As a cleaner of old temporary files would.
        ASSERT_EQ(unlink(usual.c_str()), 0);
        EXPECT_TRUE(listening(usual, 30000));
        EXPECT_EQ(start("/after"), 0);
        ASSERT_TRUE(receiver.waitForFinished(30000));
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(f.readAll()), "primary\n[/r]\n[/during]\n[/after]\n");
    }
}

// A connection that ends before its receipt was not taken: the batch goes
// again, a few times, and arrives once.
TEST(HandOver, ABatchResetBeforeItsReceiptIsSentAgain) {
    const std::string path = handover::SocketPaths(handover::RuntimeFolder())[0];
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    unlink(path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    QList<QStringList> received;
    std::thread player([&] {
        // Drops the first two whole batches without a receipt.
        for (int i = 0; i < 3; ++i) {
            const int fd = accept(listener, nullptr, nullptr);
            if (fd < 0)
                return;
            handover::RequestParser parser;
            char buf[256];
            ssize_t n;
            while (parser.status() == handover::RequestParser::Status::NeedMore &&
                   (n = read(fd, buf, sizeof buf)) > 0)
                parser.feed(buf, n);
            received << parser.requests();
            if (i == 2) {
                EXPECT_EQ(write(fd, &handover::kReceipt, 1), 1);
            }
            close(fd);
        }
    });
    int lock = -1;
    EXPECT_EQ(handover::ClaimOrForward({"[/r]"}, &lock), handover::Claim::Forwarded);
    shutdown(listener, SHUT_RDWR); // a fault above must not leave it waiting
    player.join();
    close(listener);
    unlink(path.c_str());
    EXPECT_EQ(received, QList<QStringList>(3, {"[/r]"}));
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
