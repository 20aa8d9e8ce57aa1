// Playback figures of the GStreamer media control, alone and under the main
// window: open to running, click to running, the gap between two tracks, the
// CPU time of a minute of MP3, and the fades as heard. Floors come from a bare
// playbin on the same files and sink, measured in the same run.
#include "benchutil.h"
#include "qtbench.h"

#include "platform/engine/gstmediacontrol.h"
#include "player/form1.h"
#include "support/mediafiles.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <gst/gst.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char *kSink = "fakesink";

GstMediaOptions silentOptions(const QString &sink = kSink) {
    GstMediaOptions o;
    o.audioSink = sink;
    o.sync = true;
    o.videoSink = "fakesink";
    return o;
}

QString uriOf(const QString &path) {
    gchar *uri = gst_filename_to_uri(path.toUtf8().constData(), nullptr);
    QString s = QString::fromUtf8(uri);
    g_free(uri);
    return s;
}

// GStreamer's own open-to-playing: a reused playbin on the same sink, from
// READY to the pipeline's STATE_CHANGED to PLAYING on the bus.
class BarePlaybin {
public:
    BarePlaybin() {
        m_playbin = gst_element_factory_make("playbin", nullptr);
        GstElement *audio = gst_parse_bin_from_description("fakesink sync=true", TRUE, nullptr);
        g_object_set(m_playbin, "audio-sink", audio, "video-sink",
                     gst_element_factory_make("fakesink", nullptr), nullptr);
        m_bus = gst_element_get_bus(m_playbin);
    }
    ~BarePlaybin() {
        gst_element_set_state(m_playbin, GST_STATE_NULL);
        gst_object_unref(m_bus);
        gst_object_unref(m_playbin);
    }
    // Milliseconds, or -1 on error or after 5 s.
    double openToPlaying(const QString &path) {
        gst_element_set_state(m_playbin, GST_STATE_READY);
        gst_element_get_state(m_playbin, nullptr, nullptr, GST_CLOCK_TIME_NONE);
        gst_bus_set_flushing(m_bus, TRUE);
        gst_bus_set_flushing(m_bus, FALSE);
        const QByteArray uri = uriOf(path).toUtf8();
        const double t0 = bench::nowMs();
        g_object_set(m_playbin, "uri", uri.constData(), nullptr);
        gst_element_set_state(m_playbin, GST_STATE_PLAYING);
        for (;;) {
            GstMessage *msg = gst_bus_timed_pop_filtered(
                m_bus, 5 * GST_SECOND, GstMessageType(GST_MESSAGE_STATE_CHANGED | GST_MESSAGE_ERROR));
            if (!msg)
                return -1;
            const bool error = GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR;
            GstState newState = GST_STATE_VOID_PENDING;
            if (!error && GST_MESSAGE_SRC(msg) == GST_OBJECT(m_playbin))
                gst_message_parse_state_changed(msg, nullptr, &newState, nullptr);
            gst_message_unref(msg);
            if (error)
                return -1;
            if (newState == GST_STATE_PLAYING)
                return bench::nowMs() - t0;
        }
    }

private:
    GstElement *m_playbin;
    GstBus *m_bus;
};

// Stamps the control's notifications.
struct Stamps {
    double opened = -1, running = -1, stopped = -1;
    bool error = false;
    void attach(MediaControl *m) {
        QObject::connect(m, &MediaControl::OpenComplete, [this] { opened = bench::nowMs(); });
        QObject::connect(m, &MediaControl::StateChange, [this](int, int s) {
            if (s == 2)
                running = bench::nowMs();
            else if (s == 0)
                stopped = bench::nowMs();
        });
        QObject::connect(m, &MediaControl::Error, [this](int, const QString &d, const QString &, bool *) {
            std::fprintf(stderr, "media error: %s\n", qPrintable(d));
            error = true;
        });
    }
    void clear() { opened = running = stopped = -1; }
};

struct Media {
    QString dir;
    QString path(const QString &name) const { return QDir(dir).filePath(name); }
};

int makeMedia(const QString &dir, int runs) {
    QDir().mkpath(dir);
    using testmedia::Mp3Kind;
    using testmedia::Tone;
    bool ok = true;
    const Tone twenty{20.0, 44100, 2, 440.0, 0.5};
    const Tone oneSecond{1.0, 44100, 2, 440.0, 0.5};
    QDir().mkpath(dir + "/click");
    ok &= !testmedia::MakeWav(dir + "/click", "tone.wav", twenty).isEmpty();
    ok &= !testmedia::MakeMp3(dir + "/click", "tone.mp3", twenty, Mp3Kind::Cbr192).isEmpty();
    ok &= !testmedia::MakeMp3(dir, "minute.mp3", Tone{60.0, 44100, 2, 440.0, 0.5}, Mp3Kind::Cbr192).isEmpty();
    ok &= !testmedia::MakeMp3(dir, "short.mp3", Tone{2.0, 44100, 2, 440.0, 0.5}, Mp3Kind::Cbr192).isEmpty();
    // 1 kHz at 48 kHz mono: exactly one period per 1 ms window.
    ok &= !testmedia::MakeWav(dir, "fade.wav", Tone{3.0, 48000, 1, 1000.0, 0.9}).isEmpty();
    QDir().mkpath(dir + "/gapwav");
    QDir().mkpath(dir + "/gapmp3");
    for (int i = 0; i < runs + 2; ++i) {
        const QString n = QString("%1").arg(i, 2, 10, QChar('0'));
        ok &= !testmedia::MakeWav(dir + "/gapwav", n + ".wav", oneSecond).isEmpty();
        ok &= !testmedia::MakeMp3(dir + "/gapmp3", n + ".mp3", oneSecond, Mp3Kind::Cbr192).isEmpty();
    }
    return ok ? 0 : 2;
}

// ---- open to running

int benchOpen(const Media &m, int runs) {
    GstMediaControl ctl(nullptr, silentOptions());
    Stamps st;
    st.attach(&ctl);
    QObject::connect(&ctl, &MediaControl::OpenComplete, [&] { ctl.Run(); });
    BarePlaybin bare;
    bool crashed = false;
    for (const char *name : {"tone.wav", "tone.mp3"}) {
        const QString path = m.path(QString("click/") + name);
        std::vector<double> ours, floor;
        for (int i = 0; i <= runs; ++i) {
            const double f = bare.openToPlaying(path);
            ctl.setFileName("");
            st.clear();
            const double t0 = bench::nowMs();
            ctl.setFileName(path);
            if (!waitFor([&] { return st.running > 0 || st.error; }, 5000) || st.error || f < 0) {
                crashed = true;
                break;
            }
            if (i == 0)
                continue;
            ours.push_back(st.running - t0);
            floor.push_back(f);
        }
        ctl.setFileName("");
        const std::string kind = QString(name).section('.', 1).toStdString();
        bench::report("open_to_running_" + kind, bench::median(ours), bench::median(floor), 1.2, "ms", 2);
    }
    return crashed ? 2 : 0;
}

// ---- CPU time of a minute of MP3

int cpuChild(const QString &path) {
    GstMediaControl ctl(nullptr, silentOptions());
    bool done = false, error = false;
    // A plain event loop: no polling timer of ours adds wake-ups to the figure.
    QEventLoop loop;
    QObject::connect(&ctl, &MediaControl::OpenComplete, [&] { ctl.Run(); });
    QObject::connect(&ctl, &MediaControl::StateChange, [&](int, int s) {
        if (s == 0) {
            done = true;
            loop.quit();
        }
    });
    QObject::connect(&ctl, &MediaControl::Error, [&](int, const QString &, const QString &, bool *) {
        error = true;
        loop.quit();
    });
    ctl.setFileName(path);
    loop.exec();
    return done && !error ? 0 : 3;
}

pid_t spawn(const std::vector<std::string> &args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// CPU seconds (user + sys) of a child, or -1 when it failed.
double reap(pid_t pid) {
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

int benchCpu(const Media &m, int runs) {
    const std::string self = fs::canonical("/proc/self/exe");
    auto pair = [&](const QString &path, double &ours, double &floor) {
        const std::string uri = uriOf(path).toStdString();
        const pid_t a = spawn({self, "cpuchild", path.toStdString()});
        const pid_t b = spawn({"gst-launch-1.0", "-q", "playbin", "uri=" + uri,
                               "audio-sink=fakesink sync=true", "video-sink=fakesink"});
        ours = reap(a);
        floor = reap(b);
    };
    double o = 0, f = 0;
    pair(m.path("short.mp3"), o, f); // warm-up
    std::vector<double> ours, floor;
    bool crashed = o < 0 || f < 0;
    for (int i = 0; i < runs; ++i) {
        pair(m.path("minute.mp3"), o, f);
        crashed |= o < 0 || f < 0;
        ours.push_back(o * 1000);
        floor.push_back(f * 1000);
    }
    bench::report("cpu_minute_mp3", bench::median(ours), bench::median(floor), 1.2, "ms", 0,
                  "runs=" + std::to_string(runs));
    return crashed ? 2 : 0;
}

// ---- fades as heard

struct FadeResult {
    double inLength = -1, outLength = -1, inStep = -1, outStep = -1;
};

// Levels in dB of successive 1 ms windows (48 samples of a 1 kHz tone: one
// whole period each, so a steady tone gives a flat level).
std::vector<double> levels(const QByteArray &pcm, double &reference) {
    const auto *s = reinterpret_cast<const int16_t *>(pcm.constData());
    const size_t n = size_t(pcm.size()) / 2;
    std::vector<double> rms;
    for (size_t w = 0; w + 48 <= n; w += 48) {
        double sum = 0;
        for (size_t i = 0; i < 48; ++i)
            sum += double(s[w + i]) * s[w + i];
        rms.push_back(std::sqrt(sum / 48));
    }
    reference = rms.empty() ? 1 : *std::max_element(rms.begin(), rms.end());
    std::vector<double> db;
    for (double r : rms)
        db.push_back(20 * std::log10(std::max(r, 1e-3) / reference));
    return db;
}

double largestStep(const std::vector<double> &db, size_t from, size_t to) {
    double step = 0;
    for (size_t i = from; i + 1 <= to && i + 1 < db.size(); ++i)
        step = std::max(step, std::fabs(db[i + 1] - db[i]));
    return step;
}

FadeResult oneFade(const Media &m, const QString &recording) {
    FadeResult r;
    QFile::remove(recording);
    {
        GstMediaControl ctl(
            nullptr,
            silentOptions(
                "capsfilter caps=audio/x-raw,format=S16LE,channels=1,rate=48000 ! filesink location=" +
                recording));
        Stamps st;
        st.attach(&ctl);
        QObject::connect(&ctl, &MediaControl::OpenComplete, [&] { ctl.Run(); });
        ctl.setVolume(-4000);
        ctl.setFileName(m.path("fade.wav"));
        if (!waitFor([&] { return st.running > 0 || st.error; }, 5000) || st.error)
            return r;
        idleMs(300);
        // As the player's FadeIn and FadeOut do it: one tight loop each.
        for (int v = -4000; v <= 0; v += 5)
            ctl.setVolume(v);
        idleMs(400);
        for (int v = 0; v >= -4000; v -= 20)
            ctl.setVolume(v);
        idleMs(300);
        ctl.setFileName("");
    }
    QFile file(recording);
    if (!file.open(QIODevice::ReadOnly))
        return r;
    double reference = 0;
    const std::vector<double> db = levels(file.readAll(), reference);
    file.close();
    QFile::remove(recording);
    // Crossing points 0.5 dB inside each end, scaled back to the whole 40 dB.
    auto firstFrom = [&](size_t from, auto pred) {
        for (size_t i = from; i < db.size(); ++i)
            if (pred(db[i]))
                return i;
        return db.size();
    };
    const size_t a = firstFrom(0, [](double l) { return l > -39.5; });
    const size_t b = firstFrom(a, [](double l) { return l >= -0.5; });
    const size_t c = firstFrom(b + 20, [](double l) { return l < -0.5; });
    const size_t d = firstFrom(c, [](double l) { return l <= -39.5; });
    if (d >= db.size())
        return r;
    r.inLength = double(b - a) * 40.0 / 39.0;
    r.outLength = double(d - c) * 40.0 / 39.0;
    r.inStep = largestStep(db, a > 20 ? a - 20 : 0, b + 20);
    r.outStep = largestStep(db, c > 20 ? c - 20 : 0, d + 20);
    return r;
}

int benchFade(const Media &m, int runs) {
    const QString recording = m.path("fade-recording.raw");
    std::vector<double> inLen, outLen, inStep, outStep;
    bool crashed = false;
    for (int i = 0; i <= runs; ++i) {
        const FadeResult r = oneFade(m, recording);
        if (r.inLength < 0) {
            crashed = true;
            continue;
        }
        if (i == 0)
            continue;
        inLen.push_back(r.inLength);
        outLen.push_back(r.outLength);
        inStep.push_back(r.inStep);
        outStep.push_back(r.outStep);
    }
    const double li = bench::median(inLen), lo = bench::median(outLen);
    bench::reportBound("fade_in_length", li, "800ms+-10%", std::fabs(li - 800) <= 80, "ms", 1);
    bench::reportBound("fade_out_length", lo, "200ms+-10%", std::fabs(lo - 200) <= 20, "ms", 1);
    // The floor of a step is one write (5 or 20 hundredths of a dB per 1 ms).
    // Tolerance 1.25: the 1 ms window levels carry dither noise (about
    // 0.01 dB near -40 dB), and a write heard part-way through a window spreads
    // over two; more than that is a step the ear can catch.
    const double worstIn = inStep.empty() ? 0 : *std::max_element(inStep.begin(), inStep.end());
    const double worstOut = outStep.empty() ? 0 : *std::max_element(outStep.begin(), outStep.end());
    bench::report("fade_in_step", bench::median(inStep), 0.05, 1.25, "dB", 3,
                  "worst=" + bench::fmt(worstIn, "dB", 3));
    bench::report("fade_out_step", bench::median(outStep), 0.2, 1.25, "dB", 3,
                  "worst=" + bench::fmt(worstOut, "dB", 3));
    return crashed ? 2 : 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s media|open|cpu|fade DIR [runs] | cpuchild FILE\n", argv[0]);
        return 1;
    }
    const std::string mode = argv[1];
    QApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    gstengine::waitReady();
    if (mode == "cpuchild")
        return cpuChild(QString::fromLocal8Bit(argv[2]));
    const Media m{QString::fromLocal8Bit(argv[2])};
    const int runs = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 10;
    if (mode == "media")
        return makeMedia(m.dir, runs);
    if (mode == "open")
        return benchOpen(m, runs);
    if (mode == "cpu")
        return benchCpu(m, runs);
    if (mode == "fade")
        return benchFade(m, runs);
    return 1;
}
