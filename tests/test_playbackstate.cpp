// The playback state machine alone, event by event: each row runs a script
// of events and checks what each asked of the pipeline and where it ends.
#include "platform/engine/playbackstate.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

using Phase = PlaybackPhase;
using Step = PlaybackState::Step;

const char *said(Step step) {
    return step == Step::Ignore ? "ignore" : step == Step::Remember ? "later" : "now";
}

// Runs the events as GstMediaControl drives them; returns what each said.
QString play(PlaybackState &s, const QString &script) {
    QStringList out;
    for (const QString &event : script.split(' ')) {
        if (event == "open") {
            s.open("/a.wav");
            out << "-";
        } else if (event == "prerolled") {
            s.prerolled();
            const auto then = s.afterPreroll();
            out << (then == PlaybackState::Then::Play           ? "play"
                    : then == PlaybackState::Then::ReportPaused ? "paused"
                                                                : "-");
        } else if (event == "run") {
            out << (s.run() ? "now" : "later");
        } else if (event == "pause") {
            out << said(s.pause());
        } else if (event == "stop") {
            const Step step = s.stop();
            if (step == Step::Now)
                s.rewind();
            out << said(step);
        } else if (event == "seek") {
            out << said(s.seek(5));
        } else if (event == "end") {
            out << (s.end(7) == PlaybackState::End::Loop ? "loop" : "finish");
        } else if (event == "restart") {
            // As after an end (the position shown) or a reload (sought again).
            const auto keep = s.held ? PlaybackState::Keep::Shown : PlaybackState::Keep::Sought;
            const int wanted = s.restart(s.shownPosition().value_or(3), keep);
            if (wanted == kMediaRunning)
                s.run();
            else if (wanted == kMediaPaused)
                s.pause();
            out << "-";
        } else if (event == "rewind") {
            s.rewind();
            out << "-";
        } else if (event == "adopt") {
            s.adopt("/b.wav");
            out << "-";
        } else if (event == "close") {
            s.close();
            out << "-";
        } else {
            ADD_FAILURE() << "unknown event " << event.toStdString();
        }
    }
    return out.join(' ');
}

} // namespace

TEST(PlaybackState, EventsLeadWhereTheTableSays) {
    struct Row {
        const char *script;
        int playCount;
        const char *said;
        Phase phase;
        int wanted;
        std::optional<double> shown; // none: the pipeline's own position
    };
    const Row rows[] = {
        // Run and pause during an open are remembered for the preroll.
        {"open run", 1, "- later", Phase::Opening, kMediaRunning, 0.0},
        {"open run prerolled", 1, "- later play", Phase::Ready, kMediaRunning, {}},
        {"open pause prerolled", 1, "- later paused", Phase::Ready, kMediaPaused, {}},
        // Stop during an open: reported at once, the open goes on, nothing plays.
        {"open run stop prerolled", 1, "- later later -", Phase::Ready, kMediaStopped, {}},
        // A stopped adopted file still owes its OpenComplete.
        {"open prerolled run adopt stop", 1, "- - now - now", Phase::Opening, kMediaStopped, 0.0},
        // Each play but the last loops; the last shows where it ended.
        {"open prerolled run end end end", 3, "- - now loop loop finish", Phase::Ready, kMediaStopped, 7.0},
        {"open prerolled pause end", 3, "- - now finish", Phase::Ready, kMediaStopped, 7.0},
        // Rewound after the end it still shows the end, until run again.
        {"open prerolled run end restart", 1, "- - now finish -", Phase::Prerolling, kMediaStopped, 7.0},
        {"open prerolled run end restart run", 1, "- - now finish - later", Phase::Prerolling, kMediaRunning,
         0.0},
        // A seek while opening waits for the preroll and shows meanwhile.
        {"open seek", 1, "- later", Phase::Opening, kMediaStopped, 5.0},
        {"open seek prerolled", 1, "- later -", Phase::Ready, kMediaStopped, 5.0},
        // A seek while paused stays paused, across a reload too.
        {"open prerolled run pause seek", 1, "- - now now now", Phase::Ready, kMediaPaused, 5.0},
        {"open prerolled run pause seek restart prerolled", 1, "- - now now now - paused", Phase::Ready,
         kMediaPaused, 5.0},
        {"open prerolled run restart", 1, "- - now -", Phase::Prerolling, kMediaRunning, 3.0},
        // A close or an error from any phase: closed, and nothing more runs.
        {"open close run pause stop", 1, "- - later ignore ignore", Phase::Closed, kMediaStopped, 0.0},
        {"open prerolled run close run", 1, "- - now - later", Phase::Closed, kMediaStopped, 0.0},
        {"open prerolled run rewind close", 1, "- - now - -", Phase::Closed, kMediaStopped, 0.0},
        {"open prerolled run adopt close", 1, "- - now - -", Phase::Closed, kMediaStopped, 0.0},
        {"open seek close open", 1, "- later - -", Phase::Opening, kMediaStopped, 0.0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.script);
        PlaybackState s;
        s.playCount = row.playCount;
        EXPECT_EQ(play(s, row.script).toStdString(), row.said);
        EXPECT_EQ(s.phase, row.phase);
        EXPECT_EQ(s.wanted, row.wanted);
        EXPECT_EQ(s.shownPosition(), row.shown);
    }
}
