#pragma once

#include "platform/clock.h"

#include <QElapsedTimer>

// A clock the test sets. With `running`, it moves on in real time from the
// last time set. It takes the clock's place for its lifetime.
class FakeClock : public Clock {
public:
    FakeClock() { SetClock(this); }
    ~FakeClock() override { SetClock(nullptr); }

    QDateTime Now() const override { return running ? m_now.addMSecs(m_since.elapsed()) : m_now; }
    void set(const QDateTime &now) {
        m_now = now;
        m_since.start();
    }
    void set(int hour, int minute, int second = 0) { set(QDateTime(m_day, QTime(hour, minute, second))); }
    void advance(qint64 ms) { set(Now().addMSecs(ms)); }

    bool running = false;

private:
    QDate m_day{2026, 3, 10};
    QDateTime m_now{m_day, QTime(12, 0)};
    QElapsedTimer m_since;
};
