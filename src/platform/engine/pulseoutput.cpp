#include "platform/engine/pulseoutput.h"

#include "platform/engine/audiooutput.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>

#include <gst/audio/audio.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

// libpulse is opened with the first output, not at start: with the decoders
// it pulls in (sndfile, FLAC, Vorbis, Opus, LAME), 1.3 MB the idle player
// would hold for nothing.
namespace {
namespace pa {
#define TUNABEL_PULSE_CALLS(X)                                                                               \
    X(channel_map_equal)                                                                                     \
    X(channel_map_init)                                                                                      \
    X(channel_map_valid)                                                                                     \
    X(context_connect)                                                                                       \
    X(context_disconnect)                                                                                    \
    X(context_get_state)                                                                                     \
    X(context_new_with_proplist)                                                                             \
    X(context_set_state_callback)                                                                            \
    X(context_unref)                                                                                         \
    X(frame_size)                                                                                            \
    X(gettimeofday)                                                                                          \
    X(operation_unref)                                                                                       \
    X(proplist_free)                                                                                         \
    X(proplist_new)                                                                                          \
    X(proplist_sets)                                                                                         \
    X(sample_spec_equal)                                                                                     \
    X(sample_spec_valid)                                                                                     \
    X(stream_connect_playback)                                                                               \
    X(stream_cork)                                                                                           \
    X(stream_disconnect)                                                                                     \
    X(stream_flush)                                                                                          \
    X(stream_get_channel_map)                                                                                \
    X(stream_get_device_name)                                                                                \
    X(stream_get_sample_spec)                                                                                \
    X(stream_get_state)                                                                                      \
    X(stream_get_timing_info)                                                                                \
    X(stream_new_with_proplist)                                                                              \
    X(stream_set_moved_callback)                                                                             \
    X(stream_set_state_callback)                                                                             \
    X(stream_set_suspended_callback)                                                                         \
    X(stream_set_write_callback)                                                                             \
    X(stream_unref)                                                                                          \
    X(stream_update_timing_info)                                                                             \
    X(stream_writable_size)                                                                                  \
    X(stream_write)                                                                                          \
    X(threaded_mainloop_free)                                                                                \
    X(threaded_mainloop_get_api)                                                                             \
    X(threaded_mainloop_lock)                                                                                \
    X(threaded_mainloop_new)                                                                                 \
    X(threaded_mainloop_set_name)                                                                            \
    X(threaded_mainloop_signal)                                                                              \
    X(threaded_mainloop_start)                                                                               \
    X(threaded_mainloop_unlock)                                                                              \
    X(threaded_mainloop_wait)                                                                                \
    X(timeval_add)                                                                                           \
    X(timeval_age)                                                                                           \
    X(usec_to_bytes)
#define TUNABEL_PULSE_POINTER(name) decltype(&::pa_##name) name = nullptr;
TUNABEL_PULSE_CALLS(TUNABEL_PULSE_POINTER)
#undef TUNABEL_PULSE_POINTER

// False when the library or one of its calls is missing: no output then.
bool load() {
    static const bool loaded = [] {
        void *library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return false;
        bool all = true;
#define TUNABEL_PULSE_LOOKUP(name)                                                                           \
    name = reinterpret_cast<decltype(name)>(dlsym(library, "pa_" #name));                                    \
    all = all && name;
        TUNABEL_PULSE_CALLS(TUNABEL_PULSE_LOOKUP)
#undef TUNABEL_PULSE_LOOKUP
        return all;
    }();
    return loaded;
}
} // namespace pa
} // namespace

namespace {

// One connection for the process, and the stream of the last output that
// stopped, kept corked for the next one. The main loop's lock guards both.
struct Server {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    std::string address;
    // A connection is being dialled: others wait for it rather than dial too.
    bool connecting = false;
    pa_stream *parked = nullptr;
    std::string parkedDevice;
    pa_usec_t parkedBufferUs = 0;
    // Where the user moved our stream (headphones, say): the next streams
    // asked for the default device go there too.
    std::string movedTo;
};
std::mutex g_setupMutex;
Server g_server;
std::atomic<int> g_created{0};

void runAndForget(pa_operation *op) {
    if (op)
        pa::operation_unref(op);
}

void wake(void) {
    pa::threaded_mainloop_signal(g_server.loop, 0);
}
void onContextState(pa_context *, void *) {
    wake();
}
void onStreamEvent(pa_stream *, void *) {
    wake();
}
void onStreamRequest(pa_stream *, size_t, void *) {
    wake();
}
// Moved to another device or its device suspended: the delay to the ear
// changes, so the timing is read again.
void onStreamMoved(pa_stream *stream, void *) {
    if (const char *device = pa::stream_get_device_name(stream))
        g_server.movedTo = device;
    runAndForget(pa::stream_update_timing_info(stream, nullptr, nullptr));
    wake();
}
void onStreamSuspended(pa_stream *stream, void *) {
    runAndForget(pa::stream_update_timing_info(stream, nullptr, nullptr));
    wake();
}

void forget(pa_stream *stream) {
    pa::stream_set_state_callback(stream, nullptr, nullptr);
    pa::stream_set_write_callback(stream, nullptr, nullptr);
    pa::stream_set_moved_callback(stream, nullptr, nullptr);
    pa::stream_set_suspended_callback(stream, nullptr, nullptr);
    pa::stream_disconnect(stream);
    pa::stream_unref(stream);
}

// Wakes the waiting threads after `us` (main loop lock held): the condition
// they wait on has no time limit of its own.
pa_time_event *wakeIn(pa_usec_t us) {
    pa_mainloop_api *api = pa::threaded_mainloop_get_api(g_server.loop);
    timeval at;
    pa::timeval_add(pa::gettimeofday(&at), us);
    return api->time_new(
        api, &at, [](pa_mainloop_api *, pa_time_event *, const timeval *, void *) { wake(); }, nullptr);
}

void cancelWake(pa_time_event *event) {
    pa_mainloop_api *api = pa::threaded_mainloop_get_api(g_server.loop);
    api->time_free(event);
}

bool startLoop() {
    std::lock_guard guard(g_setupMutex);
    if (g_server.loop)
        return true;
    if (!pa::load())
        return false;
    pa_threaded_mainloop *loop = pa::threaded_mainloop_new();
    if (!loop)
        return false;
    pa::threaded_mainloop_set_name(loop, "tunabel-pulse");
    if (pa::threaded_mainloop_start(loop) < 0) {
        pa::threaded_mainloop_free(loop);
        return false;
    }
    g_server.loop = loop;
    return true;
}

// Dials the server once; again only when the connection broke or another
// server is asked for. Main loop lock held.
bool connectLocked(const char *server) {
    while (g_server.connecting)
        pa::threaded_mainloop_wait(g_server.loop);
    const std::string address = server ? server : "";
    if (g_server.context &&
        (pa::context_get_state(g_server.context) != PA_CONTEXT_READY || g_server.address != address)) {
        if (g_server.parked)
            forget(g_server.parked);
        g_server.parked = nullptr;
        pa::context_set_state_callback(g_server.context, nullptr, nullptr);
        pa::context_disconnect(g_server.context);
        pa::context_unref(g_server.context);
        g_server.context = nullptr;
    }
    bool ok = g_server.context != nullptr;
    if (!ok) {
        g_server.connecting = true;
        pa_proplist *props = pa::proplist_new();
        pa::proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tunabel");
        pa::proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "tunabel");
        pa_context *context =
            pa::context_new_with_proplist(pa::threaded_mainloop_get_api(g_server.loop), "Tunabel", props);
        pa::proplist_free(props);
        if (context) {
            pa::context_set_state_callback(context, onContextState, nullptr);
            if (pa::context_connect(context, server, PA_CONTEXT_NOFLAGS, nullptr) >= 0) {
                for (;;) {
                    const pa_context_state_t state = pa::context_get_state(context);
                    if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) {
                        ok = state == PA_CONTEXT_READY;
                        break;
                    }
                    pa::threaded_mainloop_wait(g_server.loop);
                }
            }
            if (ok) {
                g_server.context = context;
                g_server.address = address;
            } else {
                pa::context_set_state_callback(context, nullptr, nullptr);
                pa::context_disconnect(context);
                pa::context_unref(context);
            }
        }
        g_server.connecting = false;
        wake();
    }
    return ok;
}

bool connectServer(const char *server) {
    if (!startLoop())
        return false;
    pa::threaded_mainloop_lock(g_server.loop);
    const bool ok = connectLocked(server);
    pa::threaded_mainloop_unlock(g_server.loop);
    return ok;
}

bool toPulseFormat(GstAudioFormat format, pa_sample_format_t *out) {
    switch (format) {
    case GST_AUDIO_FORMAT_F32LE:
        *out = PA_SAMPLE_FLOAT32LE;
        return true;
    case GST_AUDIO_FORMAT_S32LE:
        *out = PA_SAMPLE_S32LE;
        return true;
    case GST_AUDIO_FORMAT_S24_32LE:
        *out = PA_SAMPLE_S24_32LE;
        return true;
    case GST_AUDIO_FORMAT_S24LE:
        *out = PA_SAMPLE_S24LE;
        return true;
    case GST_AUDIO_FORMAT_S16LE:
        *out = PA_SAMPLE_S16LE;
        return true;
    case GST_AUDIO_FORMAT_U8:
        *out = PA_SAMPLE_U8;
        return true;
    default:
        return false;
    }
}

pa_channel_position_t toPulsePosition(GstAudioChannelPosition position, int index) {
    switch (position) {
    case GST_AUDIO_CHANNEL_POSITION_MONO:
        return PA_CHANNEL_POSITION_MONO;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT:
        return PA_CHANNEL_POSITION_FRONT_LEFT;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT:
        return PA_CHANNEL_POSITION_FRONT_RIGHT;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_CENTER:
        return PA_CHANNEL_POSITION_FRONT_CENTER;
    case GST_AUDIO_CHANNEL_POSITION_LFE1:
        return PA_CHANNEL_POSITION_LFE;
    case GST_AUDIO_CHANNEL_POSITION_REAR_LEFT:
        return PA_CHANNEL_POSITION_REAR_LEFT;
    case GST_AUDIO_CHANNEL_POSITION_REAR_RIGHT:
        return PA_CHANNEL_POSITION_REAR_RIGHT;
    case GST_AUDIO_CHANNEL_POSITION_REAR_CENTER:
        return PA_CHANNEL_POSITION_REAR_CENTER;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
        return PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
        return PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER;
    case GST_AUDIO_CHANNEL_POSITION_SIDE_LEFT:
        return PA_CHANNEL_POSITION_SIDE_LEFT;
    case GST_AUDIO_CHANNEL_POSITION_SIDE_RIGHT:
        return PA_CHANNEL_POSITION_SIDE_RIGHT;
    default:
        return pa_channel_position_t(PA_CHANNEL_POSITION_AUX0 + index);
    }
}

bool toServerFormat(const GstAudioInfo &info, pa_sample_spec *format, pa_channel_map *map) {
    const int channels = GST_AUDIO_INFO_CHANNELS(&info);
    if (channels < 1 || channels > int(PA_CHANNELS_MAX) ||
        !toPulseFormat(GST_AUDIO_INFO_FORMAT(&info), &format->format))
        return false;
    format->rate = uint32_t(GST_AUDIO_INFO_RATE(&info));
    format->channels = uint8_t(channels);
    pa::channel_map_init(map);
    map->channels = uint8_t(channels);
    const bool positioned = !(GST_AUDIO_INFO_FLAGS(&info) & GST_AUDIO_FLAG_UNPOSITIONED);
    for (int i = 0; i < channels; ++i)
        map->map[i] = positioned ? toPulsePosition(info.position[i], i)
                                 : pa_channel_position_t(PA_CHANNEL_POSITION_AUX0 + i);
    if (channels == 1 && !positioned)
        map->map[0] = PA_CHANNEL_POSITION_MONO;
    return pa::sample_spec_valid(format) && pa::channel_map_valid(map);
}

} // namespace

G_BEGIN_DECLS

struct TunabelPulseSink {
    GstAudioSink parent;
    gchar *server;
    gchar *device;
    // Everything below is guarded by the main loop's lock.
    pa_stream *stream;
    guint rate;
    // The next write lands where the server reads: nothing queued may be
    // assumed after a flush or a fresh start.
    gboolean fresh;
    // Corked by a pause: a write in progress queues without waiting.
    gboolean paused;
    gboolean corked;
    // Bumped by stop and clear: a write in progress drops its remainder.
    guint64 epoch;
    gboolean failed;
    guint frameBytes;
    // Bytes written since the last fresh start, while the server's indexes
    // are being refreshed.
    guint64 writtenSinceFresh;
    // The player's gain, applied here when the samples are float; else null.
    GainStage *gain;
    GainStage *offeredGain;
    // What a new stream needs when the server comes back.
    pa_sample_spec format;
    pa_channel_map map;
    pa_usec_t segmentUs;
    pa_usec_t bufferUs;
    // Samples of the current start have reached the ring buffer.
    gboolean placed;
    guint64 writtenInAll;
    // The flush under way keeps what the server holds playing: a change of
    // speed. The server drops it only as the new samples are written.
    gboolean keepQueued;
    gboolean flushDue;
    // The ring buffer's thread is inside write with a segment.
    gboolean writing;
};

struct TunabelPulseSinkClass {
    GstAudioSinkClass parent_class;
};

GType tunabel_pulse_sink_get_type(void);
G_DEFINE_TYPE(TunabelPulseSink, tunabel_pulse_sink, GST_TYPE_AUDIO_SINK)

G_END_DECLS

namespace {

enum { PropServer = 1, PropDevice };

TunabelPulseSink *self(GstAudioSink *sink) {
    return reinterpret_cast<TunabelPulseSink *>(sink);
}

struct LoopLock {
    LoopLock() { pa::threaded_mainloop_lock(g_server.loop); }
    ~LoopLock() { pa::threaded_mainloop_unlock(g_server.loop); }
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;
};

// The playing flag and indexes the delay is computed from change with it.
void refreshTiming(TunabelPulseSink *sink) {
    runAndForget(pa::stream_update_timing_info(sink->stream, nullptr, nullptr));
}

void cork(TunabelPulseSink *sink, bool on) {
    if (sink->stream && bool(sink->corked) != on) {
        runAndForget(pa::stream_cork(sink->stream, on ? 1 : 0, nullptr, nullptr));
        sink->corked = on;
        refreshTiming(sink);
    }
}

void flushServer(TunabelPulseSink *sink) {
    sink->flushDue = FALSE;
    if (sink->stream) {
        runAndForget(pa::stream_flush(sink->stream, nullptr, nullptr));
        refreshTiming(sink);
    }
}

void dropQueued(TunabelPulseSink *sink) {
    if (sink->keepQueued)
        sink->flushDue = TRUE;
    else
        flushServer(sink);
    sink->fresh = TRUE;
    sink->placed = FALSE;
    ++sink->epoch;
    wake();
}

gboolean sinkOpen(GstAudioSink *asink) {
    TunabelPulseSink *sink = self(asink);
    if (connectServer(sink->server))
        return TRUE;
    GST_ELEMENT_ERROR(asink, RESOURCE, OPEN_WRITE, ("Le serveur de son ne répond pas."), (nullptr));
    return FALSE;
}

gboolean sinkClose(GstAudioSink *) {
    // The connection stays for the next output.
    return TRUE;
}

// The stream's target latency is the ring buffer's length, of which the
// server keeps about half queued (the sink takes the rest): it only has to
// ride out a late wake-up of the writing thread.
pa_stream *connectStream(const pa_sample_spec &format, const pa_channel_map &map, const char *device,
                         pa_usec_t segmentUs, pa_usec_t bufferUs) {
    pa_proplist *props = pa::proplist_new();
    pa::proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    pa_stream *stream = pa::stream_new_with_proplist(g_server.context, "Tunabel", &format, &map, props);
    pa::proplist_free(props);
    if (!stream)
        return nullptr;
    pa::stream_set_state_callback(stream, onStreamEvent, nullptr);
    pa::stream_set_write_callback(stream, onStreamRequest, nullptr);
    pa::stream_set_moved_callback(stream, onStreamMoved, nullptr);
    pa::stream_set_suspended_callback(stream, onStreamSuspended, nullptr);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa::usec_to_bytes(bufferUs, &format));
    // Plays as soon as anything is there; the ring buffer never runs dry.
    attr.prebuf = 0;
    attr.minreq = uint32_t(pa::usec_to_bytes(segmentUs, &format));
    attr.fragsize = uint32_t(-1);
    // No interpolation by the library: it never lets its time go back, and
    // across corked gaps between files it ran ahead of what was heard.
    const auto flags =
        pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    bool ok = pa::stream_connect_playback(stream, device, &attr, flags, nullptr, nullptr) >= 0;
    while (ok) {
        const pa_stream_state_t state = pa::stream_get_state(stream);
        if (state == PA_STREAM_READY)
            break;
        ok = PA_STREAM_IS_GOOD(state);
        if (ok)
            pa::threaded_mainloop_wait(g_server.loop);
    }
    if (!ok) {
        forget(stream);
        return nullptr;
    }
    ++g_created;
    return stream;
}

// On the device asked, else where the user last moved our stream, else the
// default (a device that went away with a restarted server is forgotten).
pa_stream *newStream(const pa_sample_spec &format, const pa_channel_map &map, const char *device,
                     pa_usec_t segmentUs, pa_usec_t bufferUs) {
    if ((!device || !*device) && !g_server.movedTo.empty()) {
        const std::string moved = g_server.movedTo;
        if (pa_stream *stream = connectStream(format, map, moved.c_str(), segmentUs, bufferUs))
            return stream;
        g_server.movedTo.clear();
    }
    return connectStream(format, map, device, segmentUs, bufferUs);
}

gboolean sinkPrepare(GstAudioSink *asink, GstAudioRingBufferSpec *ring) {
    TunabelPulseSink *sink = self(asink);
    pa_sample_spec format;
    pa_channel_map map;
    if (!toServerFormat(ring->info, &format, &map)) {
        GST_ELEMENT_ERROR(asink, RESOURCE, SETTINGS, ("Format de son non pris en charge."), (nullptr));
        return FALSE;
    }
    const std::string device = sink->device ? sink->device : "";
    const auto segmentUs = pa_usec_t(ring->latency_time), bufferUs = pa_usec_t(ring->buffer_time);
    LoopLock lock;
    // A server restarted while nothing played is dialled again here.
    connectLocked(sink->server);
    pa_stream *stream = nullptr;
    if (pa_stream *parked = g_server.parked) {
        g_server.parked = nullptr;
        if (g_server.parkedDevice == device && g_server.parkedBufferUs == bufferUs &&
            pa::stream_get_state(parked) == PA_STREAM_READY &&
            pa::sample_spec_equal(pa::stream_get_sample_spec(parked), &format) &&
            pa::channel_map_equal(pa::stream_get_channel_map(parked), &map))
            stream = parked;
        else
            forget(parked);
    }
    if (!stream && g_server.context)
        stream = newStream(format, map, sink->device, segmentUs, bufferUs);
    if (!stream) {
        GST_ELEMENT_ERROR(asink, RESOURCE, OPEN_WRITE, ("Le serveur de son refuse la lecture."), (nullptr));
        return FALSE;
    }
    // The gain is ours for float samples; other formats keep the stage in front.
    sink->gain = format.format == PA_SAMPLE_FLOAT32LE ? sink->offeredGain : nullptr;
    if (sink->offeredGain)
        sink->offeredGain->atOutput.store(sink->gain != nullptr);
    sink->stream = stream;
    sink->rate = format.rate;
    sink->frameBytes = guint(pa::frame_size(&format));
    sink->format = format;
    sink->map = map;
    sink->segmentUs = segmentUs;
    sink->bufferUs = bufferUs;
    sink->writtenSinceFresh = 0;
    sink->placed = FALSE;
    sink->fresh = TRUE;
    sink->paused = FALSE;
    sink->corked = TRUE;
    sink->failed = FALSE;
    return TRUE;
}

gboolean sinkUnprepare(GstAudioSink *asink) {
    TunabelPulseSink *sink = self(asink);
    LoopLock lock;
    if (!sink->stream)
        return TRUE;
    cork(sink, true);
    dropQueued(sink);
    // Parked for the next output: that is the whole point of this sink.
    if (g_server.parked)
        forget(g_server.parked);
    g_server.parked = sink->stream;
    g_server.parkedDevice = sink->device ? sink->device : "";
    g_server.parkedBufferUs = sink->bufferUs;
    sink->stream = nullptr;
    return TRUE;
}

// Frames written and not yet heard (main loop lock held). Errs long rather
// than short: a delay too short runs the clock ahead, ends files early and
// cuts their last samples.
guint64 queuedFrames(TunabelPulseSink *sink) {
    if (!sink->stream || sink->fresh || !sink->frameBytes)
        return 0;
    const pa_timing_info *timing = pa::stream_get_timing_info(sink->stream);
    const pa_sample_spec *format = pa::stream_get_sample_spec(sink->stream);
    gint64 queued = gint64(sink->writtenSinceFresh);
    pa_usec_t device = 0;
    if (timing && !timing->write_index_corrupt && !timing->read_index_corrupt) {
        queued = timing->write_index - timing->read_index;
        if (timing->playing && !sink->corked)
            queued -= gint64(pa::usec_to_bytes(pa::timeval_age(&timing->timestamp), format));
        device = timing->sink_usec;
    }
    const guint64 frames = guint64(std::max<gint64>(0, queued)) / sink->frameBytes;
    return frames + gst_util_uint64_scale_int(device, int(sink->rate), 1000000);
}

guint sinkDelay(GstAudioSink *asink) {
    TunabelPulseSink *sink = self(asink);
    LoopLock lock;
    return guint(queuedFrames(sink));
}

// The output thread asks the desktop's real-time service for a real-time
// priority, as the sound server's own threads have: a busy machine then
// cannot keep it from refilling the server in time. Asked once per thread,
// from the main thread (the call must not delay the first samples); no
// service, no change.
void askRealtime() {
    thread_local bool asked = false;
    if (asked || !QCoreApplication::instance())
        return;
    asked = true;
    const auto thread = quint64(gettid());
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [thread] {
            // The service only serves processes that bound their real-time
            // CPU time (a runaway thread cannot freeze the machine).
            rlimit limit;
            if (getrlimit(RLIMIT_RTTIME, &limit) == 0 && limit.rlim_max == RLIM_INFINITY) {
                limit.rlim_cur = limit.rlim_max = 200 * 1000;
                setrlimit(RLIMIT_RTTIME, &limit);
            }
            QDBusMessage call = QDBusMessage::createMethodCall(
                "org.freedesktop.RealtimeKit1", "/org/freedesktop/RealtimeKit1",
                "org.freedesktop.RealtimeKit1", "MakeThreadRealtimeWithPID");
            // Below the sound server's own threads (5 by default).
            call << quint64(getpid()) << thread << quint32(4);
            QDBusConnection::systemBus().asyncCall(call);
        },
        Qt::QueuedConnection);
}

// Ramps across the segment from the gain applied last to the current target,
// as the stage in front does per buffer.
void applyGain(TunabelPulseSink *sink, gpointer data, guint length) {
    GainStage *gain = sink->gain;
    const float from = gain->applied.load();
    const float to = gain->target.load();
    if (from == 1.0f && to == 1.0f)
        return;
    const int channels = std::max(1, int(sink->frameBytes / sizeof(float)));
    const guint frames = length / sink->frameBytes;
    gstengine::rampGain(static_cast<float *>(data), frames, channels, from, to);
    if (frames == 0 || from == to)
        return;
    // Heard once what is queued and this segment have played.
    const guint64 ahead = queuedFrames(sink) + frames;
    gain->heardAtUs.store(g_get_monotonic_time() +
                          qint64(gst_util_uint64_scale_int(ahead, 1000000, int(sink->rate))));
    gain->applied.store(to);
}

// After a start or a flush the ring buffer hands over silence until the first
// samples are placed. Written, that silence would run the clock ahead and the
// first milliseconds of the file would land behind it, dropped as late. So a
// fresh output waits, a little, for the first samples (render tells): they
// then fall into the segment being written.
void awaitFirstSamples(TunabelPulseSink *sink, guint64 epoch) {
    if (sink->placed)
        return;
    constexpr gint64 kLongestUs = 100 * 1000;
    const gint64 until = g_get_monotonic_time() + kLongestUs;
    pa_time_event *limit = wakeIn(kLongestUs);
    while (!sink->placed && sink->fresh && !sink->paused && sink->epoch == epoch &&
           g_get_monotonic_time() < until)
        pa::threaded_mainloop_wait(g_server.loop);
    cancelWake(limit);
}

GstFlowReturn (*g_parentRender)(GstBaseSink *, GstBuffer *) = nullptr;

void markPlaced(TunabelPulseSink *sink) {
    LoopLock lock;
    if (!sink->placed) {
        sink->placed = TRUE;
        wake();
    }
}

GstFlowReturn sinkRender(GstBaseSink *base, GstBuffer *buffer) {
    TunabelPulseSink *sink = reinterpret_cast<TunabelPulseSink *>(base);
    guint64 pieceFrames = 0;
    {
        LoopLock lock;
        if (!sink->placed && sink->frameBytes && sink->rate)
            pieceFrames = std::max<guint64>(1, gst_util_uint64_scale(sink->segmentUs, sink->rate, 1000000));
    }
    const gsize frames = sink->frameBytes ? gst_buffer_get_size(buffer) / sink->frameBytes : 0;
    // A first buffer longer than the ring buffer (a FLAC block is 105 ms)
    // would only return once part of it played, while the writer waits for
    // it: its first piece goes alone, so the writer starts at once.
    if (pieceFrames && frames > pieceFrames) {
        GstBuffer *head =
            gst_audio_buffer_truncate(gst_buffer_ref(buffer), gint(sink->frameBytes), 0, pieceFrames);
        GstBuffer *rest =
            gst_audio_buffer_truncate(gst_buffer_ref(buffer), gint(sink->frameBytes), pieceFrames, -1);
        GST_BUFFER_FLAG_UNSET(rest, GST_BUFFER_FLAG_DISCONT);
        GstFlowReturn result = g_parentRender(base, head);
        markPlaced(sink);
        if (result == GST_FLOW_OK)
            result = g_parentRender(base, rest);
        gst_buffer_unref(head);
        gst_buffer_unref(rest);
        return result;
    }
    const GstFlowReturn result = g_parentRender(base, buffer);
    markPlaced(sink);
    return result;
}

// How long a file waits, its position held, for a server that went away
// (restarted by the desktop, say) before the output is reported missing.
// Under the two seconds after which a position that no longer moves counts
// as the file's end.
constexpr gint64 kServerBackUs = 1500 * 1000;

// Dials the server again and opens a new stream for the current file, where
// it was. False when the server did not come back in time.
bool reconnect(TunabelPulseSink *sink, guint64 epoch) {
    if (sink->stream)
        forget(sink->stream);
    sink->stream = nullptr;
    const gint64 until = g_get_monotonic_time() + kServerBackUs;
    while (sink->epoch == epoch && !sink->paused) {
        if (connectLocked(sink->server)) {
            sink->stream = newStream(sink->format, sink->map, sink->device, sink->segmentUs, sink->bufferUs);
            if (sink->stream) {
                sink->fresh = TRUE;
                sink->corked = TRUE;
                sink->placed = TRUE;
                sink->writtenSinceFresh = 0;
                return true;
            }
        }
        if (g_get_monotonic_time() >= until)
            return false;
        pa_time_event *retry = wakeIn(50 * 1000);
        pa::threaded_mainloop_wait(g_server.loop);
        cancelWake(retry);
    }
    return true;
}

gint sinkWrite(GstAudioSink *asink, gpointer data, guint length) {
    TunabelPulseSink *sink = self(asink);
    const auto *bytes = static_cast<const char *>(data);
    bool broken = false;
    askRealtime();
    {
        LoopLock lock;
        sink->writing = TRUE;
        const guint64 epoch = sink->epoch;
        if (sink->fresh) {
            awaitFirstSamples(sink, epoch);
            // What the server still plays from before the flush goes now,
            // just before the samples that replace it.
            if (sink->flushDue)
                flushServer(sink);
            // The first samples of a file, or after a seek, start at the
            // current volume rather than ramping from the last one.
            if (sink->gain)
                sink->gain->applied.store(sink->gain->target.load());
        }
        if (sink->gain)
            applyGain(sink, data, length);
        guint done = 0;
        while (done < length && sink->epoch == epoch) {
            if (!sink->stream || pa::stream_get_state(sink->stream) != PA_STREAM_READY) {
                // Paused with no server: nowhere to queue, nothing to wait for.
                if (sink->paused)
                    break;
                if (!reconnect(sink, epoch)) {
                    broken = true;
                    break;
                }
                continue;
            }
            size_t room = sink->paused ? length - done : pa::stream_writable_size(sink->stream);
            if (room == size_t(-1)) {
                broken = true;
                break;
            }
            if (room == 0) {
                pa::threaded_mainloop_wait(g_server.loop);
                continue;
            }
            const size_t n = std::min<size_t>(room, length - done);
            // Uncorked before the write: data written at the read index of a
            // corked stream lost its first milliseconds on the uncork.
            if (!sink->paused)
                cork(sink, false);
            const pa_seek_mode_t mode = sink->fresh ? PA_SEEK_RELATIVE_ON_READ : PA_SEEK_RELATIVE;
            if (pa::stream_write(sink->stream, bytes + done, n, nullptr, 0, mode) < 0) {
                broken = true;
                break;
            }
            if (sink->fresh) {
                // The library loses track of the write index on such a write.
                sink->writtenSinceFresh = 0;
                refreshTiming(sink);
            }
            sink->fresh = FALSE;
            sink->writtenSinceFresh += n;
            sink->writtenInAll += n;
            done += guint(n);
        }
        if (broken) {
            if (!sink->failed) {
                sink->failed = TRUE;
                GST_ELEMENT_ERROR(asink, RESOURCE, WRITE, ("Le serveur de son a coupé la lecture."),
                                  (nullptr));
            }
            // Nothing to write to: held here, not spinning, until the
            // pipeline pauses or stops this output.
            while (sink->epoch == epoch && !sink->paused)
                pa::threaded_mainloop_wait(g_server.loop);
        }
        sink->writing = FALSE;
        wake();
    }
    return gint(length);
}

// A flush pauses first. GStreamer's ring buffer clears the segment being
// written once write returns, and the flush may meanwhile have put the first
// new samples in that very segment: a writer slow to return (a busy
// machine) lost them. So a flush's pause waits for the segment under way,
// which every wait in write gives up on a pause. Other pauses (a state
// change) put nothing new in the ring buffer and do not wait.
void sinkPause(GstAudioSink *asink) {
    TunabelPulseSink *sink = self(asink);
    LoopLock lock;
    sink->paused = TRUE;
    if (!sink->keepQueued)
        cork(sink, true);
    wake();
    // Read under the ring buffer's lock, which its pause holds.
    const GstAudioRingBuffer *ring = GST_AUDIO_BASE_SINK(asink)->ringbuffer;
    if (!ring || !ring->flushing)
        return;
    constexpr gint64 kLongestUs = 200 * 1000;
    const gint64 until = g_get_monotonic_time() + kLongestUs;
    pa_time_event *limit = wakeIn(kLongestUs);
    while (sink->writing && g_get_monotonic_time() < until)
        pa::threaded_mainloop_wait(g_server.loop);
    cancelWake(limit);
}

void sinkResume(GstAudioSink *asink) {
    TunabelPulseSink *sink = self(asink);
    LoopLock lock;
    sink->paused = FALSE;
    cork(sink, false);
}

void sinkStop(GstAudioSink *asink) {
    TunabelPulseSink *sink = self(asink);
    LoopLock lock;
    sink->paused = FALSE;
    cork(sink, true);
    dropQueued(sink);
}

void sinkClearAll(GstAudioSink *asink) {
    TunabelPulseSink *sink = self(asink);
    LoopLock lock;
    dropQueued(sink);
}

void setProperty(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    auto *sink = reinterpret_cast<TunabelPulseSink *>(object);
    gchar **field = id == PropServer ? &sink->server : id == PropDevice ? &sink->device : nullptr;
    if (!field) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    g_free(*field);
    *field = g_value_dup_string(value);
}

void getProperty(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    auto *sink = reinterpret_cast<TunabelPulseSink *>(object);
    if (id == PropServer)
        g_value_set_string(value, sink->server);
    else if (id == PropDevice)
        g_value_set_string(value, sink->device);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void finalize(GObject *object) {
    auto *sink = reinterpret_cast<TunabelPulseSink *>(object);
    g_free(sink->server);
    g_free(sink->device);
    G_OBJECT_CLASS(tunabel_pulse_sink_parent_class)->finalize(object);
}

} // namespace

static void tunabel_pulse_sink_class_init(TunabelPulseSinkClass *klass) {
    GObjectClass *object = G_OBJECT_CLASS(klass);
    object->set_property = setProperty;
    object->get_property = getProperty;
    object->finalize = finalize;
    const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        object, PropServer,
        g_param_spec_string("server", "Server", "Sound server, default if empty", nullptr, flags));
    g_object_class_install_property(
        object, PropDevice,
        g_param_spec_string("device", "Device", "Server sink, default if empty", nullptr, flags));

    GstElementClass *element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "Tunabel sound server output", "Sink/Audio",
                                          "Plays through one kept stream of the sound server", "Tunabel");
    static GstStaticPadTemplate pad = GST_STATIC_PAD_TEMPLATE(
        "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
        GST_STATIC_CAPS(
            "audio/x-raw, format = (string) { F32LE, S32LE, S24_32LE, S24LE, S16LE, U8 }, "
            "layout = (string) interleaved, rate = (int) [ 1, 384000 ], channels = (int) [ 1, 32 ]"));
    gst_element_class_add_static_pad_template(element, &pad);

    GstAudioSinkClass *audio = GST_AUDIO_SINK_CLASS(klass);
    audio->open = sinkOpen;
    audio->prepare = sinkPrepare;
    audio->unprepare = sinkUnprepare;
    audio->close = sinkClose;
    audio->write = sinkWrite;
    audio->delay = sinkDelay;
    audio->pause = sinkPause;
    audio->resume = sinkResume;
    audio->stop = sinkStop;
    audio->extension->clear_all = sinkClearAll;

    GstBaseSinkClass *base = GST_BASE_SINK_CLASS(klass);
    g_parentRender = base->render;
    base->render = sinkRender;
}

static void tunabel_pulse_sink_init(TunabelPulseSink *) {}

namespace {

// The sink as ours, or null when it is another.
TunabelPulseSink *ours(GstElement *sink) {
    return sink && G_OBJECT_TYPE(sink) == tunabel_pulse_sink_get_type()
               ? reinterpret_cast<TunabelPulseSink *>(sink)
               : nullptr;
}

} // namespace

namespace pulseoutput {

void registerElement() {
    gst_element_register(nullptr, "tunabelpulsesink", GST_RANK_NONE, tunabel_pulse_sink_get_type());
}

GstElement *replaceServerSink(GstElement *sink, int bufferMs) {
    GstElementFactory *factory = sink ? gst_element_get_factory(sink) : nullptr;
    if (!factory || g_strcmp0(GST_OBJECT_NAME(factory), "pulsesink") != 0)
        return sink;
    GstElement *ours = gst_element_factory_make("tunabelpulsesink", nullptr);
    if (!ours)
        return sink;
    gchar *server = nullptr;
    gchar *device = nullptr;
    g_object_get(sink, "server", &server, "device", &device, nullptr);
    // As much ahead in the ring buffer as asked of the server, in 10 ms
    // segments. The volume is applied behind the ring buffer: only the
    // server's part delays it.
    g_object_set(ours, "server", server, "device", device, "buffer-time", gint64(bufferMs) * 1000,
                 "latency-time", gint64(10000), nullptr);
    g_free(server);
    g_free(device);
    gst_object_unref(sink);
    return ours;
}

bool keepPlayingThroughFlush(GstElement *sink, bool keep) {
    TunabelPulseSink *our = ours(sink);
    if (!our)
        return false;
    LoopLock lock;
    our->keepQueued = keep;
    return true;
}

bool applyGainAtOutput(GstElement *sink, GainStage *gain) {
    TunabelPulseSink *our = ours(sink);
    if (!our)
        return false;
    our->offeredGain = gain;
    return true;
}

long long bytesWritten(GstElement *sink) {
    TunabelPulseSink *our = ours(sink);
    if (!our)
        return -1;
    LoopLock lock;
    return static_cast<long long>(our->writtenInAll);
}

int streamsCreated() {
    return g_created.load();
}

} // namespace pulseoutput
