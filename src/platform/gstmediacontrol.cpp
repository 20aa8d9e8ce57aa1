#include "platform/gstmediacontrol.h"

#include "platform/listcontrols.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QMouseEvent>

#include <gst/gst.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

constexpr guint kPlayFlagVideo = 1u << 0;
constexpr guint kPlayFlagText = 1u << 2;
constexpr guint kPlayFlagVis = 1u << 3;

const char *const kReasonNotFound = "le fichier est introuvable.";
const char *const kReasonNotRegular = "ce n'est pas un fichier ordinaire.";
const char *const kReasonDenied = "accès refusé.";
const char *const kReasonNotRecognised = "ce n'est pas un fichier son reconnu ou il est endommagé.";
const char *const kReasonNoDecoder = "aucun décodeur n'est installé pour ce format.";
const char *const kReasonTimedOut = "le lecteur n'a pas répondu à temps.";
const char *const kReasonNoOutput = "aucune sortie son n'est disponible sur cet ordinateur.";
const char *const kReasonVideo = "la vidéo ne peut pas être affichée.";
const char *const kReasonOther = "une erreur de lecture s'est produite.";

// The video sink for the desktop the program runs on, "" for none. Chosen
// by name: autovideosink probes every sink it knows on each open (DRM,
// Wayland, GTK...), which costs a second or more on some desktops.
QString desktopVideoSink() {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("ximagesink");
    if (platform.startsWith(QLatin1String("wayland")))
        return QStringLiteral("glimagesink");
    return {};
}

bool hasVideo(const QString &path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "mpg" || suffix == "mpeg" || suffix == "mpe";
}

bool isPartOf(GstObject *object, GstElement *ancestor) {
    return ancestor && object &&
           (object == GST_OBJECT(ancestor) || gst_object_has_as_ancestor(object, GST_OBJECT(ancestor)));
}

gint64 toNs(double seconds) {
    return gint64(std::llround(seconds * double(GST_SECOND)));
}

} // namespace

GstMediaControl::GstMediaControl(QWidget *parent, GstMediaOptions options)
    : MediaControl(parent), m_options(std::move(options)), m_gain(std::make_unique<GainStage>()) {
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, &GstMediaControl::onOpenTimeout);
    m_tick.setInterval(250);
    connect(&m_tick, &QTimer::timeout, this, &GstMediaControl::Timer);
}

GstMediaControl::~GstMediaControl() {
    m_openTimer.stop();
    m_tick.stop();
    if (m_playbin) {
        gst_element_set_state(m_playbin, GST_STATE_NULL);
        GstBus *bus = gst_element_get_bus(m_playbin);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(m_playbin);
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
    gstengine::setSync(sink, m_options.sync);
    GstElement *out = gstengine::makeAudioOutput(sink, m_gain.get());
    if (!out)
        return false;
    GstElement *playbin = gst_element_factory_make("playbin", nullptr);
    if (!playbin) {
        gst_object_unref(out);
        return false;
    }
    m_playbin = GST_ELEMENT(gst_object_ref_sink(playbin));
    m_audioSink = sink;
    m_audioBin = out;
    g_object_set(m_playbin, "audio-sink", out, nullptr);
    if (GstElement *tempo = gst_element_factory_make("scaletempo", nullptr))
        g_object_set(m_playbin, "audio-filter", tempo, nullptr);

    guint flags = 0;
    g_object_get(m_playbin, "flags", &flags, nullptr);
    flags &= ~(kPlayFlagText | kPlayFlagVis);
    QString video = m_options.videoSink;
    if (video.isEmpty())
        video = desktopVideoSink();
    if (!video.isEmpty())
        m_videoSink = gstengine::makeElement(video, &why);
    if (m_videoSink) {
        gstengine::setSync(m_videoSink, m_options.sync);
        g_object_set(m_playbin, "video-sink", m_videoSink, nullptr);
    } else {
        flags &= ~kPlayFlagVideo;
        // Without a sink of ours playbin still tries the system's video sinks
        // while autoplugging, and DirectFB's crashes without a display.
        if (GstElement *none = gst_element_factory_make("fakesink", nullptr))
            g_object_set(m_playbin, "video-sink", none, nullptr);
    }
    g_object_set(m_playbin, "flags", flags, nullptr);

    GstBus *bus = gst_element_get_bus(m_playbin);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus *, GstMessage *msg, gpointer self) -> GstBusSyncReply {
            static_cast<GstMediaControl *>(self)->forwardMessage(msg);
            return GST_BUS_DROP;
        },
        this, nullptr);
    gst_object_unref(bus);
    return true;
}

// Runs on whichever thread posted the message.
void GstMediaControl::forwardMessage(GstMessage *msg) {
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR:
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

void GstMediaControl::setFileName(const QString &path) {
    if (path.isEmpty()) {
        if (m_phase == Phase::Closed)
            return;
        // A file still opening counts as loaded: the player asked for it, and
        // a user's Stop must reach the stopped display whatever the phase.
        closeSilently();
        report(0);
        return;
    }
    if (m_phase != Phase::Closed)
        closeSilently();
    m_reported = 0;

    const QFileInfo info(path);
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        failLater(NotFound, info.fileName(), kReasonNotFound);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        failLater(NotRegularFile, info.fileName(), kReasonNotRegular);
        return;
    }
    if (::access(QFile::encodeName(path).constData(), R_OK) != 0) {
        failLater(AccessDenied, info.fileName(), kReasonDenied);
        return;
    }
    if (!ensurePipeline()) {
        failLater(NoAudioOutput, info.fileName(), kReasonNoOutput);
        return;
    }
    m_path = path;
    m_duration = 0;
    m_selectionEnd = 0;
    m_retried = false;
    gchar *uri = gst_filename_to_uri(QFile::encodeName(path).constData(), nullptr);
    g_object_set(m_playbin, "uri", uri, nullptr);
    // Only the MPEG films have pictures: sound files never touch the video sink.
    guint flags = 0;
    g_object_get(m_playbin, "flags", &flags, nullptr);
    const guint wanted = m_videoSink && hasVideo(path) ? flags | kPlayFlagVideo : flags & ~kPlayFlagVideo;
    if (wanted != flags)
        g_object_set(m_playbin, "flags", wanted, nullptr);
    g_free(uri);
    m_phase = Phase::Opening;
    startPreroll();
}

void GstMediaControl::startPreroll() {
    m_openTimer.start(std::max(1, m_options.openTimeoutMs));
    if (gst_element_set_state(m_playbin, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        // The error message, posted before this returned, is normally handled
        // first; this only catches a failure that posted nothing.
        const quint64 generation = m_generation.load();
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (isCurrent(generation) && m_phase != Phase::Closed && m_phase != Phase::Ready)
                    fail(NotRecognised, kReasonNotRecognised);
            },
            Qt::QueuedConnection);
    }
}

void GstMediaControl::takeDown(bool toNull) {
    m_openTimer.stop();
    if (m_playbin)
        gst_element_set_state(m_playbin, toNull ? GST_STATE_NULL : GST_STATE_READY);
    // Downward state changes are synchronous: no thread can still post with
    // the old stamp once this is bumped.
    ++m_generation;
}

void GstMediaControl::closeSilently(bool toNull) {
    takeDown(toNull);
    m_tick.stop();
    m_path.clear();
    m_phase = Phase::Closed;
    m_duration = 0;
    m_selectionEnd = 0;
    resetPlayback();
}

// Back to the start of the file, stopped, with no seek pending.
void GstMediaControl::resetPlayback() {
    m_state = 0;
    m_segmentReady = false;
    m_playsDone = 0;
    m_heldPosition.reset();
    m_pendingSeek.reset();
    m_seekTarget.reset();
}

void GstMediaControl::restartAtZero() {
    takeDown(false);
    resetPlayback();
    m_retried = false;
    m_phase = Phase::Prerolling;
    startPreroll();
}

void GstMediaControl::finishPreroll() {
    m_openTimer.stop();
    const bool opening = m_phase == Phase::Opening;
    m_phase = Phase::Ready;
    m_atStart = true;
    if (m_pendingSeek) {
        seekTo(*m_pendingSeek, true);
        m_seekTarget = m_pendingSeek;
        m_pendingSeek.reset();
    }
    if (opening && gstengine::outputIsFallback(m_audioSink)) {
        // The automatic output found no sound device and settled for a
        // silent stand-in: say so rather than play to nothing.
        fail(NoAudioOutput, kReasonNoOutput);
        return;
    }
    if (opening) {
        gint64 duration = 0;
        if (gst_element_query_duration(m_playbin, GST_FORMAT_TIME, &duration) && duration > 0)
            m_duration = double(duration) / GST_SECOND;
        if (gstengine::needsParsedDuration(m_path)) {
            const double parsed = gstengine::parsedDuration(m_path, std::max(500, m_options.openTimeoutMs));
            if (parsed > 0)
                m_duration = parsed;
        }
        m_selectionEnd = m_duration;
        m_tick.start();
        const quint64 generation = m_generation.load();
        emit OpenComplete();
        if (!isCurrent(generation) || m_phase != Phase::Ready)
            return;
    }
    if (m_state == 2)
        startPlaying();
    else if (m_state == 1 && m_reported != 1)
        report(1);
}

void GstMediaControl::onOpenTimeout() {
    if (m_phase != Phase::Opening && m_phase != Phase::Prerolling)
        return;
    if (!m_retried) {
        m_retried = true;
        takeDown(true);
        startPreroll();
        return;
    }
    fail(TimedOut, kReasonTimedOut);
}

void GstMediaControl::handleMessage(GstMessage *msg, quint64 generation) {
    if (!isCurrent(generation) || m_phase == Phase::Closed)
        return;
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR:
        handleError(msg);
        break;
    case GST_MESSAGE_ASYNC_DONE:
        if (m_phase == Phase::Ready)
            m_seekTarget.reset();
        else
            finishPreroll();
        break;
    case GST_MESSAGE_STATE_CHANGED: {
        if (m_phase != Phase::Ready)
            break;
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(msg, &oldState, &newState, &pending);
        if (newState == GST_STATE_PLAYING && m_state == 2 && m_reported != 2)
            report(2);
        else if (newState == GST_STATE_PAUSED && pending == GST_STATE_VOID_PENDING && m_state == 1 &&
                 m_reported != 1)
            report(1);
        break;
    }
    case GST_MESSAGE_SEGMENT_DONE:
        if (m_phase == Phase::Ready)
            handleEnd(true);
        break;
    case GST_MESSAGE_EOS:
        if (m_phase == Phase::Ready)
            handleEnd(false);
        break;
    default:
        break;
    }
}

void GstMediaControl::handleError(GstMessage *msg) {
    GError *err = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(msg, &err, &debug);
    GstObject *src = GST_MESSAGE_SRC(msg);
    int code = OtherError;
    const char *reason = kReasonOther;
    if (isPartOf(src, m_audioBin)) {
        code = NoAudioOutput;
        reason = kReasonNoOutput;
    } else if (isPartOf(src, m_videoSink)) {
        code = VideoFailed;
        reason = kReasonVideo;
    } else if (err->domain == GST_RESOURCE_ERROR) {
        const QByteArray local = QFile::encodeName(m_path);
        if (err->code == GST_RESOURCE_ERROR_NOT_FOUND || ::access(local.constData(), F_OK) != 0) {
            code = NotFound;
            reason = kReasonNotFound;
        } else if (err->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED || ::access(local.constData(), R_OK) != 0) {
            code = AccessDenied;
            reason = kReasonDenied;
        } else {
            code = NotRecognised;
            reason = kReasonNotRecognised;
        }
    } else if ((err->domain == GST_CORE_ERROR && err->code == GST_CORE_ERROR_MISSING_PLUGIN) ||
               (err->domain == GST_STREAM_ERROR && err->code == GST_STREAM_ERROR_CODEC_NOT_FOUND)) {
        code = NoDecoder;
        reason = kReasonNoDecoder;
    } else if (err->domain == GST_STREAM_ERROR) {
        code = NotRecognised;
        reason = kReasonNotRecognised;
    }
    g_error_free(err);
    g_free(debug);
    fail(code, reason);
}

void GstMediaControl::fail(int code, const char *reason) {
    const QString name = QFileInfo(m_path).fileName();
    // READY would leave playbin failing the next open.
    closeSilently(true);
    m_reported = 0;
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

void GstMediaControl::handleEnd(bool segmentDone) {
    ++m_playsDone;
    if (m_playsDone < std::max(1, m_playCount) && m_state == 2) {
        // A segment end keeps the pipeline running: a non-flushing seek
        // continues without a gap. After EOS only a flush restarts it.
        seekTo(0, !segmentDone);
        return;
    }
    // The stopped notification goes first: its handler usually opens the next
    // file at once, and rewinding this one before would preroll it for nothing.
    // Nothing is heard meanwhile, the stream has ended.
    const double position = queryPosition();
    m_state = 0;
    m_heldPosition = position;
    const quint64 generation = m_generation.load();
    report(0);
    if (!isCurrent(generation) || m_phase != Phase::Ready)
        return; // the handler opened or closed a file
    const int wanted = m_state;
    restartAtZero();
    m_heldPosition = position;
    if (wanted == 2)
        Run();
    else if (wanted == 1)
        Pause();
}

void GstMediaControl::report(int newState) {
    const int oldState = m_reported;
    m_reported = newState;
    emit StateChange(oldState, newState);
}

void GstMediaControl::reportLater(int newState) {
    const quint64 generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, newState] {
            if (isCurrent(generation) && m_phase == Phase::Ready && m_state == newState &&
                m_reported != newState)
                report(newState);
        },
        Qt::QueuedConnection);
}

bool GstMediaControl::selectionIsWhole() const {
    return m_selectionEnd <= 0 || m_selectionEnd >= m_duration - 0.001;
}

void GstMediaControl::seekTo(double from, bool flush) {
    int flags = GST_SEEK_FLAG_ACCURATE;
    if (flush)
        flags |= GST_SEEK_FLAG_FLUSH;
    if (m_playsDone + 1 < std::max(1, m_playCount))
        flags |= GST_SEEK_FLAG_SEGMENT;
    // No stop for the whole file: some demuxers (MPEG program streams) clamp
    // to an estimated length shorter than the real one.
    const bool whole = selectionIsWhole();
    gst_element_seek(m_playbin, m_rate, GST_FORMAT_TIME, GstSeekFlags(flags), GST_SEEK_TYPE_SET,
                     toNs(std::max(0.0, from)), whole ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                     whole ? GST_CLOCK_TIME_NONE : toNs(m_selectionEnd));
    m_segmentReady = true;
    m_atStart = false;
}

void GstMediaControl::startPlaying() {
    if (GST_STATE_TARGET(m_playbin) == GST_STATE_PLAYING)
        return;
    // Freshly prerolled at the start, a plain play of the whole file needs no
    // seek, which also spares demuxers whose seeking is approximate.
    const bool plain = m_atStart && m_rate == 1.0 && m_playCount <= 1 && selectionIsWhole();
    if (!m_segmentReady && !plain) {
        double from = m_heldPosition ? 0.0 : m_seekTarget.value_or(queryPosition());
        if (m_selectionEnd > 0 && from >= m_selectionEnd - 0.001)
            from = 0;
        seekTo(from, true);
    }
    m_atStart = false;
    m_heldPosition.reset();
    gst_element_set_state(m_playbin, GST_STATE_PLAYING);
}

double GstMediaControl::queryPosition() const {
    gint64 position = 0;
    if (m_playbin && gst_element_query_position(m_playbin, GST_FORMAT_TIME, &position) && position >= 0)
        return double(position) / GST_SECOND;
    return 0;
}

double GstMediaControl::CurrentPosition() const {
    if (m_heldPosition)
        return *m_heldPosition;
    if (m_phase != Phase::Ready)
        return m_pendingSeek.value_or(0);
    if (m_seekTarget)
        return *m_seekTarget;
    return queryPosition();
}

void GstMediaControl::setCurrentPosition(double seconds) {
    if (m_phase == Phase::Closed)
        return;
    const double old = CurrentPosition();
    seconds = std::max(0.0, seconds);
    if (m_duration > 0)
        seconds = std::min(seconds, m_duration);
    m_heldPosition.reset();
    if (m_phase != Phase::Ready) {
        m_pendingSeek = seconds;
    } else {
        seekTo(seconds, true);
        m_seekTarget = seconds;
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
    if (m_duration > 0)
        seconds = std::min(seconds, m_duration);
    m_selectionEnd = seconds;
    if (m_phase != Phase::Ready || m_state != 2) {
        m_segmentReady = false;
        return;
    }
    const double position = queryPosition();
    if (position >= seconds) {
        const quint64 generation = m_generation.load();
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (isCurrent(generation) && m_phase == Phase::Ready && m_state == 2) {
                    m_playsDone = std::max(m_playsDone, m_playCount);
                    handleEnd(false);
                }
            },
            Qt::QueuedConnection);
        return;
    }
    seekTo(position, true);
}

void GstMediaControl::setPlayCount(int count) {
    m_playCount = std::max(1, count);
}

void GstMediaControl::setRate(double rate) {
    m_rate = std::clamp(rate, 0.1, 2.2);
    if (m_phase == Phase::Ready && m_state == 2)
        seekTo(m_seekTarget.value_or(queryPosition()), true);
    else
        m_segmentReady = false;
}

void GstMediaControl::setVolume(int hundredthsOfDb) {
    using namespace std::chrono;
    // One write per 1 ms slot, scheduled from the previous slot so a ramp of
    // many writes keeps its length without drifting.
    const auto slot = std::max(steady_clock::now(), m_lastVolumeSlot + milliseconds(1));
    std::this_thread::sleep_until(slot);
    m_lastVolumeSlot = slot;
    m_volume = std::clamp(hundredthsOfDb, -10000, 0);
    m_gain->target.store(float(std::pow(10.0, m_volume / 2000.0)));
}

void GstMediaControl::Run() {
    if (m_phase == Phase::Closed)
        return;
    if (m_state == 0) {
        m_playsDone = 0;
        m_segmentReady = false;
    }
    // Stopped at the end, the pipeline was already rewound for this replay.
    if (m_heldPosition && m_phase == Phase::Prerolling)
        m_heldPosition.reset();
    m_state = 2;
    if (m_phase == Phase::Ready)
        startPlaying();
}

void GstMediaControl::Pause() {
    if (m_phase == Phase::Closed || m_state == 1)
        return;
    m_state = 1;
    if (m_phase != Phase::Ready)
        return;
    if (GST_STATE_TARGET(m_playbin) == GST_STATE_PLAYING)
        gst_element_set_state(m_playbin, GST_STATE_PAUSED);
    // The bus reports a pause from PLAYING; anything else never changes the
    // pipeline's state, so confirm it ourselves.
    if (m_reported != 2)
        reportLater(1);
}

void GstMediaControl::Stop() {
    if (m_phase == Phase::Closed)
        return;
    if (m_phase == Phase::Opening) {
        m_state = 0;
        return;
    }
    restartAtZero();
    report(0);
}

void GstMediaControl::mousePressEvent(QMouseEvent *event) {
    const QPointF pos = event->position();
    emit MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()), float(pos.x() * 15),
                   float(pos.y() * 15));
    MediaControl::mousePressEvent(event);
}
