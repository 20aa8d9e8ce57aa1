// Films: the video sink draws into the control's own native child window,
// made only when a film is about to show, so sound files never create one.
#include "platform/engine/gstmediacontrol.h"

#include "platform/listcontrols.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

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

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// Qt's Wayland resources: its connection ("wl_display") or a window's
// surface ("surface"); null when there is none.
void *waylandResource(const char *name, QWindow *window = nullptr) {
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    if (!native)
        return nullptr;
    return window ? native->nativeResourceForWindow(name, window)
                  : native->nativeResourceForIntegration(name);
}

// Where a hidden control's film goes: a Wayland client cannot hide a surface
// it does not own, only move it out of sight.
constexpr int kOutOfSight = -30000;

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
    // stray top-level window.
    if (isWindow())
        return false;
    if (onWayland())
        return showFilmOnWayland();
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

// A child widget has no surface of its own on Wayland: the sink is given
// the top-level window's, and draws on a surface of its own placed over the
// control. It must talk to the compositor on Qt's connection, since a
// surface belongs to the connection that made it.
bool GstMediaControl::showFilmOnWayland() {
    QWindow *top = window()->windowHandle();
    if (!top || !m_film.overlay)
        return false;
    void *display = waylandResource("wl_display");
    void *surface = waylandResource("surface", top);
    if (!display || !surface)
        return false;
    if (m_film.connected != m_film.overlay) {
        // The name GStreamer 1.22 looks for (later ones still take it).
        GstContext *context = gst_context_new("GstWlDisplayHandleContextType", TRUE);
        gst_structure_set(gst_context_writable_structure(context), "display", G_TYPE_POINTER, display,
                          nullptr);
        gst_element_set_context(m_film.overlay, context);
        gst_context_unref(context);
        m_film.connected = m_film.overlay;
    }
    m_film.window.store(quintptr(surface));
    // The sink makes its surface when given the window: placed at once, or
    // its first picture would flash at the window's corner.
    gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(m_film.overlay), guintptr(surface));
    placeFilm();
    return true;
}

// The control's place in the window's surface, or out of sight while it is
// hidden. The sink's surface moves with the window's next commit, which
// the repaint asked here brings.
void GstMediaControl::placeFilm() {
    if (!onWayland() || !m_film.overlay || !m_film.window.load())
        return;
    QWidget *top = window();
    QPoint at = mapTo(top, QPoint(0, 0));
    if (const QWindow *handle = top->windowHandle()) {
        const QMargins frame = handle->frameMargins();
        at += QPoint(frame.left(), frame.top());
    }
    if (!isVisible())
        at = QPoint(kOutOfSight, kOutOfSight);
    const QRect place(at, QSize(std::max(1, width()), std::max(1, height())));
    {
        const std::lock_guard<std::mutex> lock(m_film.placeLock);
        m_film.place = place;
    }
    gst_video_overlay_set_render_rectangle(GST_VIDEO_OVERLAY(m_film.overlay), place.x(), place.y(),
                                           place.width(), place.height());
    top->update();
}

// A window hidden (to the tray) and shown again gets a new surface from
// Qt, made once the show is done; waylandsink keeps the first it was given.
// A film showing goes on from where it was, with a fresh sink on the new one.
void GstMediaControl::followNewSurface() {
    if (!onWayland() || !m_film.window.load() || m_film.installed != m_film.sink || !m_play.ready())
        return;
    QWindow *top = window()->windowHandle();
    void *surface = top ? waylandResource("surface", top) : nullptr;
    if (!surface || quintptr(surface) == m_film.window.load())
        return;
    const double position = queryPosition();
    takeDown(true);
    m_film.installed = nullptr;
    chooseVideoSink(true);
    if (!showFilm())
        hideFilm();
    restartKeeping(position, PlaybackState::Keep::Sought);
}

void GstMediaControl::showEvent(QShowEvent *event) {
    MediaControl::showEvent(event);
    placeFilm();
    if (onWayland())
        QMetaObject::invokeMethod(this, &GstMediaControl::followNewSurface, Qt::QueuedConnection);
}

void GstMediaControl::hideEvent(QHideEvent *event) {
    MediaControl::hideEvent(event);
    placeFilm();
}

void GstMediaControl::resizeEvent(QResizeEvent *event) {
    MediaControl::resizeEvent(event);
    placeFilm();
}

void GstMediaControl::moveEvent(QMoveEvent *event) {
    MediaControl::moveEvent(event);
    placeFilm();
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
            m_film.connected = nullptr;
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
    if (!handle || !GST_IS_VIDEO_OVERLAY(GST_MESSAGE_SRC(msg)))
        return;
    GstVideoOverlay *overlay = GST_VIDEO_OVERLAY(GST_MESSAGE_SRC(msg));
    gst_video_overlay_set_window_handle(overlay, guintptr(handle));
    const std::lock_guard<std::mutex> lock(m_film.placeLock);
    if (!m_film.place.isEmpty())
        gst_video_overlay_set_render_rectangle(overlay, m_film.place.x(), m_film.place.y(),
                                               m_film.place.width(), m_film.place.height());
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
