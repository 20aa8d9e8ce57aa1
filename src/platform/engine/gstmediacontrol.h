#pragma once

#include "platform/engine/audiooutput.h"
#include "platform/engine/engine.h"
#include "platform/engine/gaplessswitch.h"
#include "platform/engine/mediacontrol.h"
#include "platform/engine/playbackstate.h"

#include <QRect>
#include <QString>
#include <QTimer>

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
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
// Hand-over (gapless), while Ready and running the last play; its threads
// and locks are described in gaplessswitch.h:
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
    double currentGain() const { return m_output.gain->applied.load(); }
    // The configured output element, or null before the first open (for tests).
    GstElement *audioSinkElement() const { return m_output.sink; }
    // playbin, or null before the first open (for tests): the output is in it
    // only once a preroll has linked it.
    GstElement *pipelineElement() const { return m_playbin; }
    // Files taken over with no restart since the control was made.
    int handOvers() const { return m_switch.handOvers; }

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
    // On Wayland the film follows the control over the window.
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    // The user's first input anywhere in the player starts the idle preroll.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The pipeline, and its preroll while idle (gstsetup.cpp).
    bool ensurePipeline();
    void warmUp();
    void checkWarmUp();
    void endWarmUp();
    void startPreroll();
    void finishPreroll();
    void thenAsWanted();
    bool announceOpened();
    void readDuration();
    void takeDown(bool toNull);
    void closeSilently(bool toNull = false);
    void forget();
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
    // A pause, stop or close right after a volume change: the sound is cut
    // once the change is heard, without waiting here.
    bool rampUnheard() const;
    void afterRamp(std::function<void()> cut);
    void checkRamp();
    void cutNow();
    void pausePipeline();
    // Every change of playbin's state, address, flags or position holds one.
    GaplessSwitch::Touch touchPipeline(GaplessSwitch::TouchKind kind = GaplessSwitch::TouchKind::Any);
    void watchStall();

    // Films in the control's own native window (gstvideo.cpp).
    GstElement *makeVideoSink(const QString &description, QString *error);
    bool showFilm();
    bool showFilmOnWayland();
    void placeFilm();
    void followNewSurface();
    void chooseVideoSink(bool film);
    void hideFilm();
    void offerWindow(GstMessage *msg);

    // Hand-over (gsthandover.cpp).
    void installHandOver();
    void updateHandOver();
    void dropHandOver();
    void onAboutToFinish();
    void onNextStreamQueued(qint64 runningTimeNs, quint64 generation);
    void onNextStreamHeard(quint64 generation);
    bool adopt(const QString &path);
    void finishAdopting();
    void nextFileFailed();
    bool reloadIfArmed();

    // A silent preroll readies the pipeline before the first open.
    struct WarmUp {
        bool on = false;
        int checks = 0;
        QTimer timer;
    };
    // Some demuxers never end a cut-off file: a position that stops moving
    // while the output goes on taking (silence).
    struct StallWatch {
        int ticks = 0;
        double lastPosition = -1;
        long long lastWritten = -1;
    };
    // The sink for films and its stand-in (gstvideo.cpp).
    struct FilmWindow {
        GstElement *sink = nullptr;      // ours: in playbin only for films
        GstElement *none = nullptr;      // ours: playbin's video sink otherwise
        GstElement *installed = nullptr; // which of the two playbin has
        QString description;
        bool sinkUsed = false; // playbin has had the sink: a film needs a new one
        // Inside the video sink: the element drawing into a window (null when
        // it draws none, like a fakesink) and the size the picture is scaled to.
        GstElement *overlay = nullptr;
        GstElement *fit = nullptr;
        // Native window handed to the video sink; 0 while no film shows.
        std::atomic<quintptr> window{0};
        // Wayland: the sink draws on a surface of its own above our window's
        // (handed as the window), over the control; where, in the window's
        // surface, and which sink has Qt's connection to the compositor.
        std::mutex placeLock;
        QRect place;
        GstElement *connected = nullptr;
    };

    GstMediaOptions m_options;
    AudioOutput m_output;
    FilmWindow m_film;
    GstElement *m_playbin = nullptr;
    // Stamped on every bus message; bumped once the pipeline is down so
    // messages of a file closed earlier are recognised and dropped.
    std::atomic<quint64> m_generation{1};

    PlaybackState m_play;
    GaplessSwitch m_switch;
    std::chrono::steady_clock::time_point m_lastVolumeSlot{};
    WarmUp m_warm;
    StallWatch m_stall;
    // The cut of a pause, stop or close waiting for a ramp to be heard.
    struct DeferredCut {
        std::function<void()> work;
        std::chrono::steady_clock::time_point deadline;
        QTimer timer;
    } m_cut;

    QTimer m_openTimer;
    QTimer m_tick;
    QTimer m_handOverTimer;
};
