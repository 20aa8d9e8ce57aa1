// Films: the video sink draws into the control's own native child window,
// made only when a film is about to show, so sound files never create one.
#include "platform/engine/gstmediacontrol.h"

#include "platform/listcontrols.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>

#include <gst/gst.h>
#include <gst/video/videooverlay.h>

#include <algorithm>

namespace {

constexpr const char *kFitName = "tunabel-fit";

// ximagesink draws at the stream's own size, cropped by the window: scale
// the picture to the control first (letterboxed, square pixels). Events stay
// with Qt: the control's clicks open the menu, its repaints call expose.
QString withScaler(const QString &description) {
    if (description.trimmed() == QLatin1String("ximagesink"))
        return QStringLiteral("videoconvert ! videoscale ! capsfilter name=%1 ! ximagesink").arg(kFitName);
    return description;
}

GstElement *overlayOf(GstElement *sink) {
    if (GST_IS_VIDEO_OVERLAY(sink))
        return sink;
    if (!GST_IS_BIN(sink))
        return nullptr;
    GstElement *found = gst_bin_get_by_interface(GST_BIN(sink), GST_TYPE_VIDEO_OVERLAY);
    // Borrowed: the bin keeps its children as long as the playbin keeps it.
    if (found)
        gst_object_unref(found);
    return found;
}

} // namespace

GstElement *GstMediaControl::makeVideoSink(const QString &description, QString *error) {
    GstElement *sink = gstengine::makeElement(withScaler(description), error);
    if (!sink)
        return nullptr;
    m_film.overlay = overlayOf(sink);
    if (m_film.overlay && g_object_class_find_property(G_OBJECT_GET_CLASS(m_film.overlay), "handle-events"))
        g_object_set(m_film.overlay, "handle-events", FALSE, nullptr);
    if (GST_IS_BIN(sink)) {
        m_film.fit = gst_bin_get_by_name(GST_BIN(sink), kFitName);
        if (m_film.fit)
            gst_object_unref(m_film.fit);
    }
    return sink;
}

// Gives the film's sink this control's window; false when the film must play
// without its picture.
bool GstMediaControl::showFilm() {
    if (!m_film.sink)
        return false;
    // A sink that draws nowhere (a fakesink) needs no window.
    if (!m_film.overlay && !GST_IS_BIN(m_film.sink))
        return true;
    // A control that is a window of its own would put the picture in a
    // stray top-level window; on Wayland a child widget's id is no surface.
    if (isWindow() || QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return false;
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_PaintOnScreen);
    const WId id = winId();
    if (!id)
        return false;
    m_film.window.store(quintptr(id));
    if (m_film.fit) {
        const qreal ratio = devicePixelRatioF();
        GstCaps *caps = gst_caps_new_simple(
            "video/x-raw", "width", G_TYPE_INT, std::max(1, int(width() * ratio)), "height", G_TYPE_INT,
            std::max(1, int(height() * ratio)), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
        g_object_set(m_film.fit, "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    if (m_film.overlay)
        gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(m_film.overlay), guintptr(id));
    return true;
}

// playbin readies its video sink on every open, pictures or not, and a
// real one connects to the display there (about 50 ms): sound files get a
// fakesink instead. Called while the pipeline is down. playbin's own
// "video-sink" reads back the sink of its last video chain, so what was
// installed is tracked here.
void GstMediaControl::chooseVideoSink(bool film) {
    GstElement *wanted = film ? m_film.sink : m_film.none;
    if (!wanted || !m_playbin || wanted == m_film.installed)
        return;
    const auto touch = touchPipeline();
    if (film && m_film.sinkUsed) {
        // Going back to pictures needs the video chain rebuilt from NULL,
        // around a sink playbin never had.
        gst_element_set_state(m_playbin, GST_STATE_NULL);
        QString why;
        if (GstElement *fresh = makeVideoSink(m_film.description, &why)) {
            gst_element_set_state(m_film.sink, GST_STATE_NULL);
            gst_object_unref(m_film.sink);
            m_film.sink = GST_ELEMENT(gst_object_ref_sink(fresh));
            gstengine::setSync(m_film.sink, m_options.sync);
            wanted = m_film.sink;
        }
    }
    g_object_set(m_playbin, "video-sink", wanted, nullptr);
    m_film.installed = wanted;
    m_film.sinkUsed = m_film.sinkUsed || film;
}

// Back to Qt's painting, which covers the last picture of a film.
void GstMediaControl::hideFilm() {
    m_film.window.store(0);
    if (testAttribute(Qt::WA_PaintOnScreen)) {
        setAttribute(Qt::WA_PaintOnScreen, false);
        setAttribute(Qt::WA_NoSystemBackground, false);
        update();
    }
}

// Sync bus handler: a sink found only while prerolling (inside a bin that
// makes it late) asks for its window here.
void GstMediaControl::offerWindow(GstMessage *msg) {
    const quintptr handle = m_film.window.load();
    if (handle && GST_IS_VIDEO_OVERLAY(GST_MESSAGE_SRC(msg)))
        gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(GST_MESSAGE_SRC(msg)), guintptr(handle));
}

void GstMediaControl::paintEvent(QPaintEvent *event) {
    if (m_film.overlay && m_film.window.load())
        gst_video_overlay_expose(GST_VIDEO_OVERLAY(m_film.overlay));
    event->accept();
}

// Clicks on the control, the picture included, reach the player.
void GstMediaControl::mousePressEvent(QMouseEvent *event) {
    const QPointF pos = event->position();
    emit MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()), float(pos.x() * 15),
                   float(pos.y() * 15));
    MediaControl::mousePressEvent(event);
}
