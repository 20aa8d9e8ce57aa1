// Building the pipeline, readying it while the player sits idle, and
// tearing it down.
#include "platform/engine/gstmediacontrol.h"
#include "platform/engine/pulseoutput.h"

#include <QGuiApplication>

#include <gst/gst.h>

namespace {

// The video sink for the desktop the program runs on, "" for none. Chosen
// by name: autovideosink probes every sink it knows on each open (DRM,
// Wayland, GTK...), which costs a second or more on some desktops. Only X11
// lets a sink draw into one of our widgets; elsewhere films play unseen
// rather than in a window of the sink's own.
QString desktopVideoSink() {
    if (QGuiApplication::platformName() == QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("ximagesink");
    return {};
}

// A 16-bit stereo 44.1 kHz WAV of silence, header included.
QByteArray silentWav(double seconds) {
    QByteArray wav(44 + 4 * int(seconds * 44100), '\0');
    auto put32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            wav[at + i] = char((v >> (8 * i)) & 0xff);
    };
    wav.replace(0, 4, "RIFF");
    put32(4, quint32(wav.size() - 8));
    wav.replace(8, 8, "WAVEfmt ");
    put32(16, 16);
    put32(20, 1 | (2u << 16));
    put32(24, 44100);
    put32(28, 44100 * 4);
    put32(32, 4 | (16u << 16));
    wav.replace(36, 4, "data");
    put32(40, quint32(wav.size() - 44));
    return wav;
}

} // namespace

GstMediaControl::GstMediaControl(QWidget *parent, GstMediaOptions options)
    : MediaControl(parent), m_options(std::move(options)) {
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, &GstMediaControl::onOpenTimeout);
    m_tick.setInterval(250);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        watchStall();
        emit Timer();
        // The player's modes can change while a file plays: ask again.
        if (m_play.running())
            emit NextFileWanted();
    });
    m_cut.timer.setSingleShot(true);
    m_cut.timer.setTimerType(Qt::PreciseTimer);
    connect(&m_cut.timer, &QTimer::timeout, this, &GstMediaControl::checkRamp);
    m_handOverTimer.setSingleShot(true);
    m_handOverTimer.setTimerType(Qt::PreciseTimer);
    m_warm.timer.setInterval(20);
    connect(&m_warm.timer, &QTimer::timeout, this, &GstMediaControl::checkWarmUp);
    // Once the window is up, not before it.
    QTimer::singleShot(300, this, &GstMediaControl::warmUp);
}

// The first open built the pipeline, connected to the sound server and let
// playbin list its decoders: 70 ms added to the first click. A silent WAV
// prerolled while the player sits idle does all that beforehand.
void GstMediaControl::warmUp() {
    if (m_playbin || m_play.phase != PlaybackPhase::Closed)
        return;
    if (!gstengine::isReady()) {
        QTimer::singleShot(100, this, &GstMediaControl::warmUp);
        return;
    }
    // A failure here is reported by the open that meets it.
    if (!ensurePipeline())
        return;
    const QByteArray uri = "data:audio/x-wav;base64," + silentWav(0.02).toBase64();
    {
        const auto touch = touchPipeline();
        g_object_set(m_playbin, "uri", uri.constData(), nullptr);
        gst_element_set_state(m_playbin, GST_STATE_PAUSED);
    }
    m_warm.on = true;
    m_warm.checks = 0;
    m_warm.timer.start();
}

void GstMediaControl::checkWarmUp() {
    GstState state = GST_STATE_NULL, pending = GST_STATE_NULL;
    gst_element_get_state(m_playbin, &state, &pending, 0);
    if ((state == GST_STATE_PAUSED && pending == GST_STATE_VOID_PENDING) || ++m_warm.checks >= 100)
        endWarmUp();
}

void GstMediaControl::endWarmUp() {
    m_warm.timer.stop();
    if (!m_warm.on)
        return;
    m_warm.on = false;
    takeDown(false);
}

GstMediaControl::~GstMediaControl() {
    m_warm.timer.stop();
    m_openTimer.stop();
    m_tick.stop();
    m_handOverTimer.stop();
    if (m_playbin) {
        {
            const GaplessSwitch::Touch touch(m_switch);
            gst_element_set_state(m_playbin, GST_STATE_NULL);
        }
        GstBus *bus = gst_element_get_bus(m_playbin);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        g_signal_handlers_disconnect_by_data(m_playbin, this);
        gst_object_unref(m_playbin);
    }
    for (GstElement *owned : {m_film.sink, m_film.none}) {
        if (owned) {
            gst_element_set_state(owned, GST_STATE_NULL);
            gst_object_unref(owned);
        }
    }
}

bool GstMediaControl::ensurePipeline() {
    if (m_playbin)
        return true;
    gstengine::waitReady();
    QString why;
    GstElement *sink = gstengine::makeElement(m_options.audioSink, &why);
    if (!sink)
        return false;
    sink = pulseoutput::replaceServerSink(gstengine::resolveAutomaticSink(sink));
    gstengine::setSync(sink, m_options.sync);
    GstElement *out = gstengine::makeAudioOutput(sink, m_output.gain.get());
    if (!out)
        return false;
    GstElement *playbin = gst_element_factory_make("playbin", nullptr);
    if (!playbin) {
        gst_object_unref(out);
        return false;
    }
    m_playbin = GST_ELEMENT(gst_object_ref_sink(playbin));
    m_output.sink = sink;
    m_output.bin = out;
    m_output.format = gstengine::outputFormat(out);
    g_object_set(m_playbin, "audio-sink", out, nullptr);
    if (GstElement *tempo = gst_element_factory_make("scaletempo", nullptr))
        g_object_set(m_playbin, "audio-filter", tempo, nullptr);

    guint flags = 0;
    g_object_get(m_playbin, "flags", &flags, nullptr);
    flags &= ~(gstengine::kPlayFlagText | gstengine::kPlayFlagVis);
    QString video = m_options.videoSink;
    if (video.isEmpty())
        video = desktopVideoSink();
    m_film.description = video;
    if (!video.isEmpty())
        m_film.sink = makeVideoSink(video, &why);
    if (m_film.sink) {
        gst_object_ref_sink(m_film.sink);
        gstengine::setSync(m_film.sink, m_options.sync);
    } else {
        flags &= ~gstengine::kPlayFlagVideo;
    }
    // Without a sink of ours playbin would try the system's video sinks while
    // autoplugging, and DirectFB's crashes without a display.
    if (GstElement *none = gst_element_factory_make("fakesink", nullptr))
        m_film.none = GST_ELEMENT(gst_object_ref_sink(none));
    if (m_film.none)
        g_object_set(m_playbin, "video-sink", m_film.none, nullptr);
    m_film.installed = m_film.none;
    g_object_set(m_playbin, "flags", flags, nullptr);

    GstBus *bus = gst_element_get_bus(m_playbin);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus *, GstMessage *msg, gpointer self) -> GstBusSyncReply {
            static_cast<GstMediaControl *>(self)->forwardMessage(msg);
            // A dropped message stays ours to release: the bus does not unref it.
            gst_message_unref(msg);
            return GST_BUS_DROP;
        },
        this, nullptr);
    gst_object_unref(bus);
    installHandOver();
    return true;
}
