#pragma once

#include "platform/engine/gstmediacontrol.h"

#include <QDeadlineTimer>
#include <QTest>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>

// Spins the event loop until `done`; the deadline only guards against hangs.
inline bool waitFor(const std::function<bool()> &done, int ms = 30000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(2);
    }
    return true;
}

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
        g_signal_connect(sink, "handoff", G_CALLBACK(&SinkTap::onHandoff), this);
    }
};
