// The option windows: the flash window's period and flash length measured
// from its own paint times, beside a bare window flashed by plain timers; the
// CPU time of a minute of flashing; the colour chooser's first showing
// against an empty dialog of the same size; the number of rate changes of a
// one-second drag of the speed slider while an MP3 plays.
#include "benchutil.h"
#include "qtbench.h"

#include "platform/engine/gstmediacontrol.h"
#include "player/form1.h"
#include "support/mediafiles.h"
#include "windows/couleure.h"
#include "windows/form2.h"
#include "windows/form4.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <gst/gst.h>

#include <mutex>

#include <cmath>
#include <functional>
#include <sys/resource.h>

namespace {

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

double mean(const std::vector<double> &v) {
    double s = 0;
    for (double x : v)
        s += x;
    return v.empty() ? 0 : s / double(v.size());
}

void line(const std::string &name, double value, double floor, double target, bool ok,
          const std::string &extra) {
    std::printf("bench %s median=%.2fms floor=%.2fms ratio=%.3f target=%.3f %s %s\n", name.c_str(), value,
                floor, floor > 0 ? value / floor : 0, target, extra.c_str(), ok ? "ok" : "over");
    std::fflush(stdout);
}

// The paint times of a window and the colour it painted.
class PaintLog : public QObject {
public:
    PaintLog(QWidget *w, std::function<QColor()> colour) : m_widget(w), m_colour(std::move(colour)) {
        w->installEventFilter(this);
    }
    bool eventFilter(QObject *obj, QEvent *ev) override {
        if (obj == m_widget && ev->type() == QEvent::Paint && recording)
            paints.push_back({bench::nowMs(), m_colour() != QColor(Qt::black)});
        return false;
    }
    struct Paint {
        double ms;
        bool lit;
    };
    std::vector<Paint> paints;
    bool recording = false;

    // Flash starts (dark to lit) and lengths (lit to dark).
    void flashes(std::vector<double> &periods, std::vector<double> &lengths) const {
        double lastStart = -1;
        bool lit = false;
        for (const Paint &p : paints) {
            if (p.lit && !lit) {
                if (lastStart >= 0)
                    periods.push_back(p.ms - lastStart);
                lastStart = p.ms;
            } else if (!p.lit && lit && lastStart >= 0) {
                lengths.push_back(p.ms - lastStart);
            }
            lit = p.lit;
        }
    }

private:
    QWidget *m_widget;
    std::function<QColor()> m_colour;
};

// The floor: a bare window flashed by two plain precise timers.
class BareFlash : public QWidget {
public:
    BareFlash() {
        resize(486, 167);
        setAttribute(Qt::WA_OpaquePaintEvent);
        period.setTimerType(Qt::PreciseTimer);
        end.setTimerType(Qt::PreciseTimer);
        end.setSingleShot(true);
        end.setInterval(30);
        connect(&period, &QTimer::timeout, this, [this] {
            colour = Qt::white;
            update();
            end.start();
        });
        connect(&end, &QTimer::timeout, this, [this] {
            colour = Qt::black;
            update();
        });
    }
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), colour); }
    QTimer period, end;
    QColor colour = Qt::black;
};

struct FlashFigures {
    double meanPeriod = 0, p95Error = 0, meanLength = 0, cpuPerMinute = 0;
};

FlashFigures measure(QWidget *w, PaintLog &log, int periodMs, int seconds) {
    log.paints.clear();
    idleMs(300);
    log.recording = true;
    const double cpu0 = cpuMs();
    idleMs(seconds * 1000);
    const double cpu = cpuMs() - cpu0;
    log.recording = false;
    (void)w;
    std::vector<double> periods, lengths;
    log.flashes(periods, lengths);
    std::vector<double> errors;
    for (double p : periods)
        errors.push_back(std::fabs(p - periodMs));
    return {mean(periods), percentile(errors, 0.95), mean(lengths), cpu * 60.0 / seconds};
}

int benchFlash(int seconds) {
    auto *flash = new Form2;
    flash->Form_Load();
    flash->Timer2->stop(); // fixed pace
    flash->show();
    PaintLog log(flash, [flash] { return flash->BackColor(); });
    BareFlash bare;
    PaintLog bareLog(&bare, [&bare] { return bare.colour; });
    bare.move(flash->pos() + QPoint(0, 200));
    bare.show();
    waitFor([&] { return flash->windowHandle()->isExposed() && bare.windowHandle()->isExposed(); }, 5000);

    for (int period : {70, 100}) {
        flash->HScroll1->setValue(period);
        bare.period.stop();
        const FlashFigures f = measure(flash, log, period, seconds);
        flash->Timer1->stop();
        bare.period.start(period);
        const FlashFigures b = measure(&bare, bareLog, period, seconds);
        bare.period.stop();
        flash->Timer1->start();
        char extra[200];
        std::snprintf(extra, sizeof extra, "p95err=%.2fms bare_mean=%.2fms bare_p95err=%.2fms", f.p95Error,
                      b.meanPeriod, b.p95Error);
        line("flash_period_" + std::to_string(period), f.meanPeriod, period, double(period + 1) / period,
             std::fabs(f.meanPeriod - period) <= 1 && f.p95Error <= 5, extra);
        std::snprintf(extra, sizeof extra, "bare_length=%.2fms", b.meanLength);
        line("flash_length_" + std::to_string(period), f.meanLength, 30, 35.0 / 30,
             std::fabs(f.meanLength - 30) <= 5, extra);
    }

    // CPU: the flash window at its start pace (100 ms, random colours)
    // against the bare window at the same pace.
    flash->HScroll1->setValue(100);
    flash->Command4_Click();
    bare.period.stop();
    const FlashFigures f = measure(flash, log, 100, seconds);
    flash->Timer1->stop();
    bare.period.start(100);
    const FlashFigures b = measure(&bare, bareLog, 100, seconds);
    char extra[120];
    std::snprintf(extra, sizeof extra, "measured_over=%ds_scaled_to_a_minute", seconds);
    line("flash_cpu_per_minute", f.cpuPerMinute, b.cpuPerMinute, 1.5, f.cpuPerMinute <= 1.5 * b.cpuPerMinute,
         extra);
    flash->Unload();
    return 0;
}

// ---- the chooser's first showing, each in a fresh process

int chooserChild(const std::string &kind) {
    // The program is up: the style, fonts and common controls are warm.
    QWidget warm;
    auto *layout = new QVBoxLayout(&warm);
    layout->addWidget(new QLabel("Rouge"));
    layout->addWidget(new QPushButton("+"));
    layout->addWidget(new QScrollBar(Qt::Vertical));
    layout->addWidget(new QGroupBox("Cliquez pour Valider"));
    warm.show();
    {
        Shown s(&warm);
        waitFor([&] { return s.done; }, 10000);
    }
    idleMs(100);
    const double t0 = bench::nowMs();
    QDialog *dialog = kind == "chooser" ? new Couleure : new QDialog;
    if (kind != "chooser")
        dialog->setFixedSize(346, 158);
    Shown s(dialog);
    dialog->show();
    if (!waitFor([&] { return s.done; }, 10000))
        return 1;
    std::printf("shown %.3f\n", s.at - t0);
    return 0;
}

int benchChooser(const char *self, int runs) {
    std::vector<double> chooser, empty;
    for (int i = 0; i <= runs; ++i) {
        for (const char *kind : {"chooser", "dialog"}) {
            QProcess p;
            p.start(self, {"chooserchild", kind});
            if (!p.waitForFinished(30000) || p.exitCode() != 0)
                return 1;
            const QByteArray out = p.readAllStandardOutput();
            const qsizetype at = out.indexOf("shown ");
            if (at < 0)
                return 1;
            const double ms = out.mid(at + 6).trimmed().toDouble();
            if (i > 0) // the first pair warms the disk cache
                (std::string(kind) == "chooser" ? chooser : empty).push_back(ms);
        }
    }
    bench::report("chooser_first_show", bench::median(chooser), bench::median(empty), 2.0, "ms", 2,
                  "floor=empty_dialog_same_size");
    return 0;
}

// ---- the speed slider dragged while an MP3 plays

class CountingControl : public GstMediaControl {
public:
    using GstMediaControl::GstMediaControl;
    void setRate(double rate) override {
        ++changes;
        GstMediaControl::setRate(rate);
    }
    int changes = 0;
};

// The wall times at which the sink renders its buffers (a synchronised sink
// renders each at its time): a stall between two is silence heard.
struct SinkTimes {
    std::mutex lock;
    std::vector<double> at;
    static void onHandoff(GstElement *, GstBuffer *, GstPad *, gpointer data) {
        auto *tap = static_cast<SinkTimes *>(data);
        const double now = bench::nowMs();
        std::lock_guard<std::mutex> g(tap->lock);
        tap->at.push_back(now);
    }
    // Time without a buffer beyond 1.5 times the usual spacing, within [from, to].
    double silenceMs(double from, double to) {
        std::lock_guard<std::mutex> g(lock);
        std::vector<double> spacing;
        for (size_t i = 1; i < at.size(); ++i)
            spacing.push_back(at[i] - at[i - 1]);
        const double usual = bench::median(spacing);
        double silence = 0;
        for (size_t i = 1; i < at.size(); ++i)
            if (at[i] >= from && at[i - 1] <= to)
                silence += std::max(0.0, at[i] - at[i - 1] - 1.5 * usual);
        return silence;
    }
};

// What a run measures: the rate changes of the drag and the silence heard
// from its start to a second after the release.
struct SpeedRun {
    int changes = 0;
    double silenceMs = 0;
};

bool speedRun(const QString &mp3, bool drag, SpeedRun &out) {
    GstMediaOptions o;
    o.audioSink = "fakesink signal-handoffs=true";
    o.videoSink = "fakesink";
    o.sync = true;
    auto *control = new CountingControl(nullptr, o);
    Form1 form(control);
    SinkTimes tap;
    control->setFileName(mp3);
    if (!waitFor([&] { return control->Duration() > 0; }, 10000) || !control->audioSinkElement())
        return false;
    g_signal_connect(control->audioSinkElement(), "handoff", G_CALLBACK(&SinkTimes::onHandoff), &tap);
    control->Run();
    if (!waitFor([&] { return control->CurrentState() == 2; }, 10000))
        return false;
    idleMs(1000); // playing steadily
    form.Speed_Click();
    const double wall0 = bench::nowMs();
    QScrollBar *bar = App::form4->HScroll1;
    if (drag) {
        QElapsedTimer t;
        t.start();
        bar->setSliderDown(true);
        while (t.elapsed() < 1000) {
            bar->setSliderPosition(100 + int(120 * t.elapsed() / 1000));
            idleMs(4);
        }
        bar->setSliderPosition(220);
        bar->setSliderDown(false);
    } else {
        idleMs(1000);
        bar->setValue(220); // one single change
    }
    idleMs(1000);
    out.changes = control->changes;
    out.silenceMs = tap.silenceMs(wall0, bench::nowMs());
    App::form4->Unload();
    control->setFileName("");
    return true;
}

int benchSpeed(const QString &dir, int runs) {
    const QString mp3 = testmedia::MakeMp3(dir, "speed.mp3", testmedia::Tone{30.0, 44100, 2, 440.0, 0.5},
                                           testmedia::Mp3Kind::Cbr192);
    if (mp3.isEmpty())
        return 1;
    std::vector<double> counts, dragSilence, singleSilence;
    for (int i = 0; i < runs; ++i) {
        SpeedRun d, s;
        if (!speedRun(mp3, true, d) || !speedRun(mp3, false, s))
            return 1;
        counts.push_back(d.changes);
        dragSilence.push_back(d.silenceMs);
        singleSilence.push_back(s.silenceMs);
    }
    const double med = bench::median(counts);
    bench::reportBound("speed_drag_rate_changes", med, "<=20", med <= 20, "", 0,
                       "max=" + bench::fmt(*std::max_element(counts.begin(), counts.end()), "", 0));
    bench::report("speed_drag_silence", bench::median(dragSilence), bench::median(singleSilence), 20, "ms", 1,
                  "floor=one_single_rate_change");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s flash SECONDS | chooser RUNS | speed DIR RUNS | chooserchild KIND\n",
                     argv[0]);
        return 1;
    }
    const std::string mode = argv[1];
    QApplication app(argc, argv);
    if (mode == "chooserchild" && argc >= 3)
        return chooserChild(argv[2]);
    if (mode == "flash")
        return benchFlash(argc >= 3 ? std::max(1, std::atoi(argv[2])) : 10);
    if (mode == "chooser")
        return benchChooser(argv[0], argc >= 3 ? std::max(1, std::atoi(argv[2])) : 10);
    if (mode == "speed" && argc >= 3) {
        gstengine::waitReady();
        return benchSpeed(QString::fromLocal8Bit(argv[2]), argc >= 4 ? std::max(1, std::atoi(argv[3])) : 10);
    }
    return 1;
}
