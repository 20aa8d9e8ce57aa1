// The gapless switch's guard between the UI thread and the streaming thread,
// driven from real threads: a switch never starts under a Touch, and a Touch
// never proceeds while a switch runs.
#include "platform/engine/gaplessswitch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

using HandOver = GaplessSwitch::HandOver;

TEST(GaplessSwitch, OfferTakeHearDropFollowTheHandOverStates) {
    GaplessSwitch s;
    QByteArray set;
    const auto setUri = [&](const char *uri) { set = uri; };
    EXPECT_FALSE(s.take(setUri)) << "nothing offered";
    s.offer("file:///b.wav", "/b.wav");
    {
        const GaplessSwitch::Touch touch(s);
        EXPECT_FALSE(s.take(setUri)) << "taken under a Touch";
    }
    ASSERT_TRUE(s.take(setUri));
    EXPECT_EQ(set, "file:///b.wav");
    EXPECT_EQ(s.state(), HandOver::Armed);
    EXPECT_EQ(s.taken(), "/b.wav");
    // Taken: a new offer changes nothing until a drop.
    s.offer("file:///c.wav", "/c.wav");
    EXPECT_FALSE(s.take(setUri, std::chrono::milliseconds(0))); // b's own next is due: no wait here
    s.drainHandled();
    s.padsLinked();
    EXPECT_EQ(s.heard(), "/b.wav");
    EXPECT_EQ(s.state(), HandOver::Heard);
    s.drop();
    EXPECT_EQ(s.state(), HandOver::None);
    EXPECT_TRUE(s.taken().isEmpty());
    EXPECT_FALSE(s.take(setUri)) << "the offer made while armed was dropped";
}

// A Touch begun during a switch returns only once the switching thread has
// finished it and the next file's pads are linked; the drain of another
// thread does not count.
TEST(GaplessSwitch, ATouchWaitsForTheSwitchUnderWay) {
    GaplessSwitch s;
    s.offer("file:///b.wav", "/b.wav");
    ASSERT_TRUE(s.take([](const char *) {}));
    std::atomic<bool> touching{false}, finished{false}, early{false};
    std::thread ui([&] {
        touching = true;
        const GaplessSwitch::Touch touch(s);
        early = !finished.load();
    });
    while (!touching.load())
        std::this_thread::yield();
    std::thread([&] { s.drainHandled(); }).join(); // not the switching thread
    std::thread([&] { s.padsLinked(); }).join();
    // Room for a Touch that would not wait to go on: it must not.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    finished = true;
    s.drainHandled();
    ui.join();
    EXPECT_FALSE(early.load()) << "a Touch went on during the switch";
}

// Switches on one thread, Touches on another, many times over: no Touch is
// ever inside a switch, and no switch starts inside a Touch.
TEST(GaplessSwitch, SwitchesAndTouchesNeverOverlap) {
    GaplessSwitch s;
    std::atomic<int> inTouch{0}, inSwitch{0}, overlaps{0}, switches{0};
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        while (!done.load()) {
            // No wait for the next offer: that would keep this thread in step
            // with the UI thread's drops, missing every offer.
            const bool took = s.take(
                [&](const char *) {
                    overlaps += inTouch.load() != 0;
                    ++inSwitch;
                },
                std::chrono::milliseconds(0));
            if (!took) {
                std::this_thread::yield();
                continue;
            }
            ++switches;
            std::this_thread::yield();
            --inSwitch;
            s.drainHandled();
            s.padsLinked();
        }
    });
    while (switches.load() < 300) {
        s.drop();
        s.offer("file:///b.wav", "/b.wav");
        const GaplessSwitch::Touch touch(s);
        ++inTouch;
        overlaps += inSwitch.load() != 0;
        --inTouch;
        std::this_thread::yield();
    }
    done = true;
    s.drop(); // a take waiting for the next offer
    streaming.join();
    EXPECT_EQ(overlaps.load(), 0);
}

// A short file taken is read whole at once: its own end comes before the
// player, which hears of it only at its start, says what follows. That take
// waits for the answer; an offer goes on, a settle with nothing, a drop or a
// Touch ends the wait at once.
TEST(GaplessSwitch, ATakeWaitsForTheOfferDueUntilThePlayerAnswers) {
    enum class Answer { Offer, Nothing, Drop, Touch, OfferUnderStart };
    using namespace std::chrono_literals;
    for (const Answer answer :
         {Answer::Offer, Answer::Nothing, Answer::Drop, Answer::Touch, Answer::OfferUnderStart}) {
        SCOPED_TRACE(int(answer));
        GaplessSwitch s;
        s.offer("file:///b.wav", "/b.wav");
        ASSERT_TRUE(s.take([](const char *) {}));
        s.drainHandled();
        s.padsLinked();
        s.settle(); // the answer for the file before b, late: b's own is still due
        QByteArray set;
        std::atomic<int> took{-1};
        std::thread streaming([&] { took = s.take([&](const char *uri) { set = uri; }, 60s); });
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(took.load(), -1) << "a take with an offer due went on";
        s.heard();
        s.adopted(); // the player opened the taken file: still no answer
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(took.load(), -1) << "the adoption alone ended the wait";
        std::optional<GaplessSwitch::Touch> touch;
        switch (answer) {
        case Answer::Offer:
            s.offer("file:///c.wav", "/c.wav");
            s.settle();
            break;
        case Answer::Nothing:
            s.settle();
            break;
        case Answer::Drop:
            s.drop();
            break;
        case Answer::Touch:
            touch.emplace(s);
            break;
        case Answer::OfferUnderStart:
            // A start never waits for the streaming thread: the take waits for it.
            touch.emplace(s, GaplessSwitch::TouchKind::Start);
            s.offer("file:///c.wav", "/c.wav");
            s.settle();
            std::this_thread::sleep_for(50ms);
            EXPECT_EQ(took.load(), -1) << "taken during a start";
            touch.reset();
            break;
        }
        // Far below the take's own bound: only a wake-up ends it this soon.
        for (int i = 0; i < 3000 && took.load() == -1; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_NE(took.load(), -1) << "the answer did not end the wait";
        streaming.join();
        const bool offered = answer == Answer::Offer || answer == Answer::OfferUnderStart;
        EXPECT_EQ(took.load(), offered ? 1 : 0);
        EXPECT_EQ(set, offered ? QByteArray("file:///c.wav") : QByteArray());
    }
}
