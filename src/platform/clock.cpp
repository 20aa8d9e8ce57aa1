#include "platform/clock.h"

namespace {
Clock *g_clock = nullptr;
}

Clock &CurrentClock() {
    static Clock system;
    return g_clock ? *g_clock : system;
}

void SetClock(Clock *clock) {
    g_clock = clock;
}
