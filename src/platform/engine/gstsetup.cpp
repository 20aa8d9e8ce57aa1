// Building the pipeline, readying it while the player sits idle, and
// tearing it down.
#include "platform/engine/gstmediacontrol.h"
#include "platform/engine/mp4gapless.h"
#include "platform/engine/pulseoutput.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <utility>

namespace {

// MPEG-1 Layer II carries no tag of its encoder's delay: every encoder and
// decoder pair delays the sound by its filter banks, 481 samples, heard as a
// silence at the start of each file and at each join. The first frame of a
// file is marked to lose them, which the decoder clips, and the frames after
// it come that much earlier so the sound runs on without a hole (a tag's own
// clipping, should a file carry one, is left as it is). Films keep theirs:
// their first sound frame does not start at zero.
constexpr guint64 kLayerTwoDelay = 481;

struct LayerTwoStart {
    bool atStart = true;    // the next buffer is the first of a stream or after a flush
    GstClockTime shift = 0; // taken off every frame after a clipped first one
};

GstPadProbeReturn markLayerTwoStart(GstPad *pad, GstPadProbeInfo *info, gpointer data) {
    auto *state = static_cast<LayerTwoStart *>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
        if (type == GST_EVENT_STREAM_START || type == GST_EVENT_FLUSH_STOP)
            *state = LayerTwoStart{};
        return GST_PAD_PROBE_OK;
    }
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!std::exchange(state->atStart, false)) {
        if (state->shift && GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_PTS(buffer) >= state->shift) {
            buffer = gst_buffer_make_writable(buffer);
            GST_BUFFER_PTS(buffer) -= state->shift;
            GST_PAD_PROBE_INFO_DATA(info) = buffer;
        }
        return GST_PAD_PROBE_OK;
    }
    if (GST_BUFFER_PTS(buffer) != 0 || gst_buffer_get_audio_clipping_meta(buffer))
        return GST_PAD_PROBE_OK;
    GstCaps *caps = gst_pad_get_current_caps(pad);
    gint layer = 0, rate = 0;
    if (caps) {
        const GstStructure *s = gst_caps_get_structure(caps, 0);
        gst_structure_get_int(s, "layer", &layer);
        gst_structure_get_int(s, "rate", &rate);
        gst_caps_unref(caps);
    }
    if (layer != 2 || rate <= 0)
        return GST_PAD_PROBE_OK;
    buffer = gst_buffer_make_writable(buffer);
    gst_buffer_add_audio_clipping_meta(buffer, GST_FORMAT_DEFAULT, kLayerTwoDelay, 0);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    state->shift = gst_util_uint64_scale_int(kLayerTwoDelay, GST_SECOND, rate);
    return GST_PAD_PROBE_OK;
}

void trimLayerTwoDelay(GstElement *playbin) {
    g_signal_connect(
        playbin, "deep-element-added", G_CALLBACK(+[](GstBin *, GstBin *, GstElement *element, gpointer) {
            GstElementFactory *factory = gst_element_get_factory(element);
            if (!factory || g_strcmp0(GST_OBJECT_NAME(factory), "mpegaudioparse") != 0)
                return;
            GstPad *src = gst_element_get_static_pad(element, "src");
            if (!src)
                return;
            gst_pad_add_probe(
                src, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                markLayerTwoStart, new LayerTwoStart{},
                [](gpointer p) { delete static_cast<LayerTwoStart *>(p); });
            gst_object_unref(src);
        }),
        nullptr);
}

// The video sink for the desktop the program runs on, "" for none. Chosen
// by name: autovideosink probes every sink it knows on each open (DRM,
// Wayland, GTK...), which costs a second or more on some desktops. X11 and
// Wayland let a sink draw over one of our widgets; elsewhere films play
// unseen rather than in a window of the sink's own.
QString desktopVideoSink() {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("ximagesink");
    if (platform.startsWith(QLatin1String("wayland"))) {
        if (GstElementFactory *factory = gst_element_factory_find("waylandsink")) {
            gst_object_unref(factory);
            return QStringLiteral("waylandsink");
        }
    }
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
    // Not while the player merely sits there: the ready pipeline holds about
    // 9 MB. The user's first move towards it comes well before a click.
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool GstMediaControl::eventFilter(QObject *watched, QEvent *event) {
    switch (event->type()) {
    // Not Enter: a window shown under a resting pointer gets one.
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::TouchBegin:
    case QEvent::DragEnter:
        QCoreApplication::instance()->removeEventFilter(this);
        // After the event: a click that opens a file builds the pipeline itself.
        QTimer::singleShot(0, this, &GstMediaControl::warmUp);
        break;
    default:
        break;
    }
    return MediaControl::eventFilter(watched, event);
}

// The first open built the pipeline, connected to the sound server and let
// playbin list its decoders: 70 ms added to the first click. A silent WAV
// prerolled once the user turns to the player does all that beforehand.
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
    // The first pipeline comes with the idle warm-up or the first file, once
    // the windows are up: the decoders the next files need load meanwhile.
    gstengine::preloadDecoders();
    gstengine::waitReady();
    QString why;
    GstElement *sink = gstengine::makeElement(m_options.audioSink, &why);
    if (!sink)
        return false;
    sink = gstengine::resolveAutomaticSink(sink);
    if (m_options.ownOutput)
        sink = pulseoutput::replaceServerSink(sink, m_options.outputBufferMs);
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
    trimLayerTwoDelay(m_playbin);
    gstengine::mendMp4Movies(m_playbin);
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
