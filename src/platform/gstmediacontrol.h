#pragma once

#include "platform/mediacontrol.h"

#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

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
    // Empty: autovideosink, or no video at all without a display.
    QString videoSink;
    // An open (or a re-preroll after a stop) that stays silent this long is
    // retried once, then reported as an error.
    int openTimeoutMs = 3000;
};

// The gain stage shared with the streaming thread; lives as long as the control.
struct GainStage {
    std::atomic<float> target{1.0f};
    std::atomic<float> applied{1.0f};
    std::atomic<int> channels{2};
};

namespace gstengine {
// Blocks until GStreamer is initialised, starting the init if needed.
void waitReady();
// Parses a gst-launch element description; null (and *error set) on failure.
GstElement *makeElement(const QString &description, QString *error);
// Sets "sync" on the element, or on every sink of a bin.
void setSync(GstElement *element, bool sync);
// Output bin: gain stage then conversion to what the sink accepts.
GstElement *makeAudioOutput(GstElement *sink, GainStage *gain);
// Exact length of an MPEG file by parsing every frame; < 0 on failure.
double parsedDuration(const QString &path, int timeoutMs);
// Whether an automatic output (autoaudiosink) fell back to a silent sink
// because the machine has no sound device.
bool outputIsFallback(GstElement *sink);
// Whether the file is MPEG whose preroll length may be an estimate.
bool needsParsedDuration(const QString &path);
} // namespace gstengine

class GstMediaControl : public MediaControl {
    Q_OBJECT
public:
    explicit GstMediaControl(QWidget *parent = nullptr, GstMediaOptions options = {});
    ~GstMediaControl() override;

    QString FileName() const override { return m_path; }
    void setFileName(const QString &path) override;
    double Duration() const override { return m_duration; }
    double CurrentPosition() const override;
    void setCurrentPosition(double seconds) override;
    double SelectionEnd() const override { return m_selectionEnd; }
    void setSelectionEnd(double seconds) override;
    int PlayCount() const override { return m_playCount; }
    void setPlayCount(int count) override;
    int CurrentState() const override { return m_state; }
    double Rate() const override { return m_rate; }
    void setRate(double rate) override;
    int Volume() const override { return m_volume; }
    void setVolume(int hundredthsOfDb) override;

    void Run() override;
    void Pause() override;
    void Stop() override;

    // Linear gain the output stage applied to the last buffer (for tests).
    double currentGain() const { return m_gain->applied.load(); }
    // The configured output element, or null before the first open (for tests).
    GstElement *audioSinkElement() const { return m_audioSink; }

    // Error codes carried in Error's SCode.
    enum ErrorCode {
        NotFound = 1,
        NotRegularFile = 2,
        AccessDenied = 3,
        NotRecognised = 4,
        NoDecoder = 5,
        TimedOut = 6,
        NoAudioOutput = 7,
        VideoFailed = 8,
        OtherError = 9,
    };

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    enum class Phase { Closed, Opening, Prerolling, Ready };

    bool ensurePipeline();
    void startPreroll();
    void finishPreroll();
    void takeDown(bool toNull);
    void resetPlayback();
    void closeSilently(bool toNull = false);
    void restartAtZero();
    void startPlaying();
    void seekTo(double from, bool flush);
    bool selectionIsWhole() const;
    void report(int newState);
    void reportLater(int newState);
    void handleMessage(GstMessage *msg, quint64 generation);
    void handleError(GstMessage *msg);
    void handleEnd(bool segmentDone);
    void fail(int code, const char *reason);
    void failLater(int code, const QString &name, const char *reason);
    void emitError(int code, const QString &name, const char *reason);
    void onOpenTimeout();
    double queryPosition() const;
    bool isCurrent(quint64 generation) const { return generation == m_generation.load(); }
    void forwardMessage(GstMessage *msg);

    GstMediaOptions m_options;
    std::unique_ptr<GainStage> m_gain;
    GstElement *m_playbin = nullptr;
    GstElement *m_audioSink = nullptr;
    GstElement *m_audioBin = nullptr;
    GstElement *m_videoSink = nullptr;

    // Stamped on every bus message; bumped once the pipeline is down so
    // messages of a file closed earlier are recognised and dropped.
    std::atomic<quint64> m_generation{1};

    QString m_path;
    Phase m_phase = Phase::Closed;
    int m_state = 0;
    int m_reported = 0;
    bool m_retried = false;
    bool m_segmentReady = false;
    bool m_atStart = false;
    double m_duration = 0;
    double m_selectionEnd = 0;
    double m_rate = 1.0;
    int m_playCount = 1;
    int m_playsDone = 0;
    int m_volume = 0;
    std::optional<double> m_heldPosition;
    std::optional<double> m_pendingSeek;
    std::optional<double> m_seekTarget;
    std::chrono::steady_clock::time_point m_lastVolumeSlot{};

    QTimer m_openTimer;
    QTimer m_tick;
};
