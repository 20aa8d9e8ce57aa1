#pragma once

#include <QString>
#include <QWidget>

// The media control's states, as CurrentState and StateChange give them.
enum MediaState : int {
    kMediaStopped = 0,
    kMediaPaused = 1,
    kMediaRunning = 2,
};

// The media control the player drives. Properties, methods and notifications
// keep the names the player's handlers use. Values:
//   CurrentState: a MediaState
//   Volume: hundredths of a decibel, 0 full, negative quieter
//   Duration, CurrentPosition, SelectionEnd: seconds
class MediaControl : public QWidget {
    Q_OBJECT
public:
    explicit MediaControl(QWidget *parent = nullptr) : QWidget(parent) {}
    ~MediaControl() override = default;

    // Setting a path opens the file asynchronously: exactly one OpenComplete
    // or one Error follows. Setting "" closes the file; the stopped
    // StateChange is emitted synchronously inside the call when a file was
    // loaded.
    virtual QString FileName() const = 0;
    virtual void setFileName(const QString &path) = 0;

    virtual double Duration() const = 0;
    virtual double CurrentPosition() const = 0;
    // Keeps the state; PositionChange(old, new) follows from the event loop,
    // never inside the call, and not at all once the file is closed.
    virtual void setCurrentPosition(double seconds) = 0;
    virtual double SelectionEnd() const = 0;
    virtual void setSelectionEnd(double seconds) = 0;
    virtual int PlayCount() const = 0;
    virtual void setPlayCount(int count) = 0;
    virtual int CurrentState() const = 0;
    virtual double Rate() const = 0;
    virtual void setRate(double rate) = 0;
    virtual int Volume() const = 0;
    virtual void setVolume(int hundredthsOfDb) = 0;

    // CurrentState gives the new state inside the call; its StateChange
    // follows from the event loop, once. Asked while the file opens, they
    // take effect after its OpenComplete.
    virtual void Run() = 0;
    virtual void Pause() = 0;
    // Stops and rewinds; the file stays loaded, or goes on opening. The
    // stopped StateChange is emitted synchronously inside the call, even
    // when already stopped.
    virtual void Stop() = 0;

    // The file the player expects to open when the current one ends, "" for
    // none. A control that can will play into it with no gap; the player
    // still opens it as usual at the stopped report, and the hand-over only
    // happens when it asks for that very file. Forgotten at every open.
    virtual void setNextFileName(const QString &path) { (void)path; }

signals:
    void OpenComplete();
    void StateChange(int oldState, int newState);
    void PositionChange(double oldPosition, double newPosition);
    void Timer();
    // cancelDisplay is the by-reference flag of the notification.
    void Error(int SCode, const QString &Description, const QString &Source, bool *CancelDisplay);
    void MouseDown(int Button, int Shift, float X, float Y);
    // The control would like the next file (setNextFileName) now.
    void NextFileWanted();
};
