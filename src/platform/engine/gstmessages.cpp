// Bus messages of the media control: forwarding to the UI thread, and
// the meaning of each message for the state machine.
#include "platform/engine/gstmediacontrol.h"

#include "platform/engine/gstreasons.h"
#include "platform/filename.h"

#include <QFileInfo>

#include <gst/gst.h>
#include <gst/video/videooverlay.h>

#include <unistd.h>

#include <memory>

namespace {

bool isPartOf(GstObject *object, GstElement *ancestor) {
    return ancestor && object &&
           (object == GST_OBJECT(ancestor) || gst_object_has_as_ancestor(object, GST_OBJECT(ancestor)));
}

} // namespace

// Runs on whichever thread posted the message.
void GstMediaControl::forwardMessage(GstMessage *msg) {
    if (gst_is_video_overlay_prepare_window_handle_message(msg)) {
        offerWindow(msg);
        return;
    }
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR:
        m_switch.errorPosted();
        break;
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_SEGMENT_DONE:
        break;
    case GST_MESSAGE_ASYNC_DONE:
    case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(msg) != GST_OBJECT(m_playbin))
            return;
        break;
    default:
        return;
    }
    const quint64 generation = m_generation.load();
    // The shared pointer unrefs the message even when the queued call is dropped.
    std::shared_ptr<GstMessage> held(gst_message_ref(msg), gst_message_unref);
    QMetaObject::invokeMethod(
        this, [this, held, generation] { handleMessage(held.get(), generation); }, Qt::QueuedConnection);
}

void GstMediaControl::handleMessage(GstMessage *msg, quint64 generation) {
    if (!isCurrent(generation) || m_play.phase == PlaybackPhase::Closed)
        return;
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR:
        handleError(msg);
        break;
    case GST_MESSAGE_ASYNC_DONE:
        if (m_play.ready())
            m_play.seekTarget.reset();
        else
            finishPreroll();
        break;
    case GST_MESSAGE_STATE_CHANGED: {
        if (!m_play.ready())
            break;
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(msg, &oldState, &newState, &pending);
        if (newState == GST_STATE_PLAYING && m_play.wanted == kMediaRunning &&
            m_play.reported != kMediaRunning)
            report(kMediaRunning);
        else if (newState == GST_STATE_PAUSED && pending == GST_STATE_VOID_PENDING &&
                 m_play.wanted == kMediaPaused && m_play.reported != kMediaPaused)
            report(kMediaPaused);
        break;
    }
    case GST_MESSAGE_SEGMENT_DONE:
        if (m_play.ready())
            handleEnd(true);
        break;
    case GST_MESSAGE_EOS:
        if (m_play.ready())
            handleEnd(false);
        break;
    default:
        break;
    }
}

void GstMediaControl::handleError(GstMessage *msg) {
    if (m_switch.state() != GaplessSwitch::HandOver::None) {
        // The next file failed while this one still played: it is opened
        // again the usual way, and fails with its own name then.
        nextFileFailed();
        return;
    }
    GError *err = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(msg, &err, &debug);
    GstObject *src = GST_MESSAGE_SRC(msg);
    int code = OtherError;
    const char *reason = gstreason::Other;
    if (isPartOf(src, m_output.bin)) {
        code = NoAudioOutput;
        reason = gstreason::NoOutput;
    } else if (isPartOf(src, m_film.sink)) {
        code = VideoFailed;
        reason = gstreason::Video;
    } else if (err->domain == GST_RESOURCE_ERROR) {
        const QByteArray local = gstengine::localName(m_play.path);
        if (err->code == GST_RESOURCE_ERROR_NOT_FOUND || ::access(local.constData(), F_OK) != 0) {
            code = NotFound;
            reason = gstreason::NotFound;
        } else if (err->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED || ::access(local.constData(), R_OK) != 0) {
            code = AccessDenied;
            reason = gstreason::Denied;
        } else {
            code = NotRecognised;
            reason = gstreason::NotRecognised;
        }
    } else if ((err->domain == GST_CORE_ERROR && err->code == GST_CORE_ERROR_MISSING_PLUGIN) ||
               (err->domain == GST_STREAM_ERROR && err->code == GST_STREAM_ERROR_CODEC_NOT_FOUND)) {
        code = NoDecoder;
        reason = gstreason::NoDecoder;
    } else if (err->domain == GST_STREAM_ERROR) {
        code = NotRecognised;
        reason = gstreason::NotRecognised;
    }
    g_error_free(err);
    g_free(debug);
    fail(code, reason);
}

void GstMediaControl::fail(int code, const char *reason) {
    const QString name = DisplayFileName(QFileInfo(m_play.path).fileName());
    // READY would leave playbin failing the next open.
    closeSilently(true);
    m_play.reported = kMediaStopped;
    emitError(code, name, reason);
}

void GstMediaControl::failLater(int code, const QString &name, const char *reason) {
    // Nothing is running, so bumping here only voids earlier queued work.
    const quint64 generation = ++m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, code, name, reason] {
            if (isCurrent(generation))
                emitError(code, name, reason);
        },
        Qt::QueuedConnection);
}

void GstMediaControl::emitError(int code, const QString &name, const char *reason) {
    bool cancelDisplay = false;
    emit Error(code, QStringLiteral("Impossible de lire « %1 » : %2").arg(name, QString::fromUtf8(reason)),
               QStringLiteral("Tunabel"), &cancelDisplay);
}
