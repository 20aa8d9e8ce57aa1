#pragma once

#include "platform/engine/mediacontrol.h"

#include <QStringList>
#include <QVector>

#include <algorithm>

// A media control that plays nothing: it records what the player asks and
// delivers notifications when the test says, as the real control does
// (test_mediacontract holds the two to the same cases).
class FakeMediaControl : public MediaControl {
    Q_OBJECT
public:
    QString FileName() const override { return m_file; }
    void setFileName(const QString &path) override;
    double Duration() const override { return m_duration; }
    double CurrentPosition() const override { return m_position; }
    void setCurrentPosition(double seconds) override;
    double SelectionEnd() const override { return m_selectionEnd; }
    void setSelectionEnd(double seconds) override;
    int PlayCount() const override { return m_playCount; }
    void setPlayCount(int count) override { m_playCount = std::max(1, count); }
    int CurrentState() const override { return m_state; }
    double Rate() const override { return m_rate; }
    void setRate(double rate) override { rateWrites << (m_rate = std::clamp(rate, 0.1, 2.2)); }
    int Volume() const override { return m_volume; }
    void setVolume(int v) override { volumeWrites << (m_volume = std::clamp(v, -10000, 0)); }
    void Run() override;
    void Pause() override;
    void Stop() override;
    void setNextFileName(const QString &path) override { nextFile = path; }

    // Test side.
    // Completes the pending open with this length.
    void completeOpen(double duration);
    // The end of the selection is reached: the file plays again while
    // PlayCount asks for more plays, then the stopped state is reported.
    void reachEnd();
    void fail(const QString &description);
    void setPosition(double seconds) { m_position = seconds; }
    bool isOpening() const { return m_pendingOpen; }

    // Asks the player for the next file, as the real control does while playing.
    void wantNext() { emit NextFileWanted(); }
    // The next file held now: the last one offered, forgotten at every open
    // and close like the real control's. An open asks again from the event
    // loop.
    QString nextFile;

    QStringList opened;         // every path opened, in order
    QVector<int> volumeWrites;  // every Volume write, in order
    QVector<double> rateWrites; // every Rate write, in order
    QStringList log;            // "open <path>", "close", "run", "pause", "stop", "position"
    int runs = 0;

private:
    // Reports the state from the event loop, unless the file changed meanwhile.
    void reportLater(int newState);
    void report(int newState);
    QString m_file;
    double m_duration = 0, m_position = 0, m_selectionEnd = 0, m_rate = 1;
    int m_playCount = 1, m_playsDone = 0, m_state = kMediaStopped, m_volume = 0;
    int m_reported = kMediaStopped;
    unsigned m_opens = 0;
    bool m_pendingOpen = false;
};
