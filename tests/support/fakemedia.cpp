#include "support/fakemedia.h"

#include <QTimer>

void FakeMediaControl::changeState(int newState) {
    const int old = m_state;
    m_state = newState;
    emit StateChange(old, newState);
}

void FakeMediaControl::setFileName(const QString &path) {
    if (path.isEmpty()) {
        if (m_file.isEmpty())
            return;
        log << "close";
        m_file.clear();
        m_pendingOpen = false;
        changeState(0);
        return;
    }
    m_file = path;
    m_state = 0;
    m_position = 0;
    m_pendingOpen = true;
    opened << path;
    log << "open " + path;
    if (autoOpen) {
        QTimer::singleShot(0, this, [this, path] {
            if (m_pendingOpen && m_file == path)
                completeOpen(autoDuration);
        });
    }
}

void FakeMediaControl::completeOpen(double duration) {
    m_pendingOpen = false;
    m_duration = duration;
    m_selectionEnd = duration;
    emit OpenComplete();
}

void FakeMediaControl::setCurrentPosition(double seconds) {
    const double old = m_position;
    m_position = seconds;
    log << "position";
    emit PositionChange(old, seconds);
}

void FakeMediaControl::setSelectionEnd(double seconds) {
    m_selectionEnd = seconds;
    log << "selectionEnd " + QString::number(seconds);
}

void FakeMediaControl::setPlayCount(int count) {
    m_playCount = count;
    log << "playCount " + QString::number(count);
}

void FakeMediaControl::setVolume(int v) {
    m_volume = v;
    volumeWrites << v;
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
    if (deferPause) {
        const int old = m_state;
        m_state = 1;
        QTimer::singleShot(0, this, [this, old] {
            if (m_state == 1)
                emit StateChange(old, 1);
        });
        return;
    }
    changeState(1);
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
