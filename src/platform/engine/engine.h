#pragma once

// The engine's start-up and the helpers every part of the media control
// shares: element parsing, file names as URIs, the decoders' guards.
#include <QByteArray>
#include <QString>

typedef struct _GstElement GstElement;

// Starts GStreamer's initialisation on a background thread so the windows
// never wait for a cold plugin registry. Call it early from main; calling it
// again, or never, is harmless: the first open waits for (or runs) the init.
void StartMediaEngine();

struct GstMediaOptions {
    // Audio output in gst-launch syntax: an element with its properties
    // ("alsasink device=hw:1") or a chain ending in a sink.
    QString audioSink = "autoaudiosink";
    // Clock synchronisation of the sinks; false plays as fast as possible.
    bool sync = true;
    // Empty: ximagesink on X11, no pictures elsewhere.
    QString videoSink;
    // An open (or a re-preroll after a stop) that stays silent this long is
    // retried once, then reported as an error.
    int openTimeoutMs = 3000;
    // A pulsesink is replaced by our own kept-stream output; false keeps it
    // (the benchmarks compare the two).
    bool ownOutput = true;
    // How far ahead our output runs, in GStreamer's ring buffer and again at
    // the server. Swept by bench_heard's buffer mode (three runs): at 20 and
    // 30 ms an idle machine, slow to wake, hears silences (up to 22 ms); from
    // 40 ms only a rare one of exactly 5 ms, as at 60 (none at 100), the
    // length of the null sink's own rewinds. The click to sound is the same
    // at every length. 60 keeps a margin over 40.
    int outputBufferMs = 60;
};

namespace gstengine {

// playbin's "flags" bits.
inline constexpr unsigned kPlayFlagVideo = 1u << 0;
inline constexpr unsigned kPlayFlagText = 1u << 2;
inline constexpr unsigned kPlayFlagVis = 1u << 3;
// Blocks until GStreamer is initialised, starting the init if needed.
void waitReady();
// True once the engine's initialisation has finished; never waits.
bool isReady();
// Loads, on a thread of its own and once, the decoders every open needs:
// call once the windows are up (the first pipeline does).
void preloadDecoders();
// Parses a gst-launch element description; null (and *error set) on failure.
GstElement *makeElement(const QString &description, QString *error);
// Sets "sync" on the element, or on every sink of a bin.
void setSync(GstElement *element, bool sync);
// Exact length of an MPEG file by parsing every frame; < 0 on failure.
double parsedDuration(const QString &path, int timeoutMs);
// Whether the file is MPEG whose preroll length may be an estimate.
bool needsParsedDuration(const QString &path);
// The pipeline's latency from a live query; 0 when unknown.
quint64 latency(GstElement *pipeline);
// Whether the file is a film (MPEG program stream) with pictures.
bool hasVideo(const QString &path);
// file:// URI of a carried file name (escaped bytes restored).
QByteArray fileUri(const QString &path);
// The file system's bytes of a carried file name.
QByteArray localName(const QString &path);
// "" when the file's structure is sound enough for its decoder, else the
// reason it is refused (checked before the file reaches the decoder).
const char *structureProblem(const QString &path);
// Whether a WAV, AU, AIFF, MPEG audio, FLAC, Ogg or MP4 file starts as its
// kind does (for MPEG, holds a run of valid frames; for AIFF, its
// description and data; for Ogg, a codec's identification header).
// A file playbin switches to on its own thread must not fail there: a
// failing switch can wedge playbin.
bool looksLikeItsKind(const QString &path);
// Loads a plugin on a thread of its own, once, so that a file switched to
// later does not wait for it on the streaming thread.
void loadPluginSoon(const char *name);
} // namespace gstengine
