#include "support/fakemedia.h"

#include <QTimer>

void FakeMediaControl::changeState(int newState) {
    const int old = m_state;
    m_state = newState;
    emit StateChange(old, newState);
}

void FakeMediaControl::setFileName(const QString &path) {
    if (path.isEmpty() && m_file.isEmpty())
        return;
    log << (path.isEmpty() ? "close" : "open " + path);
    m_file = path;
    m_position = 0;
    m_playsDone = 0;
    nextFile.clear();
    m_pendingOpen = !path.isEmpty();
    const unsigned open = ++m_opens;
    if (path.isEmpty())
        changeState(kMediaStopped);
    else
        opened << path;
    m_state = kMediaStopped;
    if (!path.isEmpty())
        QTimer::singleShot(0, this, [this, open] {
            if (open == m_opens)
                emit NextFileWanted();
        });
}

void FakeMediaControl::completeOpen(double duration) {
    m_pendingOpen = false;
    m_duration = m_selectionEnd = duration;
    emit OpenComplete();
}

void FakeMediaControl::setCurrentPosition(double seconds) {
    const double old = m_position;
    m_position = seconds;
    log << "position";
    emit PositionChange(old, seconds);
}

void FakeMediaControl::Run() {
    if (m_file.isEmpty() || m_pendingOpen)
        return;
    ++runs;
    log << "run";
    changeState(kMediaRunning);
}

void FakeMediaControl::Pause() {
    if (m_file.isEmpty())
        return;
    log << "pause";
    if (!deferPause)
        return changeState(kMediaPaused);
    const int old = m_state;
    m_state = kMediaPaused;
    QTimer::singleShot(0, this, [this, old] {
        if (m_state == kMediaPaused)
            emit StateChange(old, kMediaPaused);
    });
}

void FakeMediaControl::Stop() {
    if (m_file.isEmpty())
        return;
    log << "stop";
    m_position = 0;
    if (m_state != kMediaStopped)
        changeState(kMediaStopped);
}

void FakeMediaControl::reachEnd() {
    if (++m_playsDone < m_playCount && m_state == 2) {
        log << "loop";
        m_position = 0;
        return;
    }
    log << "end";
    m_position = m_selectionEnd;
    changeState(kMediaStopped);
}

void FakeMediaControl::fail(const QString &description) {
    m_file.clear();
    m_pendingOpen = false;
    m_state = kMediaStopped;
    bool cancel = false;
    emit Error(1, description, "Tunabel", &cancel);
}
