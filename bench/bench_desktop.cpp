// Desktop integration, as the user feels it: a file handed to the running
// player by a second start, a first start with a file, a media-key PlayPause
// over the session bus, and the tray's left click. Each figure beside its
// floor, measured in the same run.
//   bench_desktop TUNABEL_BIN DIR [runs]
#include "benchutil.h"
#include "qtbench.h"

#include "platform/desktop/handover.h"
#include "platform/desktop/mpris.h"
#include "platform/engine/gstmediacontrol.h"
#include "player/form1.h"
#include "support/mediafiles.h"
#include "windows/form3.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include <cstring>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

GstMediaControl *silentControl() {
    GstMediaOptions o;
    o.audioSink = "fakesink";
    o.videoSink = "fakesink";
    return new GstMediaControl(nullptr, o);
}

void quiet(Form1 *f) {
    f->MsgBox = [](const QString &text, QMessageBox::Icon, const QString &, QMessageBox::StandardButtons) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        return QMessageBox::Ok;
    };
}

// A figure with its floor, and an absolute bound too.
void reportBounded(const std::string &name, double med, double floor, double ratioTarget, double boundMs) {
    const double ratio = floor > 0 ? med / floor : 0;
    const bool ok = med <= boundMs && (ratioTarget <= 0 || (floor > 0 && ratio <= ratioTarget));
    char target[64];
    if (ratioTarget > 0)
        std::snprintf(target, sizeof target, "%.2f,<=%.0fms", ratioTarget, boundMs);
    else
        std::snprintf(target, sizeof target, "<=%.0fms", boundMs);
    std::printf("bench %s median=%.2fms floor=%.2fms ratio=%.2f target=%s %s\n", name.c_str(), med, floor,
                ratio, target, ok ? "ok" : "over");
    std::fflush(stdout);
}

// Spawns a program and returns its pid (-1 on failure).
pid_t spawn(const std::string &program, const std::vector<std::string> &args) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int reap(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- first start with a file: the child side, as src/main.cpp starts

int childMain(int argc, char **argv, const char *file) {
    const bool verbose = std::getenv("BENCH_VERBOSE");
    const long long t0 = bench::nowNs();
    auto mark = [&](const char *what) {
        if (verbose)
            std::fprintf(stderr, "  %-12s %.1fms\n", what, double(bench::nowNs() - t0) / 1e6);
    };
    std::vector<std::string> requests;
    if (file[0])
        requests.push_back(handover::WrapArgument(file, "/"));
    int lock = -1;
    if (handover::ClaimOrForward(requests, &lock) != handover::Claim::Primary)
        return 3;
    StartMediaEngine();
    if (verbose)
        std::thread([&] {
            gstengine::waitReady();
            mark("engine");
        }).detach();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tunabel");
    handover::Server server;
    server.listen(lock);
    Form3::MakeMainWindow = [] { return new Form1(silentControl()); };
    mark("app");
    App::form3 = new Form3;
    App::form3->Form_Load();
    mark("loaded");
    Form1 *f = App::form1;
    if (!f)
        return 1;
    quiet(f);
    auto done = [](const char *what) {
        std::printf("%s %lld\n", what, bench::nowNs());
        std::fflush(stdout);
        _exit(0);
    };
    if (requests.empty()) {
        // Start-up alone: to the main window exposed.
        QTimer *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, [f, done] {
            if (f->windowHandle() && f->windowHandle()->isExposed())
                done("shown");
        });
        poll->start(0);
    } else {
        QObject::connect(f->ActiveMovie1, &MediaControl::OpenComplete, [&] { mark("opened"); });
        QObject::connect(f->ActiveMovie1, &MediaControl::StateChange, [done](int, int s) {
            if (s == 2)
                done("running");
        });
        mark("handover");
        f->HandOver({QString::fromStdString(requests[0])});
        mark("handed");
    }
    QTimer::singleShot(20000, [] { _exit(4); });
    return app.exec();
}

// Milliseconds from spawn to the child's stamp; -1 on failure.
double runChild(const std::string &self, const std::string &file) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char *> argv = {const_cast<char *>(self.c_str()), const_cast<char *>("--child"),
                                const_cast<char *>(file.c_str()), nullptr};
    const long long t0 = bench::nowNs();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return -1;
    }
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, size_t(n));
    close(fds[0]);
    if (reap(pid) != 0)
        return -1;
    const size_t space = text.find(' ');
    return space == std::string::npos ? -1 : double(std::atoll(text.c_str() + space + 1) - t0) / 1e6;
}

// The media control alone: open to running.
double openToRunning(GstMediaControl &ctl, const QString &path) {
    ctl.setFileName("");
    bool running = false;
    auto c1 = QObject::connect(&ctl, &MediaControl::OpenComplete, [&] { ctl.Run(); });
    auto c2 = QObject::connect(&ctl, &MediaControl::StateChange, [&](int, int s) { running |= s == 2; });
    const double t0 = bench::nowMs();
    ctl.setFileName(path);
    const bool ok = waitFor([&] { return running; }, 5000, 1);
    const double ms = bench::nowMs() - t0;
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    ctl.setFileName("");
    return ok ? ms : -1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return childMain(argc, argv, argv[2]);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s TUNABEL_BIN DIR [runs]\n", argv[0]);
        return 2;
    }
    const std::string tunabel = argv[1];
    const QString dir = QString::fromLocal8Bit(argv[2]);
    const int runs = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 10;
    const std::string self = std::filesystem::canonical("/proc/self/exe");

    StartMediaEngine();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tunabel");
    QDir().mkpath(dir);
    const testmedia::Tone twenty{20.0, 44100, 2, 440.0, 0.5};
    const QString wav = testmedia::MakeWav(dir, "tone.wav", twenty);
    const QString mp3 = testmedia::MakeMp3(dir, "tone.mp3", twenty, testmedia::Mp3Kind::Cbr192);
    if (wav.isEmpty() || mp3.isEmpty())
        return 2;
    int status = 0;

    // 1. No player running: `tunabel FILE` to audio running, against the
    // warm start-up and the control's own open to running.
    {
        GstMediaControl *ctl = silentControl();
        for (const QString &path : {wav, mp3}) {
            std::vector<double> cold, startup, open;
            for (int i = 0; i <= runs; ++i) {
                const double c = runChild(self, path.toStdString());
                const double s = runChild(self, "");
                const double o = openToRunning(*ctl, path);
                if (c < 0 || s < 0 || o < 0) {
                    status = 1;
                    break;
                }
                if (i == 0)
                    continue; // warm-up
                cold.push_back(c);
                startup.push_back(s);
                open.push_back(o);
            }
            const std::string kind = QFileInfo(path).suffix().toStdString();
            bench::report("handover_cold_" + kind, bench::median(cold),
                          bench::median(startup) + bench::median(open), 1.2, "ms", 1);
        }
        delete ctl;
    }

    // The running player of the next figures, as src/main.cpp builds it.
    int lock = -1;
    if (handover::ClaimOrForward({}, &lock) != handover::Claim::Primary)
        return 2;
    handover::Server server;
    if (!server.listen(lock))
        return 2;
    GstMediaControl *ctl = silentControl();
    auto *f = new Form1(ctl);
    quiet(f);
    App::form1 = f;
    f->Form_Load();
    f->Dir1->setPath(dir);
    QObject::connect(&server, &handover::Server::batch, f, &Form1::HandOver);
    int state = 0;
    QObject::connect(ctl, &MediaControl::StateChange, [&](int, int s) { state = s; });

    // 2. A running idle player: `tunabel FILE` to the control running,
    // against a bare process start plus the player's own click to running.
    for (const QString &path : {wav, mp3}) {
        std::vector<double> ours, bare, click;
        const int index = f->File1->List(0) == QFileInfo(path).fileName() ? 0 : 1;
        for (int i = 0; i <= runs; ++i) {
            f->FlatBar1_Click(2);
            waitFor([] { return false; }, 30, 1);
            const double t0 = bench::nowMs();
            const pid_t pid = spawn(tunabel, {path.toStdString()});
            const bool ok = pid > 0 && waitFor([&] { return state == 2; }, 5000, 1);
            const double ms = bench::nowMs() - t0;
            if (pid <= 0 || reap(pid) != 0 || !ok) {
                status = 1;
                break;
            }
            // A Qt-less process, started and reaped the same way.
            const double b0 = bench::nowMs();
            const pid_t t = spawn("/bin/true", {});
            reap(t);
            const double b = bench::nowMs() - b0;
            // The click in the file list.
            f->FlatBar1_Click(2);
            waitFor([] { return false; }, 30, 1);
            f->File1->setListIndex(index);
            const double c0 = bench::nowMs();
            f->File1_KeyUp(0, 0);
            if (!waitFor([&] { return state == 2; }, 5000, 1)) {
                status = 1;
                break;
            }
            const double c = bench::nowMs() - c0;
            if (i == 0)
                continue;
            ours.push_back(ms);
            bare.push_back(b);
            click.push_back(c);
        }
        const std::string kind = QFileInfo(path).suffix().toStdString();
        reportBounded("handover_running_" + kind, bench::median(ours),
                      bench::median(bare) + bench::median(click), 1.5, 30);
    }

    // 3. PlayPause from a client of the session bus to the change it sees,
    // against a plain round trip to the same service.
    {
        QProcess daemon;
        daemon.start(QStandardPaths::findExecutable("dbus-daemon"),
                     {"--session", "--nofork", "--print-address=1"});
        QString address;
        if (daemon.waitForStarted(10000) && waitFor([&] { return daemon.canReadLine(); }, 10000, 1))
            address = QString::fromUtf8(daemon.readLine()).trimmed();
        QDBusConnection service = QDBusConnection::connectToBus(address, "bench-service");
        QDBusConnection client = QDBusConnection::connectToBus(address, "bench-client");
        if (address.isEmpty() || !f->StartMpris(service)) {
            std::fprintf(stderr, "no private session bus\n");
            status = 1;
        } else {
            f->FlatBar1_Click(2);
            f->File1->setListIndex(0);
            f->File1_KeyUp(0, 0);
            waitFor([&] { return state == 2; }, 5000, 1);
            std::vector<double> ours, ping;
            for (int i = 0; i <= runs; ++i) {
                const int before = state;
                const double t0 = bench::nowMs();
                QDBusPendingCall call = client.asyncCall(QDBusMessage::createMethodCall(
                    kMprisService, kMprisPath, "org.mpris.MediaPlayer2.Player", "PlayPause"));
                if (!waitFor([&] { return state != before && state != 0; }, 5000, 1)) {
                    status = 1;
                    break;
                }
                const double ms = bench::nowMs() - t0;
                waitFor([&] { return call.isFinished(); }, 5000, 1);
                const double p0 = bench::nowMs();
                QDBusPendingCall p = client.asyncCall(QDBusMessage::createMethodCall(
                    kMprisService, kMprisPath, "org.freedesktop.DBus.Peer", "Ping"));
                waitFor([&] { return p.isFinished(); }, 5000, 1);
                const double pms = bench::nowMs() - p0;
                if (i == 0)
                    continue;
                ours.push_back(ms);
                ping.push_back(pms);
            }
            reportBounded("mpris_playpause", bench::median(ours), bench::median(ping), 0, 10);

            // 1,500 OpenUri calls with addresses that cannot be played, one
            // after the other then all at once: each answer within 50 ms, and
            // no box shown.
            int boxes = 0;
            f->MsgBox = [&boxes](const QString &, QMessageBox::Icon, const QString &,
                                 QMessageBox::StandardButtons) {
                ++boxes;
                return QMessageBox::Ok;
            };
            const QString bad[] = {"http://ailleurs/x.mp3", "", "file:///tmp/a%zz.mp3",
                                   "file:///tmp/a%00.mp3", "file:///" + QString(100000, 'a') + ".mp3"};
            const auto openUri = [&](int i) {
                QDBusMessage m = QDBusMessage::createMethodCall(kMprisService, kMprisPath,
                                                                "org.mpris.MediaPlayer2.Player", "OpenUri");
                m.setArguments({bad[i % 5]});
                return client.asyncCall(m);
            };
            constexpr int kCalls = 1500;
            std::vector<double> each;
            int errors = 0;
            for (int i = 0; i < kCalls; ++i) {
                const double t0 = bench::nowMs();
                QDBusPendingCall c = openUri(i);
                if (!waitFor([&] { return c.isFinished(); }, 30000, 1))
                    break;
                each.push_back(bench::nowMs() - t0);
                errors += c.isError() ? 1 : 0;
            }
            const double slowest = each.empty() ? 0 : *std::max_element(each.begin(), each.end());
            const bool allAnswered = int(each.size()) == kCalls;
            bench::reportBound("mpris_openuri_refused_each", bench::median(each), "<=50ms",
                               allAnswered && slowest <= 50, "ms", 2,
                               "max=" + bench::fmt(slowest, "ms", 2) + " errors=" + std::to_string(errors));
            std::vector<QDBusPendingCall> burst;
            const double b0 = bench::nowMs();
            for (int i = 0; i < kCalls; ++i)
                burst.push_back(openUri(i));
            const bool burstDone = waitFor(
                [&] {
                    return std::all_of(burst.begin(), burst.end(),
                                       [](const QDBusPendingCall &c) { return c.isFinished(); });
                },
                60000, 1);
            const double burstMs = bench::nowMs() - b0;
            bench::reportBound("mpris_openuri_refused_burst", burstMs, "<=50ms_per_call",
                               burstDone && burstMs / kCalls <= 50, "ms", 1,
                               "per_call=" + bench::fmt(burstMs / kCalls, "ms", 3));
            std::printf("bench mpris_openuri_refused_boxes median=%d floor=- ratio=- target=0 %s\n", boxes,
                        boxes == 0 && allAnswered ? "ok" : "over");
            std::fflush(stdout);
            if (!allAnswered || !burstDone)
                status = 1;
            quiet(f);
        }
        QDBusConnection::disconnectFromBus("bench-service");
        QDBusConnection::disconnectFromBus("bench-client");
        daemon.kill();
        daemon.waitForFinished();
    }
    f->FlatBar1_Click(2);

    // 4. The tray's left click to the window shown, against a bare window
    // of the same size shown again.
    {
        QWidget bareWindow;
        bareWindow.resize(f->size());
        auto exposed = [](QWidget *w) {
            return w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed();
        };
        std::vector<double> ours, bare;
        for (int i = 0; i <= runs; ++i) {
            f->ReduceToTray();
            waitFor([&] { return !exposed(f); }, 2000, 1);
            waitFor([] { return false; }, 30, 1);
            const double t0 = bench::nowMs();
            emit TrayEvents::instance()->mouseMessage(f, WM_LBUTTONDOWN);
            const bool ok = waitFor([&] { return exposed(f); }, 5000, 1);
            const double ms = bench::nowMs() - t0;
            bareWindow.hide();
            waitFor([&] { return !exposed(&bareWindow); }, 2000, 1);
            waitFor([] { return false; }, 30, 1);
            const double b0 = bench::nowMs();
            bareWindow.show();
            waitFor([&] { return exposed(&bareWindow); }, 5000, 1);
            const double b = bench::nowMs() - b0;
            if (!ok) {
                status = 1;
                break;
            }
            if (i == 0)
                continue;
            ours.push_back(ms);
            bare.push_back(b);
        }
        reportBounded("tray_click_shown", bench::median(ours), bench::median(bare), 0, 20);
    }
    delete f;
    return status;
}
