#pragma once

// The media control's playback state, free of GStreamer: what the caller
// wants, what has been done, and where the pipeline stands. Each event below
// updates the record and says what the pipeline must do; GstMediaControl
// (gstmediacontrol.cpp) does that work. All of it runs on the UI thread.
//
//  phase       event              next phase  the pipeline must
//  ----------  -----------------  ----------  ----------------------------------
//  any         open(path)         Opening     take the old file down, load, preroll
//  any         close, error       Closed      go down; a loaded file reports stopped
//  Opening     prerolled          Ready       seek if one is pending, OpenComplete,
//                                             then play or report the pause wanted
//  Prerolling  prerolled          Ready       the same, with no OpenComplete
//  Adopting    adopted            Ready       the same (the file already plays)
//  Opening,    run, pause         (same)      nothing: remembered for the preroll
//  Prerolling  seek               (same)      nothing: sought once prerolled
//  Opening     stop               Opening     nothing; stopped reported now
//  Opening,    open timeout       (same)      retry once, then the error
//  Prerolling
//  Ready       run                Ready       play (from a seek unless plain)
//              pause              Ready       pause
//              seek               Ready       seek now; paused stays paused
//              stop               Prerolling  rewind to 0, report stopped
//              end, plays left    Ready       seek to 0 and go on (a loop)
//              end, last play     Prerolling  report stopped, then rewind keeping
//                                             what the handler wants (restart)
//              next file heard    Adopting    report stopped; the handler's open
//                                 or restart  of that very file adopts it
//  Adopting    stop               Opening     rewind; it still owes OpenComplete
//  Prerolling  stop               Prerolling  rewind again
//
// "Restart" is the one way back to the start keeping the caller's wish:
// rewind, keep a position (shown, or sought once prerolled), then run or
// pause again as wanted (restart here, GstMediaControl::restartKeeping there).
#include "platform/engine/mediacontrol.h"

#include <QString>

#include <optional>

enum class PlaybackPhase { Closed, Opening, Prerolling, Ready, Adopting };

struct PlaybackState {
    // What the caller wants.
    QString path;
    int wanted = kMediaStopped; // a MediaState, as CurrentState gives it
    double selectionEnd = 0;
    double rate = 1.0;
    int playCount = 1;
    int volume = 0;

    // What has been done.
    PlaybackPhase phase = PlaybackPhase::Closed;
    int reported = kMediaStopped;
    int playsDone = 0;
    double duration = 0;
    bool retried = false;              // the open timed out once already
    bool segmentReady = false;         // a seek set this play's segment
    bool atStart = false;              // freshly prerolled at the start, nothing sought
    std::optional<double> held;        // shown as the position: stopped at an end
    std::optional<double> pendingSeek; // sought once prerolled
    std::optional<double> seekTarget;  // sought and not reached yet

    bool ready() const { return phase == PlaybackPhase::Ready; }
    bool running() const { return ready() && wanted == kMediaRunning; }
    bool selectionIsWhole() const;
    // Plays of this file still to come after the current one.
    bool loopsLeft() const;
    // Freshly prerolled, the whole file once at normal speed: no seek needed.
    bool plainPlay() const;

    // Events.
    void open(const QString &file);
    void close();
    void rewind();
    // Rewinds keeping a position, shown or sought once prerolled; returns
    // the state wanted before, for the caller to ask for again.
    enum class Keep { Shown, Sought };
    int restart(double position, Keep keep);
    // The next file, already playing, becomes this one: -> Adopting.
    void adopt(const QString &file);
    void adopted();
    // -> Ready; returns the seek to make now, if one was pending.
    std::optional<double> prerolled();
    // The pending seek, now made: the position shown until it is reached.
    std::optional<double> takePendingSeek();
    enum class Then { Nothing, Play, ReportPaused };
    Then afterPreroll() const;
    // True when the pipeline must play now.
    bool run();
    enum class Step { Ignore, Remember, Now };
    Step pause();
    Step stop();
    enum class End { Loop, Finish };
    End end(double position);
    // Now: the pipeline seeks to clampSeek(seconds); Remember: once prerolled.
    Step seek(double seconds);
    // The position a seek goes to: not below 0 nor past the end.
    double clampSeek(double seconds) const;
    // Where a play that needs a seek starts from, given the pipeline's.
    double playFrom(double pipelinePosition) const;
    // The position to show; none when the pipeline's own is right.
    std::optional<double> shownPosition() const;

private:
    void resetPlayback();
};
