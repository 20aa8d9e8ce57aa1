#pragma once

#include "platform/engine/audiooutput.h"
#include "platform/engine/engine.h"
#include "platform/engine/mediacontrol.h"
#include "platform/engine/playbackstate.h"

#include <QString>
#include <QTimer>

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
typedef struct _GstPad GstPad;

// The media control on one reused playbin. Its playback states and their
// transitions are in playbackstate.h; this class does the pipeline's work
// for each.
//
// Hand-over (gapless), m_handOver, while Ready and running the last play:
//   None   -> Armed    playbin's about-to-finish (streaming thread) took the
//                      next file offered by setNextFileName.
//   Armed  -> Heard    the next file's first sample is due at the output: the
//                      current file's end is reported (state 0), and if the
//                      stopped handler asks for that very file it is adopted
//                      with no restart; otherwise it is dropped and the
//                      requested file opens as usual.
// Any close, stop, seek or new file returns to None.
class GstMediaControl : public MediaControl {
    Q_OBJECT
public:
    explicit GstMediaControl(QWidget *parent = nullptr, GstMediaOptions options = {});
    ~GstMediaControl() override;

    QString FileName() const override { return m_play.path; }
    void setFileName(const QString &path) override;
    double Duration() const override { return m_play.duration; }
    double CurrentPosition() const override;
    void setCurrentPosition(double seconds) override;
    double SelectionEnd() const override { return m_play.selectionEnd; }
    void setSelectionEnd(double seconds) override;
    int PlayCount() const override { return m_play.playCount; }
    void setPlayCount(int count) override;
    int CurrentState() const override { return m_play.wanted; }
    double Rate() const override { return m_play.rate; }
    void setRate(double rate) override;
    int Volume() const override { return m_play.volume; }
    void setVolume(int hundredthsOfDb) override;

    void Run() override;
    void Pause() override;
    void Stop() override;
    void setNextFileName(const QString &path) override;

    // Linear gain the output stage applied to the last buffer (for tests).
    double currentGain() const { return m_gain->applied.load(); }
    // The configured output element, or null before the first open (for tests).
    GstElement *audioSinkElement() const { return m_audioSink; }
    // Files taken over with no restart since the control was made.
    int handOvers() const { return m_handOvers; }

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
    // While a film shows, the sink paints the native window: Qt must not.
    QPaintEngine *paintEngine() const override { return nullptr; }
    void paintEvent(QPaintEvent *event) override;

private:
    enum class HandOver { None, Armed, Heard };

    // The pipeline, and its preroll while idle (gstsetup.cpp).
    bool ensurePipeline();
    void warmUp();
    void checkWarmUp();
    void endWarmUp();
    void startPreroll();
    void finishPreroll();
    void thenAsWanted();
    void readDuration();
    void takeDown(bool toNull);
    void closeSilently(bool toNull = false);
    void restartAtZero();
    void reload();
    // Back to the start, keeping the position (shown, or sought once
    // prerolled) and running or paused as the caller wants.
    void restartKeeping(double position, PlaybackState::Keep keep);
    void startPlaying();
    void seekTo(double from, bool flush);
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
    void setUri(const QString &path);
    void letRampBeHeard();
    void watchStall();

    // Films in the control's own native window (gstvideo.cpp).
    GstElement *makeVideoSink(const QString &description, QString *error);
    bool showFilm();
    void chooseVideoSink(bool film);
    void hideFilm();
    void offerWindow(GstMessage *msg);

    // Hand-over (gsthandover.cpp).
    void installHandOver();
    void updateHandOver();
    bool canTakeNext();
    void dropHandOver();
    void onAboutToFinish();
    void onDrainHandled();
    void onPadsLinked();
    void onNextStreamQueued(qint64 runningTimeNs, quint64 generation);
    void onNextStreamHeard(quint64 generation);
    bool adopt(const QString &path);
    void finishAdopting();
    void nextFileFailed();
    bool reloadIfArmed();

    // playbin's switch to a taken next file runs on its streaming thread and
    // takes playbin's locks in the opposite order to a state change or a new
    // source from this thread: the two must never overlap, or both wait for
    // good. Every such call holds a Touch; a switch waits for none of them
    // and is simply not started while one is held.
    class Touch {
    public:
        explicit Touch(GstMediaControl &control);
        ~Touch();
        Touch(const Touch &) = delete;
        Touch &operator=(const Touch &) = delete;

    private:
        GstMediaControl &m_control;
    };

    GstMediaOptions m_options;
    std::unique_ptr<GainStage> m_gain;
    GstElement *m_playbin = nullptr;
    GstElement *m_audioSink = nullptr;
    GstElement *m_audioBin = nullptr;
    GstElement *m_videoSink = nullptr;      // ours: in playbin only for films
    GstElement *m_noVideo = nullptr;        // ours: playbin's video sink otherwise
    GstElement *m_installedVideo = nullptr; // which of the two playbin has
    QString m_videoDescription;
    bool m_filmSinkUsed = false; // playbin has had m_videoSink: a film needs a new one
    // Inside the video sink: the element drawing into a window (null when it
    // draws none, like a fakesink) and the size the picture is scaled to.
    GstElement *m_overlay = nullptr;
    GstElement *m_fit = nullptr;
    // Native window handed to the video sink; 0 while no film shows.
    std::atomic<quintptr> m_windowHandle{0};

    // Stamped on every bus message; bumped once the pipeline is down so
    // messages of a file closed earlier are recognised and dropped.
    std::atomic<quint64> m_generation{1};

    PlaybackState m_play;
    std::chrono::steady_clock::time_point m_lastVolumeSlot{};

    // The next file as offered, and what the streaming thread may take:
    // m_nextUri is only set while a gapless hand-over is allowed.
    QString m_nextPath;
    std::mutex m_nextMutex;
    QByteArray m_nextUri; // guarded by m_nextMutex
    QString m_armedPath;  // guarded by m_nextMutex
    std::atomic<bool> m_armed{false};
    std::condition_variable m_switchDone;
    int m_touching = 0;                      // guarded by m_nextMutex
    std::thread::id m_switchingThread;       // guarded by m_nextMutex: a switch under way
    std::atomic<bool> m_awaitingPads{false}; // its next file not linked yet
    std::atomic<bool> m_streamStarted{false};
    HandOver m_handOver = HandOver::None;
    QString m_handOverPath;
    QString m_refusedPath; // a next file that failed: not taken again for this one
    QString m_vettedPath;  // the last next file checked, and whether it may be taken
    bool m_vetted = false;
    int m_handOvers = 0;
    bool m_warming = false; // a silent preroll readies the pipeline before the first open
    int m_warmChecks = 0;
    QTimer m_warmTimer;

    int m_stalledTicks = 0;
    double m_lastTickPosition = -1;

    QTimer m_openTimer;
    QTimer m_tick;
    QTimer m_handOverTimer;
};
