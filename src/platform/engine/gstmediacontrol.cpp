#include "platform/engine/gstmediacontrol.h"

#include "platform/engine/gstreasons.h"
#include "platform/engine/pulseoutput.h"
#include "platform/filename.h"

#include <QFileInfo>

#include <gst/gst.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

gint64 toNs(double seconds) {
    return gint64(std::llround(seconds * double(GST_SECOND)));
}

QString shownName(const QString &path) {
    return DisplayFileName(QFileInfo(path).fileName());
}

} // namespace

void GstMediaControl::setUri(const QString &path) {
    const QByteArray uri = gstengine::fileUri(path);
    const auto touch = touchPipeline();
    g_object_set(m_playbin, "uri", uri.constData(), nullptr);
}

void GstMediaControl::setFileName(const QString &path) {
    if (path.isEmpty()) {
        if (m_play.phase == PlaybackPhase::Closed)
            return;
        // A file still opening counts as loaded: the player asked for it, and
        // a user's Stop must reach the stopped display whatever the phase.
        if (rampUnheard()) {
            // The pipeline goes down once the last volume change is heard.
            forget();
            ++m_generation; // what the file still posts meanwhile is stale
            afterRamp([this] { takeDown(false); });
        } else {
            closeSilently();
        }
        report(kMediaStopped);
        return;
    }
    endWarmUp();
    if (adopt(path))
        return;
    if (m_play.phase != PlaybackPhase::Closed)
        closeSilently();
    m_play.reported = kMediaStopped;

    const QString name = shownName(path);
    const QByteArray local = gstengine::localName(path);
    struct stat st {};
    if (::stat(local.constData(), &st) != 0) {
        failLater(NotFound, name, gstreason::NotFound);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        failLater(NotRegularFile, name, gstreason::NotRegular);
        return;
    }
    if (::access(local.constData(), R_OK) != 0) {
        failLater(AccessDenied, name, gstreason::Denied);
        return;
    }
    if (const char *problem = gstengine::structureProblem(path)) {
        failLater(NotRecognised, name, problem);
        return;
    }
    if (!ensurePipeline()) {
        failLater(NoAudioOutput, name, gstreason::NoOutput);
        return;
    }
    m_play.open(path);
    setUri(path);
    // Only the MPEG films have pictures: sound files never touch the video sink.
    guint flags = 0;
    g_object_get(m_playbin, "flags", &flags, nullptr);
    bool film = false;
    if (gstengine::hasVideo(path) && m_film.sink) {
        chooseVideoSink(true);
        film = showFilm();
    }
    if (!film) {
        hideFilm();
        chooseVideoSink(false);
    }
    const guint wanted = film ? flags | gstengine::kPlayFlagVideo : flags & ~gstengine::kPlayFlagVideo;
    if (wanted != flags) {
        const auto touch = touchPipeline();
        g_object_set(m_playbin, "flags", wanted, nullptr);
    }
    m_switch.expectOffer();
    startPreroll();
    updateHandOver();
    const quint64 generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (isCurrent(generation) && m_play.phase != PlaybackPhase::Closed) {
                emit NextFileWanted();
                m_switch.settle();
            }
        },
        Qt::QueuedConnection);
}

void GstMediaControl::startPreroll() {
    m_openTimer.start(std::max(1, m_options.openTimeoutMs));
    const auto touch = touchPipeline();
    if (gst_element_set_state(m_playbin, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        // The error message, posted before this returned, is normally handled
        // first; this only catches a failure that posted nothing.
        const quint64 generation = m_generation.load();
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (isCurrent(generation) && m_play.phase != PlaybackPhase::Closed && !m_play.ready())
                    fail(NotRecognised, gstreason::NotRecognised);
            },
            Qt::QueuedConnection);
    }
}

void GstMediaControl::takeDown(bool toNull) {
    cutNow();
    m_openTimer.stop();
    const auto touch = touchPipeline();
    dropHandOver();
    gstengine::unpinOutputRate(m_output.format);
    if (m_playbin)
        gst_element_set_state(m_playbin, toNull ? GST_STATE_NULL : GST_STATE_READY);
    // Downward state changes are synchronous: no thread can still post with
    // the old stamp once this is bumped.
    ++m_generation;
}

void GstMediaControl::closeSilently(bool toNull) {
    takeDown(toNull);
    forget();
}

void GstMediaControl::forget() {
    m_tick.stop();
    m_switch.next.clear();
    m_switch.refused.clear();
    m_play.close();
}

void GstMediaControl::restartAtZero() {
    takeDown(false);
    m_play.rewind();
    reload();
}

void GstMediaControl::reload() {
    // playbin may hold the next file's address since a hand-over was armed.
    setUri(m_play.path);
    startPreroll();
    updateHandOver();
}

// The one way back to the start that keeps what the caller wants.
void GstMediaControl::restartKeeping(double position, PlaybackState::Keep keep) {
    takeDown(false);
    const int wanted = m_play.restart(position, keep);
    reload();
    if (wanted == kMediaRunning)
        Run();
    else if (wanted == kMediaPaused)
        Pause();
}

void GstMediaControl::readDuration() {
    gint64 duration = 0;
    if (gst_element_query_duration(m_playbin, GST_FORMAT_TIME, &duration) && duration > 0)
        m_play.duration = double(duration) / GST_SECOND;
    if (gstengine::needsParsedDuration(m_play.path)) {
        const double parsed = gstengine::parsedDuration(m_play.path, std::max(500, m_options.openTimeoutMs));
        if (parsed > 0)
            m_play.duration = parsed;
    }
    m_play.selectionEnd = m_play.duration;
}

void GstMediaControl::finishPreroll() {
    m_openTimer.stop();
    const bool opening = m_play.phase == PlaybackPhase::Opening;
    if (const std::optional<double> seek = m_play.prerolled())
        seekTo(*seek, true);
    if (opening && gstengine::outputIsFallback(m_output.sink)) {
        // The automatic output found no sound device and settled for a
        // silent stand-in: say so rather than play to nothing.
        fail(NoAudioOutput, gstreason::NoOutput);
        return;
    }
    if (opening) {
        readDuration();
        if (!announceOpened())
            return;
    }
    thenAsWanted();
}

// Tells the program the file is open; false when its handler closed it or
// opened another meanwhile.
bool GstMediaControl::announceOpened() {
    m_tick.start();
    updateHandOver();
    const quint64 generation = m_generation.load();
    emit OpenComplete();
    return isCurrent(generation) && m_play.ready();
}

void GstMediaControl::thenAsWanted() {
    switch (m_play.afterPreroll()) {
    case PlaybackState::Then::Play:
        startPlaying();
        break;
    case PlaybackState::Then::ReportPaused:
        report(kMediaPaused);
        break;
    case PlaybackState::Then::Nothing:
        break;
    }
}

void GstMediaControl::onOpenTimeout() {
    if (m_play.phase != PlaybackPhase::Opening && m_play.phase != PlaybackPhase::Prerolling)
        return;
    if (!m_play.retried) {
        m_play.retried = true;
        takeDown(true);
        startPreroll();
        return;
    }
    fail(TimedOut, gstreason::TimedOut);
}

void GstMediaControl::handleEnd(bool segmentDone) {
    const double position = queryPosition();
    if (m_play.end(position) == PlaybackState::End::Loop) {
        // A segment end keeps the pipeline running: a non-flushing seek
        // continues without a gap. After EOS only a flush restarts it.
        seekTo(0, !segmentDone);
        return;
    }
    // The stopped notification goes first: its handler usually opens the next
    // file at once, and rewinding this one before would preroll it for nothing.
    // Nothing is heard meanwhile, the stream has ended.
    const quint64 generation = m_generation.load();
    report(kMediaStopped);
    if (!isCurrent(generation) || !m_play.ready())
        return; // the handler opened or closed a file
    restartKeeping(position, PlaybackState::Keep::Shown);
}

void GstMediaControl::report(int newState) {
    const int oldState = m_play.reported;
    m_play.reported = newState;
    emit StateChange(oldState, newState);
}

void GstMediaControl::reportLater(int newState) {
    const quint64 generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, newState] {
            if (isCurrent(generation) && m_play.ready() && m_play.wanted == newState &&
                m_play.reported != newState)
                report(newState);
        },
        Qt::QueuedConnection);
}

void GstMediaControl::seekTo(double from, bool flush) {
    int flags = GST_SEEK_FLAG_ACCURATE;
    if (flush)
        flags |= GST_SEEK_FLAG_FLUSH;
    if (m_play.loopsLeft())
        flags |= GST_SEEK_FLAG_SEGMENT;
    // No stop for the whole file: some demuxers (MPEG program streams) clamp
    // to an estimated length shorter than the real one.
    const bool whole = m_play.selectionIsWhole();
    const auto touch = touchPipeline();
    gst_element_seek(m_playbin, m_play.rate, GST_FORMAT_TIME, GstSeekFlags(flags), GST_SEEK_TYPE_SET,
                     toNs(std::max(0.0, from)), whole ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                     whole ? GST_CLOCK_TIME_NONE : toNs(m_play.selectionEnd));
    m_play.segmentReady = true;
    m_play.atStart = false;
}

void GstMediaControl::startPlaying() {
    // Freshly prerolled at the start, a plain play of the whole file needs no
    // seek, which also spares demuxers whose seeking is approximate.
    const bool plain = m_play.plainPlay();
    if (GST_STATE_TARGET(m_playbin) == GST_STATE_PLAYING) {
        // A handed-over file already plays: only its own end and loops need a seek.
        if (m_play.atStart && !plain)
            seekTo(queryPosition(), true);
        m_play.atStart = false;
        if (m_play.reported != kMediaRunning)
            reportLater(kMediaRunning);
        return;
    }
    if (!m_play.segmentReady && !plain) {
        seekTo(m_play.playFrom(queryPosition()), true);
    }
    m_play.atStart = false;
    m_play.held.reset();
    const auto touch = touchPipeline(GaplessSwitch::TouchKind::Start);
    gst_element_set_state(m_playbin, GST_STATE_PLAYING);
}

double GstMediaControl::queryPosition() const {
    gint64 position = 0;
    if (m_playbin && gst_element_query_position(m_playbin, GST_FORMAT_TIME, &position) && position >= 0)
        return double(position) / GST_SECOND;
    return 0;
}

double GstMediaControl::CurrentPosition() const {
    if (const std::optional<double> shown = m_play.shownPosition())
        return *shown;
    return queryPosition();
}

void GstMediaControl::setCurrentPosition(double seconds) {
    if (m_play.phase == PlaybackPhase::Closed)
        return;
    const double old = CurrentPosition();
    seconds = m_play.clampSeek(seconds);
    reloadIfArmed();
    if (m_play.seek(seconds) == PlaybackState::Step::Now) {
        dropHandOver();
        seekTo(seconds, true);
        updateHandOver();
    }
    const quint64 generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, old, seconds] {
            if (isCurrent(generation))
                emit PositionChange(old, seconds);
        },
        Qt::QueuedConnection);
}

void GstMediaControl::setSelectionEnd(double seconds) {
    seconds = std::max(0.0, seconds);
    if (m_play.duration > 0)
        seconds = std::min(seconds, m_play.duration);
    m_play.selectionEnd = seconds;
    updateHandOver();
    if (!m_play.selectionIsWhole() && reloadIfArmed())
        return;
    if (!m_play.running()) {
        m_play.segmentReady = false;
        return;
    }
    const double position = queryPosition();
    if (position >= seconds) {
        const quint64 generation = m_generation.load();
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (isCurrent(generation) && m_play.running()) {
                    m_play.playsDone = std::max(m_play.playsDone, m_play.playCount);
                    handleEnd(false);
                }
            },
            Qt::QueuedConnection);
        return;
    }
    dropHandOver();
    seekTo(position, true);
    updateHandOver();
}

void GstMediaControl::setPlayCount(int count) {
    m_play.playCount = std::max(1, count);
    // The next file may already be taken for the end of this one: playing
    // this one again undoes that.
    if (m_play.loopsLeft())
        reloadIfArmed();
    updateHandOver();
}

void GstMediaControl::setRate(double rate) {
    m_play.rate = std::clamp(rate, 0.1, 2.2);
    if (reloadIfArmed()) {
        updateHandOver();
        return;
    }
    if (m_play.running()) {
        dropHandOver();
        pulseoutput::keepPlayingThroughFlush(m_output.sink, true);
        seekTo(m_play.seekTarget.value_or(queryPosition()), true);
        pulseoutput::keepPlayingThroughFlush(m_output.sink, false);
    } else {
        m_play.segmentReady = false;
    }
    updateHandOver();
}

void GstMediaControl::setVolume(int hundredthsOfDb) {
    using namespace std::chrono;
    // One write per 1 ms slot, scheduled from the previous slot so a ramp of
    // many writes keeps its length without drifting.
    const auto slot = std::max(steady_clock::now(), m_lastVolumeSlot + milliseconds(1));
    std::this_thread::sleep_until(slot);
    m_lastVolumeSlot = slot;
    m_play.volume = std::clamp(hundredthsOfDb, -10000, 0);
    m_output.gain->target.store(float(std::pow(10.0, m_play.volume / 2000.0)));
}

// Some demuxers never end a cut-off file: running with a position that no
// longer moves for two seconds counts as its end. A file whose next one is
// taken was read to its end; and in a chain of files shorter than the output
// buffer the position stays put, the sink holding a later file's segment.
void GstMediaControl::watchStall() {
    if (!m_play.running() || GST_STATE(m_playbin) != GST_STATE_PLAYING ||
        m_switch.state() != GaplessSwitch::HandOver::None) {
        m_stall.ticks = 0;
        return;
    }
    const double position = queryPosition();
    // An output that takes nothing (its server restarting, or filling its
    // first block) holds the file rather than losing its end.
    const long long written = pulseoutput::bytesWritten(m_output.sink);
    const bool held = written >= 0 && written == m_stall.lastWritten;
    m_stall.ticks = std::abs(position - m_stall.lastPosition) < 0.0005 && !held ? m_stall.ticks + 1 : 0;
    m_stall.lastPosition = position;
    m_stall.lastWritten = written;
    if (m_stall.ticks >= 8) {
        m_stall.ticks = 0;
        m_play.playsDone = std::max(m_play.playsDone, m_play.playCount);
        handleEnd(false);
    }
}

// A volume ramp reaches the speaker one output buffer later: a pause or
// stop right after it is cut only once the ramp has been heard.
bool GstMediaControl::rampUnheard() const {
    using namespace std::chrono;
    return m_play.running() && m_playbin && steady_clock::now() <= m_lastVolumeSlot + milliseconds(500);
}

void GstMediaControl::afterRamp(std::function<void()> cut) {
    cutNow();
    m_cut.work = std::move(cut);
    m_cut.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    checkRamp();
}

void GstMediaControl::checkRamp() {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    if (now < m_cut.deadline) {
        // First the last write reaches a buffer, then that buffer the output.
        if (m_output.gain->applied.load() != m_output.gain->target.load()) {
            m_cut.timer.start(1);
            return;
        }
        const qint64 unheardMs = (gstengine::unheardNs(m_playbin, *m_output.gain) + 999999) / 1000000;
        const qint64 leftMs = duration_cast<milliseconds>(m_cut.deadline - now).count();
        if (unheardMs > 0 && leftMs > 0) {
            m_cut.timer.start(int(std::min(unheardMs, leftMs)));
            return;
        }
    }
    cutNow();
}

// Any other change of the pipeline makes a waiting cut first.
void GstMediaControl::cutNow() {
    m_cut.timer.stop();
    if (const std::function<void()> work = std::exchange(m_cut.work, nullptr))
        work();
}

GaplessSwitch::Touch GstMediaControl::touchPipeline(GaplessSwitch::TouchKind kind) {
    cutNow();
    return GaplessSwitch::Touch(m_switch, kind);
}

void GstMediaControl::Run() {
    if (m_play.run())
        startPlaying();
}

void GstMediaControl::Pause() {
    const bool unheard = rampUnheard();
    if (m_play.pause() != PlaybackState::Step::Now)
        return;
    if (unheard)
        afterRamp([this] {
            if (m_play.ready() && m_play.wanted == kMediaPaused)
                pausePipeline();
        });
    else
        pausePipeline();
}

void GstMediaControl::pausePipeline() {
    if (GST_STATE_TARGET(m_playbin) == GST_STATE_PLAYING) {
        const auto touch = touchPipeline();
        gst_element_set_state(m_playbin, GST_STATE_PAUSED);
    }
    // The bus reports a pause from PLAYING; anything else never changes the
    // pipeline's state, so confirm it ourselves.
    if (m_play.reported != kMediaRunning)
        reportLater(kMediaPaused);
}

void GstMediaControl::Stop() {
    const PlaybackState::Step step = m_play.stop();
    if (step == PlaybackState::Step::Ignore)
        return;
    if (step == PlaybackState::Step::Now && rampUnheard()) {
        // Rewound now; the pipeline follows once the ramp is heard.
        m_play.rewind();
        ++m_generation; // what the file still posts meanwhile is stale
        afterRamp([this] {
            takeDown(false);
            reload();
        });
    } else if (step == PlaybackState::Step::Now) {
        restartAtZero();
    }
    report(kMediaStopped);
}
