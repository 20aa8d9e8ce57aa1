// The GStreamer media control against real files and a silent sink.
#include "platform/gstmediacontrol.h"
#include "support/mediafiles.h"
#include "support/sinktap.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <gst/gst.h>

#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <map>

using testmedia::Tone;

namespace {

// Spins the event loop until cond holds; the deadline only guards against hangs.
bool waitFor(const std::function<bool()> &cond, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(2);
    }
    return true;
}

// Everything the control tells the program.
struct Recorder {
    std::vector<std::pair<int, int>> states;
    std::vector<std::pair<int, QString>> errors;
    std::vector<std::pair<double, double>> positions;
    int opens = 0;
    int timers = 0;
    std::function<void(int, int)> onState;

    explicit Recorder(GstMediaControl &c) {
        QObject::connect(&c, &MediaControl::OpenComplete, [this] { ++opens; });
        QObject::connect(&c, &MediaControl::Timer, [this] { ++timers; });
        QObject::connect(&c, &MediaControl::StateChange, [this](int o, int n) {
            states.emplace_back(o, n);
            if (onState)
                onState(o, n);
        });
        QObject::connect(&c, &MediaControl::PositionChange,
                         [this](double o, double n) { positions.emplace_back(o, n); });
        QObject::connect(&c, &MediaControl::Error,
                         [this](int code, const QString &d, const QString &src, bool *) {
                             EXPECT_EQ(src, "Tunabel");
                             errors.emplace_back(code, d);
                         });
    }
    bool stoppedAfterRun() const { return !states.empty() && states.back().second == 0; }
};

class GstMediaControlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StartMediaEngine();
        s_dir = new QTemporaryDir;
        const QString d = s_dir->path();
        const Tone oneSecond{1.0};
        const Tone twoSeconds{2.0};
        s_files["wav"] = testmedia::MakeWav(d, "ton.wav", twoSeconds);
        s_files["au"] = testmedia::MakeAu(d, "ton.au", oneSecond);
        s_files["aiff"] = testmedia::MakeAiff(d, "ton.aiff", oneSecond);
        s_files["aif"] = testmedia::MakeAiff(d, "ton.aif", Tone{1.5, 22050, 1});
        s_files["aifc"] = testmedia::MakeAifc(d, "ton.aifc", oneSecond);
        s_files["mp3"] = testmedia::MakeMp3(d, "ton.mp3", twoSeconds);
        s_files["mp3-vbr"] = testmedia::MakeMp3(d, "vbr.mp3", twoSeconds, testmedia::Mp3Kind::VbrHeaderless);
        s_files["mp3-cbr"] = testmedia::MakeMp3(d, "cbr.mp3", oneSecond, testmedia::Mp3Kind::Cbr192);
        s_files["mp2"] = testmedia::MakeMp2(d, "ton.mp2", oneSecond);
        s_files["mid"] = testmedia::MakeMidi(d, "note.mid", 1.5);
        s_files["mpg"] = testmedia::MakeMpeg(d, "film.mpg", twoSeconds);
        s_files["mpeg"] = testmedia::MakeMpeg(d, "film.mpeg", oneSecond);
        s_files["long"] = testmedia::MakeWav(d, "long.wav", Tone{3.0});
        s_files["text"] =
            testmedia::MakeFile(d, "faux.mp3", QByteArray("ceci n'est pas du son\n").repeated(50));
        s_files["cut"] = testmedia::MakeTruncated(s_files["mp3"], d, "coupé.mp3", 0.5);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    static QString file(const char *key) { return s_files.at(key); }

    static GstMediaOptions fast() {
        GstMediaOptions o;
        o.audioSink = "fakesink signal-handoffs=true";
        o.videoSink = "fakesink";
        o.sync = false;
        return o;
    }
    static GstMediaOptions realTime() {
        GstMediaOptions o = fast();
        o.sync = true;
        return o;
    }

    static bool open(GstMediaControl &c, Recorder &r, const QString &path) {
        const int before = r.opens;
        c.setFileName(path);
        return waitFor([&] { return r.opens > before || !r.errors.empty(); }) && r.errors.empty();
    }

    static inline QTemporaryDir *s_dir = nullptr;
    static inline std::map<std::string, QString> s_files;
};

TEST_F(GstMediaControlTest, EveryTypeOpensOnceWithItsLengthAndPlaysToTheEnd) {
    const std::map<std::string, double> lengths = {
        {"wav", 2.0}, {"au", 1.0},      {"aiff", 1.0},    {"aif", 1.5}, {"aifc", 1.0}, {"mp3", 2.0},
        {"mp2", 1.0}, {"mp3-vbr", 2.0}, {"mp3-cbr", 1.0}, {"mid", 1.5}, {"mpg", 2.0},  {"mpeg", 1.0}};
    GstMediaControl c(nullptr, fast());
    Recorder r(c);
    SinkTap tap;
    for (const auto &[type, length] : lengths) {
        SCOPED_TRACE(type);
        ASSERT_FALSE(file(type.c_str()).isEmpty());
        r.states.clear();
        const int opens = r.opens;
        ASSERT_TRUE(open(c, r, file(type.c_str())));
        if (!tap.attached)
            tap.attach(c);
        const double before = tap.seconds.load();
        EXPECT_NEAR(c.Duration(), length, 0.05);
        EXPECT_NEAR(c.SelectionEnd(), c.Duration(), 1e-9);
        c.Run();
        EXPECT_EQ(c.CurrentState(), 2);
        ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
        EXPECT_NEAR(c.CurrentPosition(), length, 0.05);
        EXPECT_NEAR(tap.seconds.load() - before, length, 0.1);
        EXPECT_EQ(r.opens - opens, 1);
        EXPECT_TRUE(r.errors.empty());
    }
}

TEST_F(GstMediaControlTest, SelectionEndStopsPlaybackAtTheSetPoint) {
    for (const char *type : {"wav", "mp3"}) {
        SCOPED_TRACE(type);
        GstMediaControl c(nullptr, fast());
        Recorder r(c);
        SinkTap tap;
        ASSERT_TRUE(open(c, r, file(type)));
        tap.attach(c);
        c.setSelectionEnd(0.7);
        double positionWhenStopped = -1;
        r.onState = [&](int, int n) {
            if (n == 0)
                positionWhenStopped = c.CurrentPosition();
        };
        c.Run();
        ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
        EXPECT_NEAR(positionWhenStopped, 0.7, 0.05);
        EXPECT_NEAR(tap.seconds.load(), 0.7, 0.05);
        EXPECT_EQ(r.states, (std::vector<std::pair<int, int>>{{0, 2}, {2, 0}}));

        // Run at the end replays from the start.
        r.states.clear();
        c.Run();
        ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
        EXPECT_NEAR(tap.seconds.load(), 1.4, 0.1);
    }
}

TEST_F(GstMediaControlTest, PlayCountLoopsTheSelectionWithoutStateChanges) {
    GstMediaControl c(nullptr, realTime());
    Recorder r(c);
    SinkTap tap;
    ASSERT_TRUE(open(c, r, file("wav")));
    tap.attach(c);
    c.setSelectionEnd(0.5);
    c.setPlayCount(3);
    c.Run();
    ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
    EXPECT_EQ(r.states, (std::vector<std::pair<int, int>>{{0, 2}, {2, 0}}));
    EXPECT_NEAR(tap.seconds.load(), 1.5, 0.1);

    r.states.clear();
    const double before = tap.seconds.load();
    c.setPlayCount(1);
    c.Run();
    ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
    EXPECT_NEAR(tap.seconds.load() - before, 0.5, 0.05);
}

TEST_F(GstMediaControlTest, RateKeepsForLaterFilesAndAppliesWhilePlaying) {
    GstMediaControl c(nullptr, realTime());
    Recorder r(c);
    SinkTap tap;
    c.setRate(2.0);
    ASSERT_TRUE(open(c, r, file("wav")));
    tap.attach(c);
    c.Run();
    ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
    // Two seconds at double speed, pitch kept: about one second of output.
    EXPECT_NEAR(tap.seconds.load(), 1.0, 0.15);

    c.setRate(1.0);
    const double before = tap.seconds.load();
    r.states.clear();
    c.Run();
    ASSERT_TRUE(waitFor([&] { return c.CurrentPosition() > 0.3; }));
    const double switchedAt = c.CurrentPosition();
    c.setRate(2.0);
    ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
    EXPECT_NEAR(tap.seconds.load() - before, switchedAt + (2.0 - switchedAt) / 2, 0.2);
}

TEST_F(GstMediaControlTest, VolumeScalesTheOutputByItsDecibels) {
    for (int volume : {0, -4000, -7000, -10000}) {
        SCOPED_TRACE(volume);
        GstMediaControl c(nullptr, fast());
        Recorder r(c);
        SinkTap tap;
        c.setVolume(volume); // kept with nothing loaded
        ASSERT_TRUE(open(c, r, file("au")));
        tap.attach(c);
        c.Run();
        ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
        const double gain = std::pow(10.0, volume / 2000.0);
        EXPECT_EQ(c.Volume(), volume);
        EXPECT_NEAR(c.currentGain(), gain, gain * 1e-3);
        EXPECT_NEAR(tap.peak.load(), 0.5 * gain, 0.5 * gain * 0.05);
    }
}

TEST_F(GstMediaControlTest, StopAndCloseReportStoppedInsideTheCall) {
    GstMediaControl c(nullptr, realTime());
    Recorder r(c);
    bool inCall = false;
    std::vector<int> stateSeenByHandler;
    r.onState = [&](int, int n) {
        if (n == 0 && inCall)
            stateSeenByHandler.push_back(c.CurrentState());
    };
    ASSERT_TRUE(open(c, r, file("long")));
    c.Run();
    ASSERT_TRUE(waitFor([&] { return !r.states.empty() && r.states.back().second == 2; }));
    inCall = true;
    c.Stop();
    inCall = false;
    EXPECT_EQ(stateSeenByHandler, std::vector<int>{0});
    EXPECT_EQ(r.states.back(), std::make_pair(2, 0));
    EXPECT_EQ(c.FileName(), file("long"));
    ASSERT_TRUE(waitFor([&] { return c.CurrentPosition() == 0; }));

    c.Run();
    ASSERT_TRUE(waitFor([&] { return r.states.back().second == 2; }));
    inCall = true;
    c.setFileName("");
    inCall = false;
    EXPECT_EQ(stateSeenByHandler, (std::vector<int>{0, 0}));
    EXPECT_TRUE(c.FileName().isEmpty());

    // Closing a file still opening reports the stop too, and its open never completes.
    const int opens = r.opens;
    c.setFileName(file("wav"));
    inCall = true;
    c.setFileName("");
    inCall = false;
    EXPECT_EQ(stateSeenByHandler, (std::vector<int>{0, 0, 0}));

    // Closing with nothing loaded says nothing; nothing late arrives either.
    const size_t count = r.states.size();
    c.setFileName("");
    QTest::qWait(600);
    EXPECT_EQ(r.states.size(), count);
    const int timers = r.timers;
    QTest::qWait(600);
    EXPECT_EQ(r.timers, timers);
    EXPECT_EQ(r.opens, opens);
}

TEST_F(GstMediaControlTest, PausedTrackStaysPausedWhenRewound) {
    GstMediaControl c(nullptr, realTime());
    Recorder r(c);
    ASSERT_TRUE(open(c, r, file("long")));
    c.Run();
    ASSERT_TRUE(waitFor([&] { return c.CurrentPosition() > 0.3; }));
    c.Pause();
    EXPECT_EQ(c.CurrentState(), 1);
    ASSERT_TRUE(waitFor([&] { return r.states.back() == std::make_pair(2, 1); }));
    const int timers = r.timers;
    ASSERT_TRUE(waitFor([&] { return r.timers >= timers + 2; })); // ticks while paused
    const size_t count = r.states.size();
    c.setCurrentPosition(0);
    ASSERT_TRUE(waitFor([&] { return !r.positions.empty(); }));
    EXPECT_GT(r.positions.back().first, 0.3);
    EXPECT_EQ(r.positions.back().second, 0);
    QTest::qWait(300);
    EXPECT_EQ(c.CurrentState(), 1);
    EXPECT_EQ(r.states.size(), count);
    EXPECT_LT(c.CurrentPosition(), 0.05);
    c.Run();
    ASSERT_TRUE(waitFor([&] { return r.states.back() == std::make_pair(1, 2); }));
}

TEST_F(GstMediaControlTest, MessagesOfAClosedFileNeverArrive) {
    GstMediaControl c(nullptr, fast());
    Recorder r(c);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(open(c, r, file("au")));
        c.Run();
        c.Stop(); // the PLAYING and EOS of that run are stale now
        const auto afterStop = r.states;
        c.setFileName(file("aifc"));
        c.setFileName(file("wav")); // replaced before it finished opening
        const int opens = r.opens;
        ASSERT_TRUE(waitFor([&] { return r.opens > opens; }));
        QTest::qWait(100);
        EXPECT_EQ(r.opens, opens + 1);
        EXPECT_EQ(r.states, afterStop);
        EXPECT_EQ(c.FileName(), file("wav"));
        EXPECT_NEAR(c.Duration(), 2.0, 0.05);
    }
}

TEST_F(GstMediaControlTest, BadFilesGiveOneErrorAndLeaveTheControlUsable) {
    const QString dir = s_dir->path();
    const QString fifo = dir + "/tube.mp3";
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    struct Case {
        QString path;
        int code;
        QString reason;
    };
    const std::vector<Case> cases = {
        {dir + "/absent.mp3", GstMediaControl::NotFound, "introuvable"},
        {dir, GstMediaControl::NotRegularFile, "pas un fichier ordinaire"},
        {fifo, GstMediaControl::NotRegularFile, "pas un fichier ordinaire"},
        {file("text"), GstMediaControl::NotRecognised, "pas un fichier son reconnu"},
    };
    GstMediaControl c(nullptr, fast());
    Recorder r(c);
    for (const Case &bad : cases) {
        SCOPED_TRACE(bad.path.toStdString());
        r.errors.clear();
        c.setFileName(bad.path);
        ASSERT_TRUE(waitFor([&] { return !r.errors.empty(); }));
        QTest::qWait(100);
        ASSERT_EQ(r.errors.size(), 1u);
        EXPECT_EQ(r.errors[0].first, bad.code);
        EXPECT_TRUE(r.errors[0].second.contains("« " + QFileInfo(bad.path).fileName() + " »"));
        EXPECT_TRUE(r.errors[0].second.contains(bad.reason)) << r.errors[0].second.toStdString();
        EXPECT_TRUE(c.FileName().isEmpty());
        EXPECT_EQ(c.CurrentState(), 0);
        EXPECT_TRUE(r.states.empty());
        r.errors.clear();
        ASSERT_TRUE(open(c, r, file("au")));
        c.Run();
        ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
        r.states.clear();
    }
    EXPECT_EQ(r.opens, int(cases.size()));
}

TEST_F(GstMediaControlTest, TruncatedMp3PlaysWhatItHas) {
    GstMediaControl c(nullptr, fast());
    Recorder r(c);
    ASSERT_TRUE(open(c, r, file("cut")));
    EXPECT_NEAR(c.Duration(), 1.0, 0.1);
    c.Run();
    ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
    EXPECT_TRUE(r.errors.empty());
}

TEST_F(GstMediaControlTest, FailingOutputsAndSilentEnginesBecomeErrors) {
    struct Case {
        GstMediaOptions options;
        const char *type;
        int code;
    };
    GstMediaOptions noDevice = fast();
    noDevice.audioSink = "alsasink device=nonexistent";
    GstMediaOptions brokenSink = fast();
    brokenSink.audioSink = "fakesink state-error=ready-to-paused";
    GstMediaOptions brokenVideo = fast();
    brokenVideo.videoSink = "fakesink state-error=ready-to-paused";
    GstMediaOptions stalled = fast(); // prerolls only after both attempts gave up
    stalled.audioSink = "identity sleep-time=1000000 ! fakesink";
    stalled.openTimeoutMs = 200;
    const std::vector<Case> cases = {{noDevice, "wav", GstMediaControl::NoAudioOutput},
                                     {brokenSink, "wav", GstMediaControl::NoAudioOutput},
                                     {brokenVideo, "mpg", GstMediaControl::VideoFailed},
                                     {stalled, "wav", GstMediaControl::TimedOut}};
    for (const Case &failing : cases) {
        SCOPED_TRACE(failing.options.audioSink.toStdString() + " " + failing.options.videoSink.toStdString());
        GstMediaControl c(nullptr, failing.options);
        Recorder r(c);
        c.setFileName(file(failing.type));
        c.Run();
        ASSERT_TRUE(waitFor([&] { return !r.errors.empty(); }));
        QTest::qWait(100);
        ASSERT_EQ(r.errors.size(), 1u);
        EXPECT_EQ(r.errors[0].first, failing.code) << r.errors[0].second.toStdString();
        EXPECT_EQ(r.opens, 0);
        EXPECT_TRUE(r.states.empty());
        EXPECT_TRUE(c.FileName().isEmpty());
    }
}

TEST_F(GstMediaControlTest, VideoIsDroppedWithoutADisplay) {
    GstMediaOptions o = fast();
    o.videoSink.clear();
    GstMediaControl c(nullptr, o);
    Recorder r(c);
    ASSERT_TRUE(open(c, r, file("mpeg")));
    c.Run();
    ASSERT_TRUE(waitFor([&] { return r.stoppedAfterRun(); }));
    EXPECT_TRUE(r.errors.empty());
}

TEST_F(GstMediaControlTest, MousePressIsReportedInTwips) {
    GstMediaControl c(nullptr, fast());
    std::vector<std::tuple<int, int, float, float>> presses;
    QObject::connect(&c, &MediaControl::MouseDown,
                     [&](int b, int s, float x, float y) { presses.emplace_back(b, s, x, y); });
    c.resize(100, 100);
    QTest::mousePress(&c, Qt::RightButton, Qt::ShiftModifier, QPoint(10, 20));
    QTest::mousePress(&c, Qt::MiddleButton, Qt::ControlModifier, QPoint(3, 4));
    ASSERT_EQ(presses.size(), 2u);
    EXPECT_EQ(presses[0], std::make_tuple(2, 1, 150.f, 300.f));
    EXPECT_EQ(presses[1], std::make_tuple(4, 2, 45.f, 60.f));
}

} // namespace
