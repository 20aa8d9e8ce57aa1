// Gapless hand-over: playbin continues into the next file from its
// about-to-finish signal; the player's own open of that file then adopts
// what already plays instead of restarting the pipeline.
#include "platform/engine/gstmediacontrol.h"

#include <QFileInfo>

#include <gst/gst.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

// A file the hand-over may take: a regular, readable sound file that its
// decoder may be given.
// Only the plain sound formats switch: the MIDI parser mishandles queries
// made across a switch, films need their video branch set up by an open.
// AIFF switches once its chunks have been checked (looksLikeItsKind).
bool switchable(const QString &path) {
    static const QStringList kinds = {"wav", "au", "snd", "aiff", "aif", "aifc", "mp3", "mp2", "mpa", "mpga"};
    return !path.isEmpty() && kinds.contains(QFileInfo(path).suffix().toLower());
}

bool canTake(const QString &path) {
    if (!switchable(path))
        return false;
    const QByteArray local = gstengine::localName(path);
    struct stat st {};
    return ::stat(local.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(local.constData(), R_OK) == 0 && !gstengine::structureProblem(path);
}

} // namespace

void GstMediaControl::installHandOver() {
    g_signal_connect(m_playbin, "about-to-finish", G_CALLBACK(+[](GstElement *, gpointer self) {
                         static_cast<GstMediaControl *>(self)->onAboutToFinish();
                     }),
                     this);
    // playbin sets up the next file in its own handler of its source's
    // "drained", right after about-to-finish: a handler run after it marks
    // the end of the switch.
    g_signal_connect(
        m_playbin, "element-added", G_CALLBACK(+[](GstBin *, GstElement *child, gpointer self) {
            GstElementFactory *factory = gst_element_get_factory(child);
            if (!factory || g_strcmp0(GST_OBJECT_NAME(factory), "uridecodebin") != 0 ||
                g_object_get_data(G_OBJECT(child), "tunabel-drain-hook"))
                return; // playbin adds its sources again each time it reuses them
            g_object_set_data(G_OBJECT(child), "tunabel-drain-hook", self);
            g_signal_connect_after(child, "drained", G_CALLBACK(+[](GstElement *, gpointer data) {
                                       static_cast<GstMediaControl *>(data)->onDrainHandled();
                                   }),
                                   self);
            // The next file's pads are linked in playbin's handler of
            // this one, on the next file's own thread.
            g_signal_connect_after(child, "no-more-pads", G_CALLBACK(+[](GstElement *, gpointer data) {
                                       static_cast<GstMediaControl *>(data)->onPadsLinked();
                                   }),
                                   self);
        }),
        this);
    // Where the next file's first sample enters the output, its running time
    // says when it will be heard.
    GstPad *pad = gst_element_get_static_pad(m_audioBin, "sink");
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
        [](GstPad *, GstPadProbeInfo *info, gpointer data) -> GstPadProbeReturn {
            auto *self = static_cast<GstMediaControl *>(data);
            GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
            if (GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START && self->m_armed.load())
                self->m_streamStarted = true;
            if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT && self->m_streamStarted.exchange(false)) {
                const GstSegment *segment = nullptr;
                gst_event_parse_segment(event, &segment);
                guint64 start = gst_segment_to_running_time(segment, GST_FORMAT_TIME, segment->start);
                const qint64 runningTime = start == GST_CLOCK_TIME_NONE ? -1 : qint64(start);
                const quint64 generation = self->m_generation.load();
                QMetaObject::invokeMethod(
                    self,
                    [self, runningTime, generation] { self->onNextStreamQueued(runningTime, generation); },
                    Qt::QueuedConnection);
            }
            return GST_PAD_PROBE_OK;
        },
        this, nullptr);
    gst_object_unref(pad);
}

// Checked once per offered file: the MPEG check walks the whole file.
bool GstMediaControl::canTakeNext() {
    if (m_nextPath != m_vettedPath) {
        m_vettedPath = m_nextPath;
        m_vetted = canTake(m_nextPath) && gstengine::looksLikeItsKind(m_nextPath);
        // AIFF is demuxed by libav (see initEngine), too large to keep
        // loaded for nothing and too slow to load in the switch itself.
        if (m_vetted && QFileInfo(m_nextPath).suffix().toLower().startsWith("aif"))
            gstengine::loadPluginSoon("libav");
    }
    return m_vetted;
}

void GstMediaControl::setNextFileName(const QString &path) {
    if (path == m_nextPath)
        return;
    m_nextPath = path;
    updateHandOver();
}

// What the streaming thread may take, from the UI thread's state.
void GstMediaControl::updateHandOver() {
    const bool allowed = m_playbin && m_handOver == HandOver::None &&
                         (m_play.phase == PlaybackPhase::Opening ||
                          m_play.phase == PlaybackPhase::Prerolling || m_play.ready()) &&
                         m_play.rate == 1.0 && m_play.selectionIsWhole() &&
                         m_play.playsDone + 1 >= std::max(1, m_play.playCount) &&
                         !gstengine::hasVideo(m_play.path) && m_nextPath != m_refusedPath && canTakeNext();
    const QByteArray uri = allowed ? gstengine::fileUri(m_nextPath) : QByteArray();
    std::lock_guard lock(m_nextMutex);
    if (m_armed.load())
        return; // taken already: only a drop undoes it
    m_nextUri = uri;
    m_armedPath = allowed ? m_nextPath : QString();
}

bool GstMediaControl::reloadIfArmed() {
    if (!m_armed.load() || !m_play.ready())
        return false;
    // playbin already prepares the next file: a seek now could let it in
    // early, so this file reloads where it was.
    restartKeeping(queryPosition(), PlaybackState::Keep::Sought);
    return true;
}

void GstMediaControl::dropHandOver() {
    m_handOverTimer.stop();
    m_handOver = HandOver::None;
    m_handOverPath.clear();
    std::lock_guard lock(m_nextMutex);
    m_nextUri.clear();
    m_armed = false;
    m_streamStarted = false;
}

// Streaming thread: the current file has been read to its end.
void GstMediaControl::onAboutToFinish() {
    std::lock_guard lock(m_nextMutex);
    // While this thread changes playbin the next file opens the usual way.
    if (m_nextUri.isEmpty() || m_touching > 0)
        return;
    g_object_set(m_playbin, "uri", m_nextUri.constData(), nullptr);
    m_nextUri.clear();
    m_armed = true;
    m_switchingThread = std::this_thread::get_id();
    m_awaitingPads = true;
}

// Streaming thread, after playbin's own handling of the end of a source.
void GstMediaControl::onDrainHandled() {
    std::lock_guard lock(m_nextMutex);
    if (m_switchingThread != std::this_thread::get_id())
        return;
    m_switchingThread = {};
    m_switchDone.notify_all();
}

// A state change before the next file's pads are linked would leave them
// unlinked: its source then ends at once and playbin re-enters the switch.
void GstMediaControl::onPadsLinked() {
    std::lock_guard lock(m_nextMutex);
    if (m_awaitingPads.exchange(false))
        m_switchDone.notify_all();
}

GstMediaControl::Touch::Touch(GstMediaControl &control) : m_control(control) {
    std::unique_lock lock(control.m_nextMutex);
    // A switch takes milliseconds; the bound only keeps a wedged one from
    // freezing the window as well. A next file's error ends the wait without
    // this lock, so short slices catch a wake-up it may miss.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    const auto done = [&control] {
        return control.m_switchingThread == std::thread::id() && !control.m_awaitingPads.load();
    };
    while (!done() && std::chrono::steady_clock::now() < deadline)
        control.m_switchDone.wait_for(lock, std::chrono::milliseconds(20));
    if (!done()) {
        // Its end went unseen: wait no more for it.
        control.m_switchingThread = {};
        control.m_awaitingPads = false;
    }
    ++control.m_touching;
}

GstMediaControl::Touch::~Touch() {
    std::lock_guard lock(m_control.m_nextMutex);
    --m_control.m_touching;
}

void GstMediaControl::onNextStreamQueued(qint64 runningTimeNs, quint64 generation) {
    if (!isCurrent(generation) || !m_play.ready() || !m_armed.load())
        return;
    // The current file ends as heard when the next one's first sample plays.
    qint64 waitNs = 0;
    if (GstClock *clock = gst_element_get_clock(m_playbin)) {
        const GstClockTime now = gst_clock_get_time(clock);
        gst_object_unref(clock);
        const GstClockTime base = gst_element_get_base_time(m_playbin);
        const GstClockTime latency = gstengine::latency(m_playbin);
        if (runningTimeNs >= 0 && now != GST_CLOCK_TIME_NONE && now >= base)
            waitNs = runningTimeNs + qint64(latency) - qint64(now - base);
    }
    const int waitMs = int(std::clamp<qint64>(waitNs / 1000000, 0, 5000));
    m_handOverTimer.disconnect();
    connect(&m_handOverTimer, &QTimer::timeout, this, [this, generation] { onNextStreamHeard(generation); });
    m_handOverTimer.start(waitMs);
}

void GstMediaControl::onNextStreamHeard(quint64 generation) {
    if (!isCurrent(generation) || !m_play.ready() || !m_armed.load())
        return;
    QString next;
    {
        std::lock_guard lock(m_nextMutex);
        next = m_armedPath;
        m_armed = false;
    }
    m_handOver = HandOver::Heard;
    m_handOverPath = next;
    const double end = m_play.selectionEnd > 0 ? m_play.selectionEnd : m_play.duration;
    m_play.wanted = kMediaStopped;
    m_play.held = end;
    report(kMediaStopped);
    if (!isCurrent(generation) || !m_play.ready())
        return; // the handler adopted the next file, or opened or closed another
    // Nothing asked for the next file: back to this one's start, as at any end.
    restartKeeping(end, PlaybackState::Keep::Shown);
}

bool GstMediaControl::adopt(const QString &path) {
    if (m_handOver != HandOver::Heard || path != m_handOverPath || !m_play.ready())
        return false;
    m_handOver = HandOver::None;
    m_handOverPath.clear();
    ++m_handOvers;
    m_nextPath.clear();
    m_play.adopt(path);
    updateHandOver();
    // Messages the new file posts from now on carry this stamp too.
    ++m_generation;
    const quint64 generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (isCurrent(generation) && m_play.phase == PlaybackPhase::Adopting)
                finishAdopting();
        },
        Qt::QueuedConnection);
    return true;
}

void GstMediaControl::finishAdopting() {
    readDuration();
    m_play.adopted();
    m_tick.start();
    updateHandOver();
    const quint64 generation = m_generation.load();
    emit OpenComplete();
    if (!isCurrent(generation) || !m_play.ready())
        return;
    if (const std::optional<double> seek = m_play.takePendingSeek())
        seekTo(*seek, true);
    if (m_play.wanted == kMediaRunning) {
        startPlaying();
    } else if (m_play.wanted == kMediaPaused) {
        const Touch touch(*this);
        gst_element_set_state(m_playbin, GST_STATE_PAUSED);
    } else {
        // Opened but not started: stopped at its start, like any open.
        restartAtZero();
        return;
    }
    emit NextFileWanted();
}

void GstMediaControl::nextFileFailed() {
    const bool endReported = m_handOver == HandOver::Heard;
    {
        std::lock_guard lock(m_nextMutex);
        m_refusedPath = m_armedPath;
    }
    const double position = m_play.ready() ? queryPosition() : 0;
    takeDown(true);
    if (endReported)
        return; // the handler's open of that file starts afresh
    if (!m_play.ready()) {
        // Still loading this file: load it again, without the next one.
        setUri(m_play.path);
        startPreroll();
        return;
    }
    // playbin reads a file to its end well before it is heard, and tells of
    // the next one's failure only as it switches: this one goes on from
    // where it was and ends the usual way, and the rule's own open of the
    // next file then reports that file's error.
    restartKeeping(position, PlaybackState::Keep::Sought);
}
