#pragma once
// Shared by the benchmarks: clocks, medians and the one-line report.

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace bench {

inline long long nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

inline double nowMs() {
    return double(nowNs()) / 1e6;
}

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline std::string fmt(double value, const char *unit, int decimals = 1) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f%s", decimals, value, unit);
    return buf;
}

// A figure against its floor: ok when median / floor stays within target.
inline void report(const std::string &name, double med, double floor, double target, const char *unit,
                   int decimals = 1, const std::string &extra = {}) {
    const double ratio = floor > 0 ? med / floor : 0;
    std::printf("bench %s median=%s floor=%s ratio=%.2f target=%.2f%s %s\n", name.c_str(),
                fmt(med, unit, decimals).c_str(), fmt(floor, unit, decimals).c_str(), ratio, target,
                extra.empty() ? "" : (" " + extra).c_str(), floor > 0 && ratio <= target ? "ok" : "over");
    std::fflush(stdout);
}

// A figure with no floor, against a bound.
inline void reportBound(const std::string &name, double med, const std::string &target, bool ok,
                        const char *unit, int decimals = 1, const std::string &extra = {}) {
    std::printf("bench %s median=%s floor=- ratio=- target=%s%s %s\n", name.c_str(),
                fmt(med, unit, decimals).c_str(), target.c_str(), extra.empty() ? "" : (" " + extra).c_str(),
                ok ? "ok" : "over");
    std::fflush(stdout);
}

} // namespace bench
