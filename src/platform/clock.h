#pragma once

#include <QDateTime>

// The wall clock the alarm reads. Tests put one of their own in place.
class Clock {
public:
    virtual ~Clock() = default;
    // The local date and time now.
    virtual QDateTime Now() const { return QDateTime::currentDateTime(); }
};

// The clock in use; null gives the system's back.
Clock &CurrentClock();
void SetClock(Clock *clock);
