// The hand-over channel under attack, counted rather than timed:
//   bench_handover fds PLAYER TUNABEL DIR
//     the player started under a limit of 1,024 descriptors, 1,100 idle
//     connections held to it: the descriptors it holds meanwhile, and whether
//     a later start still hands over (and is not a second player), during
//     the flood and after it.
//   bench_handover flood [threads] [batches] [PLAYER]
//     batches (default 1,000) handed over from threads (default 20) at once
//     to a receiver in this process (how many failed, how many arrived
//     twice), or to the player: how many failed.
#include "platform/desktop/handover.h"
#include "support/rawsocket.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QtCore/qtestsupport_core.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <map>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void raiseOwnLimit() {
    rlimit r{};
    getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
}

// A second start with a file: "forwarded" when it handed over and exited,
// "second player" when it is still running after 15 s (it became a player).
const char *secondStart(const QString &tunabel, const QString &file) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(tunabel, {file});
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished();
        return "second-player";
    }
    return p.exitCode() == 0 ? "forwarded" : "failed";
}

// Starts the player under `ulimit -n 1024` and waits until it listens.
bool startPlayer(QProcess &p, const QString &player, const QString &log) {
    p.setStandardOutputFile(log);
    p.setStandardErrorFile(log, QIODevice::Append);
    p.setChildProcessModifier([] {
        const rlimit r{1024, 1024};
        setrlimit(RLIMIT_NOFILE, &r);
    });
    p.start(player, {});
    if (QTest::qWaitFor(
            [&] {
                const int fd = RawClientTo(handover::SocketPath());
                if (fd >= 0)
                    close(fd);
                return fd >= 0;
            },
            30000))
        return true;
    std::fprintf(stderr, "the player did not listen\n");
    return false;
}

int fds(const QString &player, const QString &tunabel, const QString &dir) {
    raiseOwnLimit();
    QProcess p;
    if (!startPlayer(p, player, dir + "/player.log"))
        return 1;
    QTest::qWait(2000);
    const int idle = OpenDescriptors(p.processId());
    std::vector<int> flood;
    const qint64 floodEnd = QDateTime::currentMSecsSinceEpoch() + 20000;
    while (flood.size() < 1100 && QDateTime::currentMSecsSinceEpoch() < floodEnd) {
        const int fd = RawClientTo(handover::SocketPath());
        if (fd >= 0)
            flood.push_back(fd);
        else
            QTest::qWait(5); // a full queue (or no listener): let the player take some
    }
    QTest::qWait(2000);
    const int during = OpenDescriptors(p.processId());
    const char *whileHeld = secondStart(tunabel, dir + "/a.wav");
    for (int fd : flood)
        close(fd);
    QTest::qWait(2000);
    const int after = OpenDescriptors(p.processId());
    const char *afterwards = secondStart(tunabel, dir + "/b.wav");
    std::printf("bench handover_fds idle=%d flood_connected=%zu during=%d after=%d handover_during=%s "
                "handover_after=%s %s\n",
                idle, flood.size(), during, after, whileHeld, afterwards,
                std::strcmp(whileHeld, "forwarded") == 0 && std::strcmp(afterwards, "forwarded") == 0
                    ? "ok"
                    : "over");
    std::fflush(stdout);
    p.terminate();
    if (!p.waitForFinished(10000))
        p.kill();
    p.waitForFinished();
    return 0;
}

int flood(int threads, int batches, const QString &player) {
    raiseOwnLimit();
    QProcess p;
    handover::Server server;
    if (!player.isEmpty()) {
        if (!startPlayer(p, player, QProcess::nullDevice()))
            return 1;
    } else {
        int lock = -1;
        if (handover::ClaimOrForward({}, &lock) != handover::Claim::Primary || !server.listen(lock))
            return 1;
    }
    std::map<QString, int> heard;
    QObject::connect(&server, &handover::Server::batch, [&](const QStringList &b) {
        for (const QString &r : b)
            ++heard[r];
    });
    std::atomic<int> failed{0}, next{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < threads; ++t)
        clients.emplace_back([&] {
            for (int i; (i = next++) < batches;) {
                int l = -1;
                if (handover::ClaimOrForward({"[/f/" + std::to_string(i) + "]"}, &l) !=
                    handover::Claim::Forwarded) {
                    ++failed;
                    if (l >= 0)
                        close(l);
                }
            }
        });
    std::atomic<bool> done{false};
    std::thread joiner([&] {
        for (std::thread &c : clients)
            c.join();
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done.load(); }, 300000))
        std::fprintf(stderr, "the clients did not finish\n");
    joiner.join();
    QCoreApplication::processEvents();
    int twice = 0;
    for (const auto &[request, n] : heard)
        twice += n > 1;
    std::printf("bench handover_flood%s batches=%d threads=%d failed=%d arrived=%s twice=%d %s\n",
                player.isEmpty() ? "" : "_player", batches, threads, failed.load(),
                player.isEmpty() ? std::to_string(heard.size()).c_str() : "-", twice,
                failed == 0 && twice == 0 ? "ok" : "over");
    std::fflush(stdout);
    if (!player.isEmpty()) {
        p.terminate();
        if (!p.waitForFinished(10000))
            p.kill();
        p.waitForFinished();
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? argv[1] : "";
    if (mode == "fds" && argc >= 5)
        return fds(argv[2], argv[3], argv[4]);
    if (mode == "flood")
        return flood(argc > 2 ? std::atoi(argv[2]) : 20, argc > 3 ? std::atoi(argv[3]) : 1000,
                     argc > 4 ? argv[4] : "");
    std::fprintf(stderr, "bench_handover fds PLAYER TUNABEL DIR | flood [threads] [batches]\n");
    return 2;
}
