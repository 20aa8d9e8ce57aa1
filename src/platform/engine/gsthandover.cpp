// Gapless hand-over: playbin continues into the next file from its
// about-to-finish signal; the player's own open of that file then adopts
// what already plays instead of restarting the pipeline.
#include "platform/engine/gstmediacontrol.h"

#include <gst/gst.h>

#include <algorithm>

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
                                       static_cast<GstMediaControl *>(data)->m_switch.drainHandled();
                                   }),
                                   self);
            // The next file's pads are linked in playbin's handler of
            // this one, on the next file's own thread.
            g_signal_connect_after(child, "no-more-pads", G_CALLBACK(+[](GstElement *, gpointer data) {
                                       static_cast<GstMediaControl *>(data)->m_switch.padsLinked();
                                   }),
                                   self);
        }),
        this);
    // Where the next file's first sample enters the output, its running time
    // says when it will be heard.
    GstPad *pad = gst_element_get_static_pad(m_output.bin, "sink");
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
        [](GstPad *, GstPadProbeInfo *info, gpointer data) -> GstPadProbeReturn {
            auto *self = static_cast<GstMediaControl *>(data);
            GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
            if (GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START)
                self->m_switch.streamStarts();
            if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT && self->m_switch.segmentStarts()) {
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

void GstMediaControl::setNextFileName(const QString &path) {
    if (path == m_switch.next)
        return;
    m_switch.next = path;
    updateHandOver();
}

// What the streaming thread may take, from the UI thread's state.
void GstMediaControl::updateHandOver() {
    const bool allowed = m_playbin && m_switch.state() == GaplessSwitch::HandOver::None &&
                         (m_play.phase == PlaybackPhase::Opening ||
                          m_play.phase == PlaybackPhase::Prerolling || m_play.ready()) &&
                         m_play.rate == 1.0 && m_play.selectionIsWhole() && !m_play.loopsLeft() &&
                         !gstengine::hasVideo(m_play.path) && m_switch.next != m_switch.refused &&
                         m_switch.mayTake(m_switch.next);
    m_switch.offer(allowed ? gstengine::fileUri(m_switch.next) : QByteArray(), m_switch.next);
}

bool GstMediaControl::reloadIfArmed() {
    if (m_switch.state() != GaplessSwitch::HandOver::Armed || !m_play.ready())
        return false;
    // playbin already prepares the next file: a seek now could let it in
    // early, so this file reloads where it was.
    restartKeeping(queryPosition(), PlaybackState::Keep::Sought);
    return true;
}

void GstMediaControl::dropHandOver() {
    m_handOverTimer.stop();
    m_switch.drop();
}

// Streaming thread: the current file has been read to its end.
void GstMediaControl::onAboutToFinish() {
    if (m_switch.take([this](const char *uri) { g_object_set(m_playbin, "uri", uri, nullptr); }))
        gstengine::pinOutputRate(m_output.format);
}

void GstMediaControl::onNextStreamQueued(qint64 runningTimeNs, quint64 generation) {
    if (!isCurrent(generation) || !m_play.ready() || m_switch.state() != GaplessSwitch::HandOver::Armed)
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
    if (!isCurrent(generation) || !m_play.ready() || m_switch.state() != GaplessSwitch::HandOver::Armed)
        return;
    m_switch.heard();
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
    if (m_switch.state() != GaplessSwitch::HandOver::Heard || path != m_switch.taken() || !m_play.ready())
        return false;
    m_switch.adopted();
    m_stall = {};
    ++m_switch.handOvers;
    m_switch.next.clear();
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
    if (!announceOpened())
        return;
    if (const std::optional<double> seek = m_play.takePendingSeek())
        seekTo(*seek, true);
    if (m_play.wanted == kMediaRunning) {
        startPlaying();
    } else if (m_play.wanted == kMediaPaused) {
        const auto touch = touchPipeline();
        gst_element_set_state(m_playbin, GST_STATE_PAUSED);
    } else {
        // Opened but not started: stopped at its start, like any open.
        restartAtZero();
        return;
    }
    emit NextFileWanted();
    m_switch.settle();
}

void GstMediaControl::nextFileFailed() {
    const bool endReported = m_switch.state() == GaplessSwitch::HandOver::Heard;
    m_switch.refused = m_switch.taken();
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
