#pragma once

#include "platform/engine/mediacontrol.h"

#include <QDeadlineTimer>
#include <QStringList>
#include <QTest>

#include <functional>
#include <ostream>
#include <utility>
#include <vector>

// Spins the event loop until `done`; the deadline only guards against hangs.
inline bool waitFor(const std::function<bool()> &done, int ms = 30000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(2);
    }
    return true;
}

// Readable failures.
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

using States = std::vector<std::pair<int, int>>;

// Everything a media control tells the program, recorded as it comes, and
// the waits the tests build on it. `pump` runs at every turn of a wait: the
// fake control completes its opens there, the real one needs nothing.
struct MediaWatch {
    MediaControl &c;
    States states;
    std::vector<std::pair<int, QString>> errors;
    std::vector<std::pair<double, double>> seeks; // PositionChange(old, new)
    QStringList opened;                           // FileName() at each OpenComplete
    int nextWanted = 0;
    std::function<void(int)> onState;
    std::function<void()> pump;
    QObject context; // ends the connections with the watch

    explicit MediaWatch(MediaControl &control);
    int opens() const { return int(opened.size()); }
    bool until(const std::function<bool()> &done, int ms = 30000);
    // Opens and waits for OpenComplete; false on an error. `next` is offered
    // right after the open starts, as the player does.
    bool open(const QString &path, const QString &next = {});
    // Runs to the stopped report; false on an error.
    bool play();
    // Runs until the position reaches `seconds`.
    bool runUntil(double seconds);
    bool stopped() const { return !states.empty() && states.back().second == kMediaStopped; }
    // Whether a stop was reported at or after states[from].
    bool stoppedSince(size_t from) const {
        for (size_t i = from; i < states.size(); ++i)
            if (states[i].second == kMediaStopped)
                return true;
        return false;
    }
    bool lastIs(int from, int to) const {
        return !states.empty() && states.back() == std::make_pair(from, to);
    }
    // Waits for the single error a failure must give and returns its code;
    // a second one is a failure once the control has settled.
    int oneError();
};
