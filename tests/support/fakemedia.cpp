#include "support/fakemedia.h"

#include <QTimer>

void FakeMediaControl::report(int newState) {
    const int old = m_reported;
    m_reported = newState;
    emit StateChange(old, newState);
}

void FakeMediaControl::reportLater(int newState) {
    const unsigned open = m_opens;
    QTimer::singleShot(0, this, [this, open, newState] {
        if (open == m_opens && !m_pendingOpen && m_state == newState && m_reported != newState)
            report(newState);
    });
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
    m_state = kMediaStopped;
    if (path.isEmpty())
        report(kMediaStopped);
    else
        opened << path;
    m_reported = kMediaStopped;
    if (!path.isEmpty())
        QTimer::singleShot(0, this, [this, open] {
            if (open == m_opens)
                emit NextFileWanted();
        });
}

void FakeMediaControl::completeOpen(double duration) {
    m_pendingOpen = false;
    m_duration = m_selectionEnd = duration;
    const unsigned open = m_opens;
    emit OpenComplete();
    // A Run or Pause asked while the file opened takes effect now.
    if (open == m_opens && m_state != m_reported)
        reportLater(m_state);
}

void FakeMediaControl::setCurrentPosition(double seconds) {
    if (m_file.isEmpty())
        return;
    const double old = m_position;
    m_position = seconds = std::max(0.0, m_duration > 0 ? std::min(seconds, m_duration) : seconds);
    log << "position";
    const unsigned open = m_opens;
    QTimer::singleShot(0, this, [this, open, old, seconds] {
        if (open == m_opens)
            emit PositionChange(old, seconds);
    });
}

void FakeMediaControl::setSelectionEnd(double seconds) {
    m_selectionEnd = std::max(0.0, m_duration > 0 ? std::min(seconds, m_duration) : seconds);
}

void FakeMediaControl::Run() {
    if (m_file.isEmpty())
        return;
    if (m_state == kMediaStopped)
        m_playsDone = 0;
    ++runs;
    log << "run";
    m_state = kMediaRunning;
    if (!m_pendingOpen)
        reportLater(kMediaRunning);
}

void FakeMediaControl::Pause() {
    if (m_file.isEmpty() || m_state == kMediaPaused)
        return;
    log << "pause";
    m_state = kMediaPaused;
    if (!m_pendingOpen)
        reportLater(kMediaPaused);
}

void FakeMediaControl::Stop() {
    if (m_file.isEmpty())
        return;
    log << "stop";
    m_position = 0;
    m_state = kMediaStopped;
    report(kMediaStopped);
}

void FakeMediaControl::reachEnd() {
    // A file reports that it runs before it can end.
    if (m_state == kMediaRunning && m_reported != kMediaRunning)
        report(kMediaRunning);
    if (++m_playsDone < m_playCount && m_state == kMediaRunning) {
        log << "loop";
        m_position = 0;
        return;
    }
    log << "end";
    m_position = m_selectionEnd;
    m_state = kMediaStopped;
    report(kMediaStopped);
}

void FakeMediaControl::fail(const QString &description) {
    m_file.clear();
    m_pendingOpen = false;
    m_state = m_reported = kMediaStopped;
    ++m_opens;
    bool cancel = false;
    emit Error(1, description, "Tunabel", &cancel);
}
