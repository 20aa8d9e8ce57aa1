#include "platform/engine/playbackstate.h"

#include <algorithm>

bool PlaybackState::selectionIsWhole() const {
    return selectionEnd <= 0 || selectionEnd >= duration - 0.001;
}

bool PlaybackState::loopsLeft() const {
    return playsDone + 1 < std::max(1, playCount);
}

bool PlaybackState::plainPlay() const {
    return atStart && rate == 1.0 && playCount <= 1 && selectionIsWhole();
}

void PlaybackState::open(const QString &file) {
    path = file;
    duration = 0;
    selectionEnd = 0;
    retried = false;
    phase = PlaybackPhase::Opening;
}

void PlaybackState::close() {
    path.clear();
    phase = PlaybackPhase::Closed;
    duration = 0;
    selectionEnd = 0;
    resetPlayback();
}

// Back to the start of the file, stopped, with no seek pending.
void PlaybackState::resetPlayback() {
    wanted = kMediaStopped;
    segmentReady = false;
    playsDone = 0;
    held.reset();
    pendingSeek.reset();
    seekTarget.reset();
}

void PlaybackState::rewind() {
    resetPlayback();
    retried = false;
    // An adopted file rewound before its preroll still owes its OpenComplete.
    phase = phase == PlaybackPhase::Adopting ? PlaybackPhase::Opening : PlaybackPhase::Prerolling;
}

void PlaybackState::adopt(const QString &file) {
    path = file;
    phase = PlaybackPhase::Adopting;
    resetPlayback();
    duration = 0;
    selectionEnd = 0;
    retried = false;
    reported = kMediaStopped;
    atStart = true;
}

void PlaybackState::adopted() {
    phase = PlaybackPhase::Ready;
    atStart = true;
}

std::optional<double> PlaybackState::prerolled() {
    adopted();
    return takePendingSeek();
}

std::optional<double> PlaybackState::takePendingSeek() {
    const std::optional<double> seek = pendingSeek;
    if (seek)
        seekTarget = seek;
    pendingSeek.reset();
    return seek;
}

PlaybackState::Then PlaybackState::afterPreroll() const {
    if (wanted == kMediaRunning)
        return Then::Play;
    if (wanted == kMediaPaused && reported != kMediaPaused)
        return Then::ReportPaused;
    return Then::Nothing;
}

bool PlaybackState::run() {
    if (phase == PlaybackPhase::Closed)
        return false;
    if (wanted == kMediaStopped) {
        playsDone = 0;
        segmentReady = false;
    }
    // Stopped at the end, the pipeline was already rewound for this replay.
    if (held && phase == PlaybackPhase::Prerolling)
        held.reset();
    wanted = kMediaRunning;
    return ready();
}

PlaybackState::Step PlaybackState::pause() {
    if (phase == PlaybackPhase::Closed || wanted == kMediaPaused)
        return Step::Ignore;
    wanted = kMediaPaused;
    return ready() ? Step::Now : Step::Remember;
}

PlaybackState::Step PlaybackState::stop() {
    if (phase == PlaybackPhase::Closed)
        return Step::Ignore;
    if (phase != PlaybackPhase::Opening)
        return Step::Now;
    // The open goes on; the stop is reported now, as for a loaded file.
    wanted = kMediaStopped;
    return Step::Remember;
}

int PlaybackState::restart(double position, Keep keep) {
    const int was = wanted;
    rewind();
    (keep == Keep::Shown ? held : pendingSeek) = position;
    return was;
}

PlaybackState::Step PlaybackState::seek(double seconds) {
    seconds = clampSeek(seconds);
    held.reset();
    (ready() ? seekTarget : pendingSeek) = seconds;
    return ready() ? Step::Now : Step::Remember;
}

PlaybackState::End PlaybackState::end(double position) {
    ++playsDone;
    if (playsDone < std::max(1, playCount) && wanted == kMediaRunning)
        return End::Loop;
    wanted = kMediaStopped;
    held = position;
    return End::Finish;
}

double PlaybackState::clampSeek(double seconds) const {
    seconds = std::max(0.0, seconds);
    return duration > 0 ? std::min(seconds, duration) : seconds;
}

double PlaybackState::playFrom(double pipelinePosition) const {
    const double from = held ? 0.0 : seekTarget.value_or(pipelinePosition);
    return selectionEnd > 0 && from >= selectionEnd - 0.001 ? 0.0 : from;
}

std::optional<double> PlaybackState::shownPosition() const {
    if (held)
        return held;
    if (!ready())
        return pendingSeek.value_or(0);
    return seekTarget;
}
