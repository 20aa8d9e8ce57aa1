// The gapless switch's guard between the UI thread and the streaming thread,
// driven from real threads: a switch never starts under a Touch, and a Touch
// never proceeds while a switch runs.
#include "platform/engine/gaplessswitch.h"

#include <gtest/gtest.h>

#include <atomic>
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
    EXPECT_FALSE(s.take(setUri));
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
            const bool took = s.take([&](const char *) {
                overlaps += inTouch.load() != 0;
                ++inSwitch;
            });
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
    streaming.join();
    EXPECT_EQ(overlaps.load(), 0);
}
