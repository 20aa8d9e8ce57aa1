// The audio output: the gain stage on the streaming thread, the output
// bin around the sink, and which sink the automatic choice settles on.
#include "platform/engine/audiooutput.h"

#include "platform/engine/engine.h"
#include "platform/engine/pulseoutput.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Ramps linearly across each buffer from the gain applied last to the
// current target, so stepped volume writes never click.
// The segment of the stream through the gain stage (streaming thread only).
struct GainProbe {
    GainStage *gain;
    GstSegment segment;
};

GstPadProbeReturn gainProbe(GstPad *, GstPadProbeInfo *info, gpointer data) {
    auto *probe = static_cast<GainProbe *>(data);
    GainStage *gain = probe->gain;
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT)
            gst_event_copy_segment(event, &probe->segment);
        if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP)
            gain->passedUntil.store(-1);
        // A new file starts at the current volume rather than ramping from the last one.
        if (GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START)
            gain->applied.store(gain->target.load());
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps *caps = nullptr;
            gst_event_parse_caps(event, &caps);
            gint channels = 0;
            if (caps && gst_structure_get_int(gst_caps_get_structure(caps, 0), "channels", &channels) &&
                channels > 0)
                gain->channels.store(channels);
        }
        return GST_PAD_PROBE_OK;
    }
    if (gain->atOutput.load())
        return GST_PAD_PROBE_OK;
    GstBuffer *in = GST_PAD_PROBE_INFO_BUFFER(info);
    const float from = gain->applied.load();
    const float to = gain->target.load();
    if (GST_BUFFER_PTS_IS_VALID(in) && GST_BUFFER_DURATION_IS_VALID(in) &&
        probe->segment.format == GST_FORMAT_TIME) {
        const guint64 end = gst_segment_to_running_time(&probe->segment, GST_FORMAT_TIME,
                                                        GST_BUFFER_PTS(in) + GST_BUFFER_DURATION(in));
        if (end != GST_CLOCK_TIME_NONE) {
            gain->passedUntil.store(qint64(end));
            if (from != to)
                gain->rampDoneAt.store(qint64(end));
        }
    }
    if (from == 1.0f && to == 1.0f)
        return GST_PAD_PROBE_OK;
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE))
        return GST_PAD_PROBE_OK;
    const int channels = std::max(1, gain->channels.load());
    const gsize frames = map.size / (sizeof(float) * channels);
    gstengine::rampGain(reinterpret_cast<float *>(map.data), frames, channels, from, to);
    gst_buffer_unmap(buffer, &map);
    if (frames > 0)
        gain->applied.store(to);
    return GST_PAD_PROBE_OK;
}

// playbin starts each file of a gapless chain where the file before it
// should have ended by its segment; a file whose sound ends short of that
// (a decoder that clipped its delay, an AAC whose last frame never comes
// out) would leave the difference as silence between them. Each new file's
// segment is moved back onto where the sound before it really ended.
// Streaming thread only; running times in ns, as the sink will see them.
struct JoinCloser {
    GstSegment segment;
    bool newFile = false; // a stream start seen, its segment not yet
    guint64 offset = 0;   // taken off every segment since the last flush
    qint64 soundEnd = -1; // running time where the last buffer ended
};

constexpr qint64 kLongestClosedNs = 50 * GST_MSECOND;

GstPadProbeReturn closeJoins(GstPad *, GstPadProbeInfo *info, gpointer data) {
    auto *join = static_cast<JoinCloser *>(data);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (join->segment.format == GST_FORMAT_TIME && GST_BUFFER_PTS_IS_VALID(buffer) &&
            GST_BUFFER_DURATION_IS_VALID(buffer)) {
            const guint64 end = gst_segment_to_running_time(
                &join->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer));
            if (end != GST_CLOCK_TIME_NONE)
                join->soundEnd = std::max(join->soundEnd, qint64(end));
        }
        return GST_PAD_PROBE_OK;
    }
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_STOP:
        *join = JoinCloser{};
        gst_segment_init(&join->segment, GST_FORMAT_UNDEFINED);
        break;
    case GST_EVENT_STREAM_START:
        join->newFile = true;
        break;
    case GST_EVENT_SEGMENT: {
        const GstSegment *in = nullptr;
        gst_event_parse_segment(event, &in);
        GstSegment segment = *in;
        const bool joined = std::exchange(join->newFile, false);
        if (segment.base == 0) {
            // A fresh start (an open, a reload): no chain to keep up.
            join->offset = 0;
            join->soundEnd = -1;
        }
        if (segment.format != GST_FORMAT_TIME) {
            join->segment = segment;
            break;
        }
        segment.base -= std::min(segment.base, join->offset);
        const guint64 start = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, segment.start);
        if (joined && join->soundEnd >= 0 && start != GST_CLOCK_TIME_NONE) {
            const qint64 silence = qint64(start) - join->soundEnd;
            if (silence > 0 && silence <= kLongestClosedNs) {
                join->offset += guint64(silence);
                segment.base -= std::min(segment.base, guint64(silence));
            }
        }
        join->segment = segment;
        if (segment.base != in->base) {
            GstEvent *moved = gst_event_new_segment(&segment);
            gst_event_set_seqnum(moved, gst_event_get_seqnum(event));
            gst_event_unref(event);
            GST_PAD_PROBE_INFO_DATA(info) = moved;
        }
        break;
    }
    default:
        break;
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

namespace gstengine {

GstElement *resolveAutomaticSink(GstElement *sink) {
    GstElementFactory *factory = gst_element_get_factory(sink);
    if (!factory || qstrcmp(GST_OBJECT_NAME(factory), "autoaudiosink") != 0 || !GST_IS_BIN(sink))
        return sink;
    if (gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(sink, GST_STATE_NULL);
        return sink;
    }
    GstElement *chosen = nullptr;
    GstIterator *it = gst_bin_iterate_elements(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElementFactory *child = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        // The silent stand-in stays inside: outputIsFallback() looks for it.
        if (child && qstrcmp(GST_OBJECT_NAME(child), "fakesink") != 0)
            chosen = gst_element_factory_create(child, nullptr);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    gst_element_set_state(sink, GST_STATE_NULL);
    if (!chosen)
        return sink;
    gst_object_unref(sink);
    return chosen;
}

// playbin already converts and resamples in front of its audio sink, so the
// bin only pins the format the gain stage works on, then converts back for
// sinks that take no float.
GstElement *makeAudioOutput(GstElement *sink, GainStage *gain) {
    GstElement *bin = gst_bin_new("tunabel-audio-out");
    GstElement *filter = gst_element_factory_make("capsfilter", "tunabel-format");
    GstElement *out = gst_element_factory_make("audioconvert", nullptr);
    if (!filter || !out) {
        for (GstElement *e : {filter, out, sink, bin})
            if (e)
                gst_object_unref(e);
        return nullptr;
    }
    unpinOutputRate(filter);
    gst_bin_add_many(GST_BIN(bin), filter, out, sink, nullptr);
    if (!gst_element_link_many(filter, out, sink, nullptr)) {
        gst_object_unref(bin);
        return nullptr;
    }
    GstPad *probed = gst_element_get_static_pad(filter, "src");
    auto *state = new GainProbe{gain, {}};
    gst_segment_init(&state->segment, GST_FORMAT_UNDEFINED);
    gst_pad_add_probe(probed,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      gainProbe, state, [](gpointer p) { delete static_cast<GainProbe *>(p); });
    gst_object_unref(probed);
    pulseoutput::applyGainAtOutput(sink, gain);
    GstPad *target = gst_element_get_static_pad(filter, "sink");
    GstPad *ghost = gst_ghost_pad_new("sink", target);
    gst_object_unref(target);
    auto *join = new JoinCloser{};
    gst_segment_init(&join->segment, GST_FORMAT_UNDEFINED);
    // First on this pad: the hand-over's own probe sees the segments moved.
    gst_pad_add_probe(ghost, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      closeJoins, join, [](gpointer p) { delete static_cast<JoinCloser *>(p); });
    gst_element_add_pad(bin, ghost);
    return bin;
}

GstElement *outputFormat(GstElement *bin) {
    GstElement *filter = bin ? gst_bin_get_by_name(GST_BIN(bin), "tunabel-format") : nullptr;
    if (filter)
        gst_object_unref(filter); // the bin keeps it
    return filter;
}

void pinOutputRate(GstElement *format) {
    GstPad *pad = format ? gst_element_get_static_pad(format, "src") : nullptr;
    GstCaps *current = pad ? gst_pad_get_current_caps(pad) : nullptr;
    gint rate = 0;
    // A chain begun by a low-rate clip must not bring the music after it down
    // to telephone quality: that next file opens a stream of its own.
    if (current && gst_structure_get_int(gst_caps_get_structure(current, 0), "rate", &rate) &&
        rate >= 44100) {
        GstCaps *caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout",
                                            G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, rate, nullptr);
        g_object_set(format, "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    if (current)
        gst_caps_unref(current);
    if (pad)
        gst_object_unref(pad);
}

void unpinOutputRate(GstElement *format) {
    if (!format)
        return;
    GstCaps *caps = gst_caps_from_string("audio/x-raw,format=F32LE,layout=interleaved");
    g_object_set(format, "caps", caps, nullptr);
    gst_caps_unref(caps);
}

bool outputIsFallback(GstElement *sink) {
    GstElementFactory *factory = sink ? gst_element_get_factory(sink) : nullptr;
    if (!factory || qstrcmp(GST_OBJECT_NAME(factory), "autoaudiosink") != 0 || !GST_IS_BIN(sink))
        return false;
    bool fallback = false;
    GstIterator *it = gst_bin_iterate_elements(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElementFactory *child = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        if (child && qstrcmp(GST_OBJECT_NAME(child), "fakesink") == 0)
            fallback = true;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return fallback;
}

qint64 unheardNs(GstElement *pipeline, const GainStage &gain) {
    if (gain.atOutput.load()) {
        const qint64 heardAt = gain.heardAtUs.load();
        return heardAt < 0 ? 0 : std::max<qint64>(0, heardAt - g_get_monotonic_time()) * 1000;
    }
    const qint64 passed = gain.rampDoneAt.load();
    GstClock *clock = passed >= 0 ? gst_element_get_clock(pipeline) : nullptr;
    if (!clock)
        return 0;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(pipeline);
    if (now == GST_CLOCK_TIME_NONE || now < base)
        return 0;
    return std::max<qint64>(0, passed + qint64(latency(pipeline)) - qint64(now - base));
}

void rampGain(float *samples, size_t frames, int channels, float from, float to) {
    // Even steps in decibels: a ramp linear in amplitude would be steepest,
    // as heard, at its quiet end.
    const bool logRamp = from > 0 && to > 0 && from != to;
    const double step =
        logRamp ? std::pow(double(to) / from, 1.0 / double(std::max<size_t>(frames, 1))) : 1.0;
    double g = from;
    for (gsize f = 0; f < frames; ++f) {
        g = logRamp ? g * step : from + (to - from) * double(f + 1) / double(frames);
        for (int c = 0; c < channels; ++c)
            samples[f * channels + c] *= float(g);
    }
}

} // namespace gstengine
