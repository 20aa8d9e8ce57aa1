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
        changeState(0);
    else
        opened << path;
    m_state = 0;
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
    changeState(2);
}

void FakeMediaControl::Pause() {
    if (m_file.isEmpty())
        return;
    log << "pause";
    if (!deferPause)
        return changeState(1);
    const int old = m_state;
    m_state = 1;
    QTimer::singleShot(0, this, [this, old] {
        if (m_state == 1)
            emit StateChange(old, 1);
    });
}

void FakeMediaControl::Stop() {
    if (m_file.isEmpty())
        return;
    log << "stop";
    m_position = 0;
    if (m_state != 0)
        changeState(0);
}

void FakeMediaControl::reachEnd() {
    if (++m_playsDone < m_playCount && m_state == 2) {
        log << "loop";
        m_position = 0;
        return;
    }
    log << "end";
    m_position = m_selectionEnd;
    changeState(0);
}

void FakeMediaControl::fail(const QString &description) {
    m_file.clear();
    m_pendingOpen = false;
    m_state = 0;
    bool cancel = false;
    emit Error(1, description, "Tunabel", &cancel);
}
