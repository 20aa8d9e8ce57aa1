// What the player may count on from a media control, held against the real
// control (on a silent sink that keeps time) and against the fake the window
// tests drive: where they part, the window tests prove nothing.
#include "support/fakemedia.h"
#include "support/mediafiles.h"
#include "support/mediawatch.h"
#include "support/sinktap.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace {

// The fake plays nothing: this side completes its opens with the length
// the WAV gives (and refuses anything else, as the real one would), and
// when the test lets a file end, ends it at once.
struct FakeSide {
    FakeMediaControl c;
    bool ending = false;
    void pump() {
        if (c.isOpening()) {
            QFile f(c.FileName());
            if (f.open(QIODevice::ReadOnly) && f.read(4) == "RIFF")
                c.completeOpen(double(f.size() - 44) / (44100 * 4));
            else
                c.fail("« " + QFileInfo(c.FileName()).fileName() + " » : pas un fichier son reconnu");
        } else if (ending && c.CurrentState() == kMediaRunning) {
            c.reachEnd();
        }
    }
};

struct RealSide {
    GstMediaControl c{nullptr, silentSinks(true)};
    bool ending = false;
    void pump() {}
};

template <class Side> class MediaContract : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StartMediaEngine();
        s_dir = new QTemporaryDir;
        const QString d = s_dir->path();
        s_one = testmedia::MakeWav(d, "un.wav", {1.0});
        s_long = testmedia::MakeWav(d, "long.wav", {4.0});
        s_short = testmedia::MakeWav(d, "court.wav", {0.3});
        s_bad = testmedia::MakeFile(d, "faux.wav", QByteArray("ceci n'est pas du son\n").repeated(50));
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(s_one.isEmpty() || s_long.isEmpty() || s_short.isEmpty() || s_bad.isEmpty());
        w.pump = [this] { side.pump(); };
    }
    // Lets the file play to the end of its selection (and its repeats): a
    // stopped handler may have opened and run the next file by then.
    bool toEnd() {
        side.ending = true;
        const size_t from = w.states.size();
        const bool ok =
            w.until([&] { return w.stoppedSince(from) || !w.errors.empty(); }) && w.errors.empty();
        side.ending = false;
        return ok;
    }
    bool reported(int from, int to) {
        return w.until([&] { return w.lastIs(from, to); });
    }

    Side side;
    MediaControl &c = side.c;
    MediaWatch w{side.c};
    static inline QTemporaryDir *s_dir = nullptr;
    static inline QString s_one, s_long, s_short, s_bad;
};

using Sides = ::testing::Types<FakeSide, RealSide>;
class SideNames {
public:
    template <class T> static std::string GetName(int) {
        return std::is_same_v<T, FakeSide> ? "Fake" : "Real";
    }
};
TYPED_TEST_SUITE(MediaContract, Sides, SideNames);

TYPED_TEST(MediaContract, AnOpenCompletesOnceOrFailsOnceAndAnEmptyNameCloses) {
    auto &c = this->c;
    auto &w = this->w;
    // Nothing loaded: closing says nothing.
    c.setFileName("");
    EXPECT_TRUE(w.states.empty());

    c.setFileName(this->s_one);
    EXPECT_EQ(c.FileName(), this->s_one);
    EXPECT_EQ(w.opens(), 0) << "completes from the event loop";
    ASSERT_TRUE(w.until([&] { return w.opens() > 0; }));
    EXPECT_EQ(w.opened, QStringList{this->s_one});
    EXPECT_NEAR(c.Duration(), 1.0, 0.02);
    EXPECT_EQ(c.SelectionEnd(), c.Duration());
    EXPECT_EQ(c.CurrentPosition(), 0);
    EXPECT_EQ(c.CurrentState(), kMediaStopped);
    EXPECT_TRUE(w.until([&] { return w.nextWanted > 0; })) << "an open asks for the next file";

    // A file that is no sound: one Error, nothing loaded, no state reported.
    w.states.clear();
    c.setFileName(this->s_bad);
    ASSERT_GT(w.oneError(), 0);
    EXPECT_TRUE(w.errors[0].second.contains("« faux.wav »")) << w.errors[0].second.toStdString();
    EXPECT_TRUE(c.FileName().isEmpty());
    EXPECT_EQ(c.CurrentState(), kMediaStopped);
    EXPECT_TRUE(w.states.empty());
    EXPECT_EQ(w.opens(), 1);

    // Closing a loaded file reports the stop inside the call.
    ASSERT_TRUE(w.open(this->s_one));
    c.setFileName("");
    EXPECT_EQ(w.states, (States{{kMediaStopped, kMediaStopped}}));
    EXPECT_TRUE(c.FileName().isEmpty());
    // So does closing a file still opening, whose open never completes: the
    // next open is the only one heard of.
    c.setFileName(this->s_long);
    c.setFileName("");
    EXPECT_EQ(w.states.size(), 2u);
    ASSERT_TRUE(w.open(this->s_short));
    EXPECT_EQ(w.opened, QStringList({this->s_one, this->s_one, this->s_short}));
    EXPECT_TRUE(w.errors.size() == 1 && w.states.size() == 2u);
}

TYPED_TEST(MediaContract, RunPauseAndStopGiveTheirStateInsideTheCallAndReportIt) {
    auto &c = this->c;
    auto &w = this->w;
    ASSERT_TRUE(w.open(this->s_long));
    c.Run();
    EXPECT_EQ(c.CurrentState(), kMediaRunning);
    ASSERT_TRUE(this->reported(kMediaStopped, kMediaRunning));
    c.Pause();
    EXPECT_EQ(c.CurrentState(), kMediaPaused);
    ASSERT_TRUE(this->reported(kMediaRunning, kMediaPaused));
    c.Pause(); // already paused: nothing more
    c.Run();
    EXPECT_EQ(c.CurrentState(), kMediaRunning);
    ASSERT_TRUE(this->reported(kMediaPaused, kMediaRunning));
    c.Run(); // already running: nothing more
    EXPECT_EQ(w.states, (States{{0, 2}, {2, 1}, {1, 2}}));

    // Stop reports inside the call, keeps the file and rewinds it; stopping
    // again says so again.
    std::vector<int> stateWhenReported;
    w.onState = [&](int) { stateWhenReported.push_back(c.CurrentState()); };
    c.Stop();
    EXPECT_EQ(stateWhenReported, std::vector<int>{kMediaStopped});
    EXPECT_TRUE(w.lastIs(kMediaRunning, kMediaStopped));
    EXPECT_EQ(c.FileName(), this->s_long);
    EXPECT_TRUE(w.until([&] { return c.CurrentPosition() == 0; }));
    c.Stop();
    EXPECT_TRUE(w.lastIs(kMediaStopped, kMediaStopped));
    EXPECT_EQ(w.states.size(), 5u);
    EXPECT_EQ(w.opens(), 1);
}

// The player runs at each open complete, but a Run, Pause or Stop that came
// while the file still opened is not lost.
TYPED_TEST(MediaContract, RunPauseOrStopDuringTheOpenTakeEffectOnceItCompletes) {
    auto &c = this->c;
    auto &w = this->w;
    for (const int asked : {kMediaRunning, kMediaPaused}) {
        SCOPED_TRACE(asked);
        w.states.clear();
        c.setFileName(this->s_long);
        asked == kMediaRunning ? c.Run() : c.Pause();
        EXPECT_EQ(c.CurrentState(), asked);
        EXPECT_TRUE(w.states.empty());
        const int opens = w.opens();
        ASSERT_TRUE(w.until([&] { return w.opens() > opens && w.lastIs(kMediaStopped, asked); }));
        EXPECT_EQ(w.states.size(), 1u);
    }
    // Stop: reported inside the call; the open still completes, stopped.
    w.states.clear();
    c.setFileName(this->s_one);
    c.Run();
    c.Stop();
    EXPECT_EQ(w.states, (States{{kMediaStopped, kMediaStopped}}));
    ASSERT_TRUE(w.until([&] { return w.opened.size() == 3; }));
    EXPECT_EQ(c.CurrentState(), kMediaStopped);
    EXPECT_EQ(w.states.size(), 1u);
}

// PositionChange comes from the event loop, never inside the call; a seek
// leaves the state as it was.
TYPED_TEST(MediaContract, ASeekIsReportedLaterAndKeepsTheState) {
    auto &c = this->c;
    auto &w = this->w;
    ASSERT_TRUE(w.open(this->s_long));
    c.setCurrentPosition(1.5);
    EXPECT_TRUE(w.seeks.empty());
    ASSERT_TRUE(w.until([&] { return !w.seeks.empty(); }));
    EXPECT_EQ(w.seeks.back(), std::make_pair(0.0, 1.5));
    EXPECT_NEAR(c.CurrentPosition(), 1.5, 0.02);
    EXPECT_TRUE(w.states.empty());

    // Running from there, then sent back while running and while paused.
    c.Run();
    ASSERT_TRUE(this->reported(kMediaStopped, kMediaRunning));
    EXPECT_GE(c.CurrentPosition(), 1.5 - 0.02);
    c.setCurrentPosition(0.5);
    ASSERT_TRUE(w.until([&] { return w.seeks.size() == 2; }));
    EXPECT_GE(w.seeks.back().first, 1.5 - 0.02);
    EXPECT_EQ(w.seeks.back().second, 0.5);
    EXPECT_EQ(c.CurrentState(), kMediaRunning);
    c.Pause();
    ASSERT_TRUE(this->reported(kMediaRunning, kMediaPaused));
    c.setCurrentPosition(0);
    ASSERT_TRUE(w.until([&] { return w.seeks.size() == 3 && c.CurrentPosition() < 0.02; }));
    EXPECT_EQ(w.seeks.back().second, 0);
    EXPECT_EQ(c.CurrentState(), kMediaPaused);
    EXPECT_EQ(w.states.size(), 2u);

    // A seek whose file is closed before it is reported is never reported.
    c.setCurrentPosition(1);
    c.setFileName("");
    ASSERT_TRUE(w.open(this->s_one));
    EXPECT_EQ(w.seeks.size(), 3u);
}

// The end of the selection stops the file there, once whatever PlayCount
// asks; the stopped file stays loaded and runs again from its start.
TYPED_TEST(MediaContract, TheSelectionEndStopsOnceAfterThePlaysAsked) {
    auto &c = this->c;
    auto &w = this->w;
    ASSERT_TRUE(w.open(this->s_one));
    c.setSelectionEnd(0.2);
    c.setPlayCount(2);
    EXPECT_EQ(c.SelectionEnd(), 0.2);
    EXPECT_EQ(c.PlayCount(), 2);
    double positionWhenStopped = -1;
    w.onState = [&](int n) {
        if (n == kMediaStopped)
            positionWhenStopped = c.CurrentPosition();
    };
    c.Run();
    ASSERT_TRUE(this->toEnd());
    EXPECT_EQ(w.states, (States{{0, 2}, {2, 0}}));
    EXPECT_NEAR(positionWhenStopped, 0.2, 0.05);
    EXPECT_EQ(c.FileName(), this->s_one);
    // Again, played once and whole.
    c.setPlayCount(1);
    c.setSelectionEnd(c.Duration());
    w.states.clear();
    c.Run();
    ASSERT_TRUE(this->toEnd());
    EXPECT_EQ(w.states, (States{{0, 2}, {2, 0}}));
    EXPECT_NEAR(positionWhenStopped, 1.0, 0.05);
}

// Rate and Volume hold across files, within their ranges, and apply while
// a file runs without a state change.
TYPED_TEST(MediaContract, RateAndVolumeHoldAcrossFilesWithinTheirRange) {
    auto &c = this->c;
    auto &w = this->w;
    for (auto [asked, kept] : {std::pair{2.0, 2.0}, {5.0, 2.2}, {0.01, 0.1}, {1.0, 1.0}}) {
        c.setRate(asked);
        EXPECT_EQ(c.Rate(), kept);
    }
    for (auto [asked, kept] : {std::pair{-4000, -4000}, {-20000, -10000}, {300, 0}, {-602, -602}}) {
        c.setVolume(asked);
        EXPECT_EQ(c.Volume(), kept);
    }
    c.setRate(1.5);
    ASSERT_TRUE(w.open(this->s_short));
    ASSERT_TRUE(w.open(this->s_long));
    EXPECT_EQ(c.Rate(), 1.5);
    EXPECT_EQ(c.Volume(), -602);
    c.Run();
    ASSERT_TRUE(this->reported(kMediaStopped, kMediaRunning));
    c.setRate(0.5);
    c.setVolume(-3000);
    EXPECT_EQ(c.Rate(), 0.5);
    EXPECT_EQ(c.Volume(), -3000);
    EXPECT_EQ(c.CurrentState(), kMediaRunning);
    EXPECT_EQ(w.states.size(), 1u);
}

// The player opens the next file from the stopped report, having offered
// it beforehand: it follows with every notification an open gives.
TYPED_TEST(MediaContract, TheNextFileOfferedOpensFromTheStoppedReport) {
    auto &c = this->c;
    auto &w = this->w;
    QStringList log;
    QObject::connect(&c, &MediaControl::OpenComplete, &c, [&] {
        log << "complete " + QFileInfo(c.FileName()).fileName();
        c.Run();
    });
    w.onState = [&](int n) {
        log << QString("state %1").arg(n);
        if (n == kMediaStopped && c.FileName() == this->s_short)
            c.setFileName(this->s_one);
    };
    ASSERT_TRUE(w.open(this->s_short, this->s_one));
    ASSERT_TRUE(this->toEnd());
    ASSERT_TRUE(w.until([&] { return w.opens() == 2; }));
    ASSERT_TRUE(this->toEnd());
    EXPECT_EQ(log, QStringList({"complete court.wav", "state 2", "state 0", "complete un.wav", "state 2",
                                "state 0"}));
    EXPECT_EQ(c.FileName(), this->s_one);
    EXPECT_NEAR(c.Duration(), 1.0, 0.02);
    EXPECT_TRUE(w.errors.empty());
}

} // namespace
