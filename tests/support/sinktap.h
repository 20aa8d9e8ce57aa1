#pragma once

#include "platform/engine/gstmediacontrol.h"
#include "support/mediawatch.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>

// Silent sinks; without sync they run as fast as they can.
inline GstMediaOptions silentSinks(bool sync = false) {
    GstMediaOptions o;
    o.audioSink = "fakesink signal-handoffs=true";
    o.videoSink = "fakesink";
    o.sync = sync;
    return o;
}

// Measures what reaches the sink (F32 after the gain stage): seconds of audio and the peak sample.
struct SinkTap {
    std::atomic<double> seconds{0};
    std::atomic<float> peak{0};

    static void onHandoff(GstElement *, GstBuffer *buf, GstPad *pad, gpointer data) {
        auto *tap = static_cast<SinkTap *>(data);
        GstMapInfo map;
        if (!gst_buffer_map(buf, &map, GST_MAP_READ))
            return;
        const auto *s = reinterpret_cast<const float *>(map.data);
        float peak = tap->peak.load();
        for (gsize i = 0; i < map.size / sizeof(float); ++i)
            peak = std::max(peak, std::fabs(s[i]));
        tap->peak.store(peak);
        GstCaps *caps = gst_pad_get_current_caps(pad);
        int rate = 44100, channels = 2;
        gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate);
        gst_structure_get_int(gst_caps_get_structure(caps, 0), "channels", &channels);
        gst_caps_unref(caps);
        tap->seconds += double(map.size / (channels * sizeof(float))) / rate;
        gst_buffer_unmap(buf, &map);
    }

    void attach(GstMediaControl &c) {
        GstElement *sink = c.audioSinkElement();
        ASSERT_NE(sink, nullptr);
        if (!g_signal_lookup("handoff", G_OBJECT_TYPE(sink)))
            return; // a real output: what it plays is heard elsewhere
        g_signal_connect(sink, "handoff", G_CALLBACK(&SinkTap::onHandoff), this);
    }
};

struct GstControlHolder {
    GstMediaControl gst;
    explicit GstControlHolder(const GstMediaOptions &options) : gst(nullptr, options) {}
};

// A real control, watched, with a tap on its sink from its first open on.
struct GstRig : GstControlHolder, MediaWatch {
    GstMediaControl &c = gst; // the real control's own calls, beside the contract's
    SinkTap tap;

    explicit GstRig(const GstMediaOptions &options = silentSinks())
        : GstControlHolder(options), MediaWatch(gst) {
        QObject::connect(&gst, &MediaControl::OpenComplete, &gst, [this] {
            if (opens() == 1)
                tap.attach(gst);
        });
    }
    GstElement *pipeline() const { return gst.pipelineElement(); }
};
