// Films draw into the media control's own window; sound files never touch it.
#include "platform/engine/gstmediacontrol.h"
#include "platform/settingsstore.h"
#include "player/form1.h"
#include "support/mediafiles.h"
#include "support/playerfixture.h"
#include "support/sinktap.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QWindow>

#include <gst/video/gstvideosink.h>
#include <gst/video/videooverlay.h>

namespace {

// A video sink that draws nowhere but behaves like a windowed one: it asks
// for a window on its first frame and counts frames shown with none given
// (a real sink would have opened a top-level window of its own for those).
struct OverlaySink {
    GstVideoSink parent;
    guintptr handle;
};
struct OverlaySinkClass {
    GstVideoSinkClass parent;
};

std::atomic<guintptr> g_lastHandle{0};
std::atomic<int> g_frames{0};
std::atomic<int> g_framesWithoutWindow{0};
// Times the sink left NULL: a real one connects to the display there.
std::atomic<int> g_opens{0};
GstElementClass *g_parentClass = nullptr;

GstStateChangeReturn changeState(GstElement *element, GstStateChange transition) {
    if (transition == GST_STATE_CHANGE_NULL_TO_READY)
        ++g_opens;
    return g_parentClass->change_state(element, transition);
}

void setHandle(GstVideoOverlay *overlay, guintptr handle) {
    reinterpret_cast<OverlaySink *>(overlay)->handle = handle;
    g_lastHandle.store(handle);
}

GstFlowReturn showFrame(GstVideoSink *sink, GstBuffer *) {
    auto *self = reinterpret_cast<OverlaySink *>(sink);
    if (!self->handle)
        gst_video_overlay_prepare_window_handle(GST_VIDEO_OVERLAY(sink));
    if (!self->handle)
        ++g_framesWithoutWindow;
    ++g_frames;
    return GST_FLOW_OK;
}

void classInit(gpointer klass, gpointer) {
    static GstStaticPadTemplate pad =
        GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-raw"));
    gst_element_class_add_static_pad_template(GST_ELEMENT_CLASS(klass), &pad);
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Overlay test sink", "Sink/Video",
                                          "Counts frames and the window given", "Tunabel");
    GST_VIDEO_SINK_CLASS(klass)->show_frame = showFrame;
    g_parentClass = GST_ELEMENT_CLASS(g_type_class_peek_parent(klass));
    GST_ELEMENT_CLASS(klass)->change_state = changeState;
}

void overlayInit(gpointer iface, gpointer) {
    static_cast<GstVideoOverlayInterface *>(iface)->set_window_handle = setHandle;
}

void registerOverlaySink() {
    static const bool done = [] {
        const GType type = g_type_register_static_simple(GST_TYPE_VIDEO_SINK, "TunabelOverlayTestSink",
                                                         sizeof(OverlaySinkClass), classInit,
                                                         sizeof(OverlaySink), nullptr, GTypeFlags(0));
        const GInterfaceInfo overlay{overlayInit, nullptr, nullptr};
        g_type_add_interface_static(type, GST_TYPE_VIDEO_OVERLAY, &overlay);
        return gst_element_register(nullptr, "tunabeloverlaysink", GST_RANK_NONE, type) != FALSE;
    }();
    ASSERT_TRUE(done);
}

class FilmsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gstengine::waitReady();
        s_dir = new QTemporaryDir;
        s_film = testmedia::MakeMpeg(s_dir->path(), "film.mpg", {1.0});
        s_sound = testmedia::MakeWav(s_dir->path(), "ton.wav", {0.5});
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        registerOverlaySink();
        g_lastHandle.store(0);
        g_frames.store(0);
        g_framesWithoutWindow.store(0);
        g_opens.store(0);
    }
    static GstMediaOptions overlayOptions() {
        GstMediaOptions o = silentSinks();
        o.videoSink = "tunabeloverlaysink";
        return o;
    }
    // Opens and plays the file to its end; false on an error or a hang.
    static bool playThrough(GstMediaControl &c, const QString &path) {
        MediaWatch w(c);
        return w.open(path) && w.play();
    }

    static inline QTemporaryDir *s_dir = nullptr;
    static inline QString s_film, s_sound;
};

TEST_F(FilmsTest, AFilmDrawsInTheControlsOwnChildWindowAndASoundFileReleasesIt) {
    QWidget window;
    window.resize(300, 100);
    GstMediaControl c(&window, overlayOptions());
    c.setGeometry(10, 10, 110, 24);
    window.show();
    const qsizetype windowsBefore = QGuiApplication::topLevelWindows().size();

    // Sound first: the control stays an ordinary widget, and the film's
    // sink is not even opened (a real one costs a display connection).
    ASSERT_TRUE(playThrough(c, s_sound));
    ASSERT_TRUE(playThrough(c, s_sound));
    EXPECT_FALSE(c.testAttribute(Qt::WA_NativeWindow));
    EXPECT_EQ(g_frames.load(), 0);
    EXPECT_EQ(g_opens.load(), 0);

    ASSERT_TRUE(playThrough(c, s_film));
    EXPECT_GT(g_frames.load(), 0);
    EXPECT_EQ(g_framesWithoutWindow.load(), 0);
    EXPECT_TRUE(c.testAttribute(Qt::WA_NativeWindow) && c.testAttribute(Qt::WA_PaintOnScreen));
    EXPECT_EQ(QGuiApplication::topLevelWindows().size(), windowsBefore);

    // A sound file after the film: Qt paints the control again, no frames.
    const int frames = g_frames.load();
    const int opens = g_opens.load();
    EXPECT_GE(opens, 1);
    ASSERT_TRUE(playThrough(c, s_sound));
    ASSERT_TRUE(playThrough(c, s_sound));
    EXPECT_EQ(g_frames.load(), frames);
    EXPECT_EQ(g_opens.load(), opens);
    EXPECT_FALSE(c.testAttribute(Qt::WA_PaintOnScreen));

    // The same film again gets the same window.
    g_lastHandle.store(0);
    ASSERT_TRUE(playThrough(c, s_film));
    EXPECT_GT(g_frames.load(), frames);
    EXPECT_EQ(g_lastHandle.load(), guintptr(c.winId()));
    EXPECT_EQ(g_framesWithoutWindow.load(), 0);
}

TEST_F(FilmsTest, AControlWithNoParentPlaysAFilmUnseenRatherThanInAWindowOfItsOwn) {
    const qsizetype windowsBefore = QGuiApplication::topLevelWindows().size();
    GstMediaControl c(nullptr, overlayOptions());
    ASSERT_TRUE(playThrough(c, s_film));
    EXPECT_GT(c.Duration(), 0.5);
    EXPECT_EQ(g_frames.load(), 0);
    EXPECT_EQ(g_lastHandle.load(), 0u);
    EXPECT_FALSE(c.testAttribute(Qt::WA_NativeWindow));
    EXPECT_EQ(QGuiApplication::topLevelWindows().size(), windowsBefore);
}

TEST_F(FilmsTest, ThePlayersControlShowsTheFilmWhileRunningAndHidesItAtTheStopDisplay) {
    QTemporaryDir tmp;
    SetSettingsFolder(tmp.path() + "/config");
    QFile::copy(s_film, tmp.path() + "/a.mpg");
    SaveSetting(kApp, "Session", "Path", tmp.path());
    SaveSetting(kApp, "Session", "Mode", "0");
    GstMediaOptions options = overlayOptions();
    options.sync = true; // the film runs long enough to be looked at
    auto *control = new GstMediaControl(nullptr, options);
    auto form = std::make_unique<Form1>(control);
    QStringList messages;
    recordBoxes(*form, messages);
    form->Form_Load();
    form->show();
    EXPECT_FALSE(control->isVisible());

    ASSERT_TRUE(form->File1->setListIndex(0));
    form->File1_KeyUp(0, 0);
    // The running report shows the control.
    ASSERT_TRUE(waitFor([&] { return control->isVisible() && g_frames.load() > 0; }));
    EXPECT_FALSE(control->size().isEmpty());
    EXPECT_EQ(g_lastHandle.load(), guintptr(control->winId()));
    EXPECT_EQ(g_framesWithoutWindow.load(), 0);
    ASSERT_NE(control->windowHandle(), nullptr);
    EXPECT_EQ(control->windowHandle()->parent(), form->windowHandle());
    for (QWindow *w : QGuiApplication::topLevelWindows())
        EXPECT_TRUE(w == form->windowHandle() || !w->isVisible()) << w->objectName().toStdString();

    form->FlatBar1_Click(2);
    EXPECT_FALSE(control->isVisible());
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
    form.reset();
    SetSettingsFolder(QString());
}

} // namespace
