#pragma once

// The audio output: the gain stage the streaming thread applies (or the
// sound-server output, which applies it as it writes), its ramp, and the
// choice of sink.
#include <QtGlobal>

#include <atomic>
#include <cstddef>
#include <memory>

typedef struct _GstElement GstElement;

// The gain stage shared with the streaming thread; lives as long as the control.
struct GainStage {
    std::atomic<float> target{1.0f};
    std::atomic<float> applied{1.0f};
    std::atomic<int> channels{2};
    // Running time (ns) where the last buffer through the stage ends; -1 unknown.
    std::atomic<qint64> passedUntil{-1};
    // Running time (ns) where the last change of gain was complete.
    std::atomic<qint64> rampDoneAt{-1};
    // Set when the sound-server output applies the gain itself, as it writes:
    // a change is then heard within the server's short buffer rather than
    // after the whole output queue.
    std::atomic<bool> atOutput{false};
    // Monotonic time (us) when the last change of gain applied at the output
    // will have been heard; -1 unknown.
    std::atomic<qint64> heardAtUs{-1};
};

// The output as installed in playbin: the gain stage, the sink and the bin
// holding both.
struct AudioOutput {
    std::unique_ptr<GainStage> gain = std::make_unique<GainStage>();
    GstElement *sink = nullptr;
    GstElement *bin = nullptr;
    GstElement *format = nullptr; // the capsfilter in front of the gain stage, owned by bin
};

namespace gstengine {

// The device autoaudiosink picks, as a sink of its own: the automatic sink
// probes every device again on each open. Returns the sink unchanged when it
// is not automatic or found no device (the result owns the reference).
GstElement *resolveAutomaticSink(GstElement *sink);
// Multiplies interleaved float samples by a gain going from `from` to `to`
// across the frames, so stepped volume writes never click.
void rampGain(float *samples, size_t frames, int channels, float from, float to);
// Output bin: gain stage then conversion to what the sink accepts.
GstElement *makeAudioOutput(GstElement *sink, GainStage *gain);
// The format filter of an output bin.
GstElement *outputFormat(GstElement *bin);
// Across a gapless chain the output keeps the rate it plays at: playbin
// resamples the next file rather than the sink draining and opening a new
// stream on the server. Only from CD rate up. Any thread; unpinned at each
// fresh open.
void pinOutputRate(GstElement *format);
void unpinOutputRate(GstElement *format);
// Whether an automatic output (autoaudiosink) fell back to a silent sink
// because the machine has no sound device.
bool outputIsFallback(GstElement *sink);
// Nanoseconds until the end of the last gain change is heard; 0 when
// unknown or already heard.
qint64 unheardNs(GstElement *pipeline, const GainStage &gain);
} // namespace gstengine
