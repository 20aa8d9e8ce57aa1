#include "support/mediawatch.h"

#include <gtest/gtest.h>

MediaWatch::MediaWatch(MediaControl &control) : c(control) {
    QObject::connect(&c, &MediaControl::OpenComplete, &context, [this] { opened << c.FileName(); });
    QObject::connect(&c, &MediaControl::NextFileWanted, &context, [this] { ++nextWanted; });
    QObject::connect(&c, &MediaControl::StateChange, &context, [this](int o, int n) {
        states.emplace_back(o, n);
        if (onState)
            onState(n);
    });
    QObject::connect(&c, &MediaControl::PositionChange, &context,
                     [this](double o, double n) { seeks.emplace_back(o, n); });
    QObject::connect(&c, &MediaControl::Error, &context,
                     [this](int code, const QString &d, const QString &src, bool *) {
                         EXPECT_EQ(src, "Tunabel");
                         errors.emplace_back(code, d);
                     });
}

bool MediaWatch::until(const std::function<bool()> &done, int ms) {
    return waitFor(
        [&] {
            if (pump)
                pump();
            return done();
        },
        ms);
}

bool MediaWatch::open(const QString &path, const QString &next) {
    const int before = opens();
    const size_t failed = errors.size();
    c.setFileName(path);
    c.setNextFileName(next);
    return until([&] { return opens() > before || errors.size() > failed; }) && errors.size() == failed;
}

bool MediaWatch::play() {
    states.clear();
    const size_t failed = errors.size();
    c.Run();
    EXPECT_EQ(c.CurrentState(), kMediaRunning);
    return until([&] { return stopped() || errors.size() > failed; }) && errors.size() == failed;
}

bool MediaWatch::runUntil(double seconds) {
    const size_t failed = errors.size();
    c.Run();
    return until([&] { return c.CurrentPosition() >= seconds || errors.size() > failed; }) &&
           errors.size() == failed;
}

int MediaWatch::oneError() {
    if (!until([&] { return !errors.empty(); }))
        return -1;
    // A second error would come from the same failure, queued behind the
    // first: a round of the event loop lets it in.
    QTest::qWait(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(errors.size(), 1u);
    return errors[0].first;
}
