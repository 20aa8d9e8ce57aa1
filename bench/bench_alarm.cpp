// The alarm and the favourites organiser: how late the alarm starts its
// list, beside the open-to-running time of the same file; the CPU time a
// minute of an armed alarm costs, beside the idle player; the organiser's
// first showing with ten favourites, beside an empty window of its size.
#include "benchutil.h"
#include "qtbench.h"

#include "platform/clock.h"
#include "platform/engine/gstmediacontrol.h"
#include "platform/settingsstore.h"
#include "player/form1.h"
#include "storage/playlist.h"
#include "support/mediafiles.h"
#include "windows/favori.h"
#include "windows/form6.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <functional>
#include <sys/resource.h>

namespace {

GstMediaOptions silent() {
    GstMediaOptions o;
    o.audioSink = "fakesink";
    o.videoSink = "fakesink";
    o.sync = true;
    return o;
}

// The system clock moved by a fixed amount: the next minute comes within
// seconds, and every timer still runs in real time.
class ShiftedClock : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime().addMSecs(shift); }
    qint64 shift = 0;
};

// ---- alarm lateness

int benchLateness(const QString &dir, int runs) {
    QDir().mkpath(dir);
    SetSettingsFolder(dir + "/config");
    SetPlaylistFolder(dir + "/lists");
    if (!MakePlaylistFolder(nullptr))
        return 1;
    const QString wav = testmedia::MakeWav(dir, "reveil.wav", {2.0});
    if (wav.isEmpty() || !WritePlaylist(PlaylistPath("matin"), {"reveil.wav"}, {dir + "/"}, nullptr))
        return 1;

    auto *control = new GstMediaControl(nullptr, silent());
    Form1 form(control);
    form.MsgBox = [](const QString &text, QMessageBox::Icon, const QString &, QMessageBox::StandardButtons) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return QMessageBox::Ok;
    };
    form.Form_Load();
    form.List3->addItem("reveil.wav");
    form.List4->addItem(dir + "/");
    ShiftedClock clock;
    SetClock(&clock);

    double runningAt = 0;
    QObject::connect(control, &MediaControl::StateChange, control, [&](int, int state) {
        if (state == 2 && runningAt == 0)
            runningAt = bench::nowMs();
    });

    // The floor: open to running of the same file.
    std::vector<double> floor, late;
    for (int i = 0; i <= runs; ++i) {
        control->setFileName("");
        runningAt = 0;
        const double t0 = bench::nowMs();
        control->setFileName(wav);
        // The player runs the file once it opens.
        if (!waitFor([&] { return runningAt > 0; }, 10000))
            return 1;
        if (i > 0)
            floor.push_back(runningAt - t0);
    }
    control->setFileName("");

    for (int i = 0; i <= runs; ++i) {
        // Two seconds before the next minute, armed for that minute.
        const QDateTime real = QDateTime::currentDateTime();
        const QTime t = real.time();
        const qint64 intoMinute = t.second() * 1000 + t.msec();
        clock.shift = 58000 - intoMinute;
        const QDateTime now = clock.Now();
        const QDateTime due =
            QDateTime(now.date(), QTime(now.time().hour(), now.time().minute())).addSecs(60);
        form.Alarme_Click();
        Form6 *w = App::form6;
        w->HScroll1->setValue(due.time().hour());
        w->HScroll2->setValue(due.time().minute());
        runningAt = 0;
        w->FlatBar1_Click(0);
        if (!form.isAlarmArmed())
            return 1;
        const double dueMs = bench::nowMs() + double(clock.Now().msecsTo(due));
        if (!waitFor([&] { return runningAt > 0; }, 20000))
            return 1;
        if (i > 0)
            late.push_back(runningAt - dueMs);
        form.FlatBar1_Click(2);
        waitFor([] { return !App::form6; }, 1000);
    }
    const double med = bench::median(late);
    std::printf("bench alarm_lateness median=%.1fms floor=%.1fms ratio=%.2f target=<=1000ms max=%.1fms "
                "floor=open_to_running %s\n",
                med, bench::median(floor), bench::median(floor) > 0 ? med / bench::median(floor) : 0,
                *std::max_element(late.begin(), late.end()), med <= 1000 ? "ok" : "over");
    int cancel = 0;
    form.Form_Unload(cancel);
    SetClock(nullptr);
    return 0;
}

// ---- CPU while armed

int benchCpu(int seconds) {
    QTemporaryDir tmp;
    SetSettingsFolder(tmp.path() + "/config");
    auto *control = new GstMediaControl(nullptr, silent());
    Form1 form(control);
    form.MsgBox = [](const QString &, QMessageBox::Icon, const QString &, QMessageBox::StandardButtons) {
        return QMessageBox::Ok;
    };
    form.Form_Load();
    form.List3->addItem("a.wav");
    form.List4->addItem(tmp.path() + "/");
    form.Alarme_Click();
    Form6 *w = App::form6;
    // Half a day away: it never rings here.
    w->HScroll1->setValue((QTime::currentTime().hour() + 12) % 24);
    w->hide();
    waitFor([] { return false; }, 1000);

    // Idle and armed in turns, so that drift in the machine's load falls on
    // both; each figure in seconds of CPU per minute.
    const int turns = 6;
    const int turnMs = std::max(1, seconds * 1000 / turns);
    const auto measure = [&] {
        const double c0 = cpuMs();
        QElapsedTimer t;
        t.start();
        waitFor([&] { return t.elapsed() >= turnMs; }, turnMs + 5000);
        return (cpuMs() - c0) / 1000.0 * 60000.0 / double(t.elapsed());
    };
    std::vector<double> idle, armed;
    for (int i = 0; i < turns; ++i) {
        idle.push_back(measure());
        w->FlatBar1_Click(0);
        if (!form.isAlarmArmed() || w->isVisible())
            return 1;
        armed.push_back(measure());
        w->FlatBar3_Click(0);
    }
    const double a = bench::median(armed), f = bench::median(idle);
    std::printf(
        "bench alarm_cpu median=%.4fs floor=%.4fs ratio=%.2f target=<=+0.02s/min extra=%.4fs/min %s\n", a, f,
        f > 0 ? a / f : 0, a - f, a - f <= 0.02 ? "ok" : "over");
    int cancel = 0;
    form.Form_Unload(cancel);
    return 0;
}

// ---- the organiser's first showing, each in a fresh process

int organiserChild(const std::string &kind) {
    QTemporaryDir tmp;
    SetSettingsFolder(tmp.path() + "/config");
    for (int i = 0; i < 10; ++i)
        SaveSetting(kApp, "Favoris", QString::number(i), QString("/home/musique/dossier %1").arg(i));
    auto *control = new GstMediaControl(nullptr, silent());
    Form1 form(control);
    // The program is up: the style, fonts and common controls are warm.
    QWidget warm;
    auto *layout = new QVBoxLayout(&warm);
    auto *menu = new QMenuBar;
    menu->addMenu("&Fichier");
    layout->setMenuBar(menu);
    auto *list = new QListWidget;
    list->addItems({"/home/musique", "/media/disque/Albums"});
    layout->addWidget(list);
    warm.show();
    {
        Shown s(&warm);
        waitFor([&] { return s.done; }, 10000);
    }
    waitFor([] { return false; }, 100);
    const double t0 = bench::nowMs();
    QWidget *window = nullptr;
    QWidget empty(&form, Qt::Window);
    if (kind == "organiser") {
        window = Favori::Open(&form);
    } else {
        empty.resize(300, 220);
        empty.show();
        window = &empty;
    }
    Shown s(window);
    if (!waitFor([&] { return s.done; }, 10000))
        return 1;
    std::printf("shown %.3f\n", s.at - t0);
    if (App::favori)
        delete App::favori.data();
    return 0;
}

int benchOrganiser(const char *self, int runs) {
    std::vector<double> organiser, empty;
    for (int i = 0; i <= runs; ++i) {
        for (const char *kind : {"organiser", "empty"}) {
            QProcess p;
            p.start(self, {"organiserchild", kind});
            if (!p.waitForFinished(30000) || p.exitCode() != 0)
                return 1;
            const QByteArray out = p.readAllStandardOutput();
            const qsizetype at = out.indexOf("shown ");
            if (at < 0)
                return 1;
            const double ms = out.mid(at + 6).trimmed().toDouble();
            if (i > 0) // the first pair warms the disk cache
                (std::string(kind) == "organiser" ? organiser : empty).push_back(ms);
        }
    }
    bench::report("organiser_first_show", bench::median(organiser), bench::median(empty), 2.0, "ms", 2,
                  "floor=empty_window_same_size");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s lateness DIR RUNS | cpu SECONDS | organiser RUNS | organiserchild KIND\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tunabel");
    if (mode == "organiserchild" && argc >= 3)
        return organiserChild(argv[2]);
    StartMediaEngine();
    if (mode == "lateness" && argc >= 3)
        return benchLateness(QString::fromLocal8Bit(argv[2]),
                             argc >= 4 ? std::max(1, std::atoi(argv[3])) : 10);
    if (mode == "cpu")
        return benchCpu(argc >= 3 ? std::max(1, std::atoi(argv[2])) : 30);
    if (mode == "organiser")
        return benchOrganiser(argv[0], argc >= 3 ? std::max(1, std::atoi(argv[2])) : 10);
    return 2;
}
