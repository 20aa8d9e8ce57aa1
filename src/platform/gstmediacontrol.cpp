#include "platform/gstmediacontrol.h"

#include "platform/filename.h"
#include "platform/gstreasons.h"

#include <QFileInfo>
#include <QGuiApplication>

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

gint64 toNs(double seconds) {
    return gint64(std::llround(seconds * double(GST_SECOND)));
}

QString shownName(const QString &path) {
    return DisplayFileName(QFileInfo(path).fileName());
}

} // namespace

GstMediaControl::GstMediaControl(QWidget *parent, GstMediaOptions options)
    : MediaControl(parent), m_options(std::move(options)), m_gain(std::make_unique<GainStage>()) {
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, &GstMediaControl::onOpenTimeout);
    m_tick.setInterval(250);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        watchStall();
        emit Timer();
        // The player's modes can change while a file plays: ask again.
        if (m_state == 2 && m_phase == Phase::Ready)
            emit NextFileWanted();
    });
    m_handOverTimer.setSingleShot(true);
    m_handOverTimer.setTimerType(Qt::PreciseTimer);
    m_warmTimer.setInterval(20);
    connect(&m_warmTimer, &QTimer::timeout, this, &GstMediaControl::checkWarmUp);
    // Once the window is up, not before it.
    QTimer::singleShot(300, this, &GstMediaControl::warmUp);
}

// The first open built the pipeline, connected to the sound server and let
// playbin list its decoders: 70 ms added to the first click. A silent WAV
// prerolled while the player sits idle does all that beforehand.
void GstMediaControl::warmUp() {
    if (m_playbin || m_phase != Phase::Closed)
        return;
    if (!gstengine::isReady()) {
        QTimer::singleShot(100, this, &GstMediaControl::warmUp);
        return;
    }
    // A failure here is reported by the open that meets it.
    if (!ensurePipeline())
        return;
    const QByteArray uri = "data:audio/x-wav;base64," + gstengine::silentWav(0.02).toBase64();
    {
        const Touch touch(*this);
        g_object_set(m_playbin, "uri", uri.constData(), nullptr);
        gst_element_set_state(m_playbin, GST_STATE_PAUSED);
    }
    m_warming = true;
    m_warmChecks = 0;
    m_warmTimer.start();
}

void GstMediaControl::checkWarmUp() {
    GstState state = GST_STATE_NULL, pending = GST_STATE_NULL;
    gst_element_get_state(m_playbin, &state, &pending, 0);
    if ((state == GST_STATE_PAUSED && pending == GST_STATE_VOID_PENDING) || ++m_warmChecks >= 100)
        endWarmUp();
}

void GstMediaControl::endWarmUp() {
    m_warmTimer.stop();
    if (!m_warming)
        return;
    m_warming = false;
    takeDown(false);
}

GstMediaControl::~GstMediaControl() {
    m_warmTimer.stop();
    m_openTimer.stop();
    m_tick.stop();
    m_handOverTimer.stop();
    if (m_playbin) {
        {
            const Touch touch(*this);
            gst_element_set_state(m_playbin, GST_STATE_NULL);
        }
        GstBus *bus = gst_element_get_bus(m_playbin);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        g_signal_handlers_disconnect_by_data(m_playbin, this);
        gst_object_unref(m_playbin);
    }
    for (GstElement *owned : {m_videoSink, m_noVideo, m_keeper}) {
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
    sink = gstengine::resolveAutomaticSink(sink);
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
    m_videoDescription = video;
    if (!video.isEmpty())
        m_videoSink = makeVideoSink(video, &why);
    if (m_videoSink) {
        gst_object_ref_sink(m_videoSink);
        gstengine::setSync(m_videoSink, m_options.sync);
    } else {
        flags &= ~kPlayFlagVideo;
    }
    // Without a sink of ours playbin would try the system's video sinks while
    // autoplugging, and DirectFB's crashes without a display.
    if (GstElement *none = gst_element_factory_make("fakesink", nullptr))
        m_noVideo = GST_ELEMENT(gst_object_ref_sink(none));
    if (m_noVideo)
        g_object_set(m_playbin, "video-sink", m_noVideo, nullptr);
    m_installedVideo = m_noVideo;
    g_object_set(m_playbin, "flags", flags, nullptr);
    m_keeper = gstengine::keepServerOpen(m_audioSink);

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

void GstMediaControl::setUri(const QString &path) {
    const QByteArray uri = gstengine::fileUri(path);
    const Touch touch(*this);
    g_object_set(m_playbin, "uri", uri.constData(), nullptr);
}

void GstMediaControl::setFileName(const QString &path) {
    if (path.isEmpty()) {
        if (m_phase == Phase::Closed)
            return;
        // A file still opening counts as loaded: the player asked for it, and
        // a user's Stop must reach the stopped display whatever the phase.
        letRampBeHeard();
        closeSilently();
        report(0);
        return;
    }
    endWarmUp();
    if (adopt(path))
        return;
    if (m_phase != Phase::Closed)
        closeSilently();
    m_reported = 0;

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
    m_path = path;
    m_duration = 0;
    m_selectionEnd = 0;
    m_retried = false;
    setUri(path);
    // Only the MPEG films have pictures: sound files never touch the video sink.
    guint flags = 0;
    g_object_get(m_playbin, "flags", &flags, nullptr);
    bool film = false;
    if (gstengine::hasVideo(path) && m_videoSink) {
        chooseVideoSink(true);
        film = showFilm();
    }
    if (!film) {
        hideFilm();
        chooseVideoSink(false);
    }
    const guint wanted = film ? flags | kPlayFlagVideo : flags & ~kPlayFlagVideo;
    if (wanted != flags) {
        const Touch touch(*this);
        g_object_set(m_playbin, "flags", wanted, nullptr);
    }
    m_phase = Phase::Opening;
    startPreroll();
    updateHandOver();
    const quint64 generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (isCurrent(generation) && m_phase != Phase::Closed)
                emit NextFileWanted();
        },
        Qt::QueuedConnection);
}

void GstMediaControl::startPreroll() {
    m_openTimer.start(std::max(1, m_options.openTimeoutMs));
    const Touch touch(*this);
    if (gst_element_set_state(m_playbin, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        // The error message, posted before this returned, is normally handled
        // first; this only catches a failure that posted nothing.
        const quint64 generation = m_generation.load();
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (isCurrent(generation) && m_phase != Phase::Closed && m_phase != Phase::Ready)
                    fail(NotRecognised, gstreason::NotRecognised);
            },
            Qt::QueuedConnection);
    }
}

void GstMediaControl::takeDown(bool toNull) {
    m_openTimer.stop();
    const Touch touch(*this);
    dropHandOver();
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
    m_nextPath.clear();
    m_refusedPath.clear();
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
    // playbin may hold the next file's address since a hand-over was armed.
    setUri(m_path);
    m_phase = Phase::Prerolling;
    startPreroll();
    updateHandOver();
}

void GstMediaControl::readDuration() {
    gint64 duration = 0;
    if (gst_element_query_duration(m_playbin, GST_FORMAT_TIME, &duration) && duration > 0)
        m_duration = double(duration) / GST_SECOND;
    if (gstengine::needsParsedDuration(m_path)) {
        const double parsed = gstengine::parsedDuration(m_path, std::max(500, m_options.openTimeoutMs));
        if (parsed > 0)
            m_duration = parsed;
    }
    m_selectionEnd = m_duration;
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
        fail(NoAudioOutput, gstreason::NoOutput);
        return;
    }
    if (opening) {
        readDuration();
        m_tick.start();
        updateHandOver();
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
    fail(TimedOut, gstreason::TimedOut);
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
    const Touch touch(*this);
    gst_element_seek(m_playbin, m_rate, GST_FORMAT_TIME, GstSeekFlags(flags), GST_SEEK_TYPE_SET,
                     toNs(std::max(0.0, from)), whole ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                     whole ? GST_CLOCK_TIME_NONE : toNs(m_selectionEnd));
    m_segmentReady = true;
    m_atStart = false;
}

void GstMediaControl::startPlaying() {
    // Freshly prerolled at the start, a plain play of the whole file needs no
    // seek, which also spares demuxers whose seeking is approximate.
    const bool plain = m_atStart && m_rate == 1.0 && m_playCount <= 1 && selectionIsWhole();
    if (GST_STATE_TARGET(m_playbin) == GST_STATE_PLAYING) {
        // A handed-over file already plays: only its own end and loops need a seek.
        if (m_atStart && !plain)
            seekTo(queryPosition(), true);
        m_atStart = false;
        if (m_reported != 2)
            reportLater(2);
        return;
    }
    if (!m_segmentReady && !plain) {
        double from = m_heldPosition ? 0.0 : m_seekTarget.value_or(queryPosition());
        if (m_selectionEnd > 0 && from >= m_selectionEnd - 0.001)
            from = 0;
        seekTo(from, true);
    }
    m_atStart = false;
    m_heldPosition.reset();
    const Touch touch(*this);
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
    if (m_phase != Phase::Ready || reloadIfArmed()) {
        m_pendingSeek = seconds;
    } else {
        dropHandOver();
        seekTo(seconds, true);
        m_seekTarget = seconds;
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
    if (m_duration > 0)
        seconds = std::min(seconds, m_duration);
    m_selectionEnd = seconds;
    updateHandOver();
    if (!selectionIsWhole() && reloadIfArmed())
        return;
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
    dropHandOver();
    seekTo(position, true);
    updateHandOver();
}

void GstMediaControl::setPlayCount(int count) {
    m_playCount = std::max(1, count);
    updateHandOver();
}

void GstMediaControl::setRate(double rate) {
    m_rate = std::clamp(rate, 0.1, 2.2);
    if (reloadIfArmed()) {
        updateHandOver();
        return;
    }
    if (m_phase == Phase::Ready && m_state == 2) {
        dropHandOver();
        seekTo(m_seekTarget.value_or(queryPosition()), true);
    } else {
        m_segmentReady = false;
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
    m_volume = std::clamp(hundredthsOfDb, -10000, 0);
    m_gain->target.store(float(std::pow(10.0, m_volume / 2000.0)));
}

// Some demuxers never end a cut-off file: running with a position that no
// longer moves for two seconds counts as its end.
void GstMediaControl::watchStall() {
    if (m_phase != Phase::Ready || m_state != 2 || GST_STATE(m_playbin) != GST_STATE_PLAYING) {
        m_stalledTicks = 0;
        return;
    }
    const double position = queryPosition();
    m_stalledTicks = std::abs(position - m_lastTickPosition) < 0.0005 ? m_stalledTicks + 1 : 0;
    m_lastTickPosition = position;
    if (m_stalledTicks >= 8) {
        m_stalledTicks = 0;
        m_playsDone = std::max(m_playsDone, m_playCount);
        handleEnd(false);
    }
}

// A volume ramp reaches the speaker one output buffer later: a pause or
// stop right after it waits until the ramp has been heard.
void GstMediaControl::letRampBeHeard() {
    using namespace std::chrono;
    if (m_phase != Phase::Ready || m_state != 2 || !m_playbin ||
        steady_clock::now() > m_lastVolumeSlot + milliseconds(500))
        return;
    // First the last write reaches a buffer, then that buffer the output.
    const auto deadline = steady_clock::now() + milliseconds(400);
    while (m_gain->applied.load() != m_gain->target.load() && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
    const qint64 unheard = gstengine::unheardNs(m_playbin, *m_gain);
    std::this_thread::sleep_until(std::min(deadline, steady_clock::now() + nanoseconds(unheard)));
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
    letRampBeHeard();
    m_state = 1;
    if (m_phase != Phase::Ready)
        return;
    if (GST_STATE_TARGET(m_playbin) == GST_STATE_PLAYING) {
        const Touch touch(*this);
        gst_element_set_state(m_playbin, GST_STATE_PAUSED);
    }
    // The bus reports a pause from PLAYING; anything else never changes the
    // pipeline's state, so confirm it ourselves.
    if (m_reported != 2)
        reportLater(1);
}

void GstMediaControl::Stop() {
    if (m_phase == Phase::Closed)
        return;
    if (m_phase == Phase::Opening) {
        // The open goes on; the stop is reported now, as for a loaded file.
        m_state = 0;
        report(0);
        return;
    }
    letRampBeHeard();
    const bool adopting = m_phase == Phase::Adopting;
    restartAtZero();
    // A handed-over file still owes its open complete.
    if (adopting)
        m_phase = Phase::Opening;
    report(0);
}
