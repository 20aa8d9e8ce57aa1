#pragma once
// Shared by the benchmarks that run Qt: waiting on the event loop, idling,
// CPU time, and the moment a window is really on screen.

#include "benchutil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <functional>

#include <sys/resource.h>

// Runs the event loop until cond holds; false after timeoutMs. The tick
// bounds each wait so the time-out is seen.
inline bool waitFor(const std::function<bool()> &cond, int timeoutMs, int tickMs = 5) {
    QElapsedTimer t;
    t.start();
    QTimer tick;
    tick.start(tickMs);
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline void idleMs(int ms) {
    QElapsedTimer t;
    t.start();
    waitFor([&] { return t.elapsed() >= ms; }, ms + 1000);
}

// User and system CPU time of this process.
inline double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Stamps when a window has been exposed, painted and flushed.
class Shown : public QObject {
public:
    explicit Shown(QWidget *w) : m_widget(w) { qApp->installEventFilter(this); }
    bool eventFilter(QObject *obj, QEvent *ev) override {
        if (ev->type() == QEvent::Paint && obj == m_widget && m_widget->windowHandle() &&
            m_widget->windowHandle()->isExposed()) {
            m_painted = true;
            return false;
        }
        if (done || (ev->type() != QEvent::Expose && ev->type() != QEvent::UpdateRequest) ||
            obj != m_widget->windowHandle())
            return false;
        obj->event(ev);
        if (m_painted) {
            done = true;
            at = bench::nowMs();
        }
        return true;
    }
    bool done = false;
    double at = 0;

private:
    QWidget *m_widget;
    bool m_painted = false;
};
