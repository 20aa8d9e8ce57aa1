// GStreamer plumbing behind GstMediaControl: engine start-up, element
// parsing, and the parse-only length pass for MPEG audio.
#include "platform/engine/engine.h"
#include "platform/engine/mp4gapless.h"
#include "platform/engine/mpegaudio.h"
#include "platform/engine/pulseoutput.h"
#include "platform/filename.h"

#include <QFileInfo>

#include <gst/gst.h>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::once_flag g_startOnce;
std::mutex g_readyMutex;
std::condition_variable g_readyCv;
bool g_ready = false;

void loadPlugin(GstRegistry *registry, const char *name) {
    GstPlugin *plugin = gst_registry_find_plugin(registry, name);
    if (!plugin)
        return;
    if (GstPlugin *loaded = gst_plugin_load(plugin))
        gst_object_unref(loaded);
    gst_object_unref(plugin);
}

// A plugin is loaded the first time a file needs it, while that file waits.
// Load the small ones while the player sits idle, those every open needs
// first. libav waits until a file needs it, or is offered next (see
// loadPluginSoon): it would double the idle player's memory (about 32 MB)
// and slow the start with a file.
void loadDecoders(GstRegistry *registry) {
    for (const char *name : {"coreelements", "typefindfunctions", "playback", "audioconvert", "audioresample",
                             "volume", "audiofx", "pulseaudio", "autodetect", "wavparse", "audioparsers",
                             "id3demux", "auparse", "aiff", "midi", "mpegpsdemux", "mpg123"})
        loadPlugin(registry, name);
}

// -1 when the factory is not installed.
int rankOf(GstRegistry *registry, const char *name) {
    GstPluginFeature *feature = gst_registry_lookup_feature(registry, name);
    if (!feature)
        return -1;
    const int rank = int(gst_plugin_feature_get_rank(feature));
    gst_object_unref(feature);
    return rank;
}

void setRank(GstRegistry *registry, const char *name, guint rank) {
    if (GstPluginFeature *feature = gst_registry_lookup_feature(registry, name)) {
        gst_plugin_feature_set_rank(feature, rank);
        gst_object_unref(feature);
    }
}

// The films this player lists are MPEG. libav's other picture decoders cost
// their caps, parsed when playbin first lists what it can decode: 2 MB held
// for good and 15 ms of the first open.
void keepOnlyFilmDecoders(GstRegistry *registry) {
    static const std::set<std::string> kept = {"avdec_mpegvideo", "avdec_mpeg2video", "avdec_mpeg4",
                                               "avdec_h264",      "avdec_h265",       "avdec_vc1"};
    const GstElementFactoryListType pictures =
        GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO;
    GList *features = gst_registry_get_feature_list_by_plugin(registry, "libav");
    for (GList *l = features; l; l = l->next) {
        auto *feature = GST_PLUGIN_FEATURE(l->data);
        if (GST_IS_ELEMENT_FACTORY(feature) &&
            gst_element_factory_list_is_type(GST_ELEMENT_FACTORY(feature), pictures) &&
            !kept.contains(GST_OBJECT_NAME(feature)))
            gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
    }
    gst_plugin_feature_list_free(features);
}

void initEngine() {
    // A cold plugin registry takes a while to rebuild (in a scanner process
    // started from here, which inherits this): leave the cores to the windows.
    setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 10);
    gst_init(nullptr, nullptr);
    pulseoutput::registerElement();
    GstRegistry *registry = gst_registry_get();
    // aiffparse sometimes never prerolls when reopened right after a stop;
    // libav's demuxer does not have that race, so let it win autoplugging.
    const int aiffparse = rankOf(registry, "aiffparse");
    setRank(registry, "avdemux_aiff", aiffparse >= 0 ? guint(aiffparse) + 1 : GST_RANK_PRIMARY + 1);
    // DirectFB's sink, tried by autovideosink on a desktop, starts a thread
    // that crashes the program when it exits; the X11 and GL sinks do the job.
    setRank(registry, "dfbvideosink", GST_RANK_NONE);
    // MPEG audio: libmpg123 before libav, which ties with it and wins on its
    // name; films' pictures: libmpeg2 before libav. Loading libav took 200 ms
    // on the first MP3 or film, and 30 MB.
    setRank(registry, "mpg123audiodec", GST_RANK_SECONDARY);
    setRank(registry, "mpeg2dec", GST_RANK_PRIMARY + 1);
    keepOnlyFilmDecoders(registry);
    {
        std::lock_guard lock(g_readyMutex);
        g_ready = true;
    }
    g_readyCv.notify_all();
}

} // namespace

void StartMediaEngine() {
    std::call_once(g_startOnce, [] { std::thread(initEngine).detach(); });
}

namespace gstengine {

bool isReady() {
    std::lock_guard lock(g_readyMutex);
    return g_ready;
}

void preloadDecoders() {
    // Not while the windows are built: loading a plugin holds the dynamic
    // loader's lock, which Qt's own plugins then wait for (5 ms of the start).
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] {
            waitReady();
            setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 10);
            loadDecoders(gst_registry_get());
        }).detach();
    });
}

void waitReady() {
    StartMediaEngine();
    std::unique_lock lock(g_readyMutex);
    g_readyCv.wait(lock, [] { return g_ready; });
}

GstElement *makeElement(const QString &description, QString *error) {
    GError *err = nullptr;
    const QByteArray text = description.toUtf8();
    // A chain ("identity ! fakesink") becomes a bin with a ghost sink pad.
    GstElement *element =
        description.contains('!')
            ? gst_parse_bin_from_description_full(text.constData(), TRUE, nullptr,
                                                  GST_PARSE_FLAG_FATAL_ERRORS, &err)
            : gst_parse_launch_full(text.constData(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &err);
    if (err) {
        if (error)
            *error = QString::fromUtf8(err->message);
        g_error_free(err);
        if (element)
            gst_object_unref(element);
        return nullptr;
    }
    if (element && GST_IS_PIPELINE(element) && !description.contains('!')) {
        if (error)
            *error = QStringLiteral("one element expected");
        gst_object_unref(element);
        return nullptr;
    }
    return element;
}

void setSync(GstElement *element, bool sync) {
    if (!GST_IS_BIN(element)) {
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "sync"))
            g_object_set(element, "sync", gboolean(sync), nullptr);
        return;
    }
    GstIterator *it = gst_bin_iterate_sinks(GST_BIN(element));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        setSync(GST_ELEMENT(g_value_get_object(&item)), sync);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
}

quint64 latency(GstElement *pipeline) {
    GstQuery *query = gst_query_new_latency();
    GstClockTime min = 0;
    gboolean live = FALSE;
    if (!gst_element_query(pipeline, query))
        min = 0;
    else
        gst_query_parse_latency(query, &live, &min, nullptr);
    gst_query_unref(query);
    return min == GST_CLOCK_TIME_NONE ? 0 : min;
}

void loadPluginSoon(const char *name) {
    static std::mutex mutex;
    static std::set<std::string> asked;
    {
        std::lock_guard lock(mutex);
        if (!asked.insert(name).second)
            return;
    }
    std::thread([plugin = std::string(name)] {
        waitReady();
        setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 10);
        loadPlugin(gst_registry_get(), plugin.c_str());
    }).detach();
}

bool hasVideo(const QString &path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "mpg" || suffix == "mpeg" || suffix == "mpe";
}

QByteArray localName(const QString &path) {
    return EncodeFileName(path);
}

QByteArray fileUri(const QString &path) {
    const QByteArray local = localName(path);
    // g_filename_to_uri takes the bytes as they are: no re-encoding.
    gchar *uri = g_filename_to_uri(local.constData(), nullptr, nullptr);
    if (!uri)
        return {};
    QByteArray out(uri);
    g_free(uri);
    return out;
}

static bool isProgramStream(const QString &path) {
    return hasVideo(path);
}

bool needsParsedDuration(const QString &path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    // MPEG audio without a header has only a bitrate estimate; program
    // streams get theirs from timestamps that muxers offset; AAC in MP4
    // has its movie's length, which counts the encoder's priming.
    return suffix == "m4a" || suffix == "mp3" || suffix == "mp2" || suffix == "mpa" || suffix == "mpga" ||
           suffix == "mp1" || suffix == "mpg" || suffix == "mpeg" || suffix == "mpe";
}

double parsedDuration(const QString &path, int timeoutMs) {
    if (QFileInfo(path).suffix().toLower() == "m4a")
        return Mp4SoundSeconds(path); // -1 leaves the demuxer's
    if (!isProgramStream(path)) {
        // MPEG audio: walking the frame headers gives the same length at a
        // fraction of the cost of a parse pipeline.
        const double scanned = MpegAudioDuration(path);
        if (scanned > 0)
            return scanned;
    }
    GstElement *pipeline = gst_parse_launch("filesrc name=src ! parsebin ! fakesink sync=false", nullptr);
    if (!pipeline)
        return -1;
    GstElement *src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(src, "location", localName(path).constData(), nullptr);
    gst_object_unref(src);
    double seconds = -1;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstBus *bus = gst_element_get_bus(pipeline);
        GstMessage *msg = gst_bus_timed_pop_filtered(bus, GstClockTime(timeoutMs) * GST_MSECOND,
                                                     GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
            gint64 position = 0;
            if (gst_element_query_position(pipeline, GST_FORMAT_TIME, &position) && position > 0)
                seconds = double(position) / GST_SECOND;
        }
        if (msg)
            gst_message_unref(msg);
        gst_object_unref(bus);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return seconds;
}

} // namespace gstengine
