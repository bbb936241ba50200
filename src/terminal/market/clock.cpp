// The terminal's clocks, on every platform from the standard library.
#include "terminal/market/clock.h"

#include <chrono>
#include <cstdio>

#include "terminal/market/calendar.h"

namespace {

struct VirtualClock {
    bool on;
    bool running;
    int64_t start_msc;
    int64_t until_msc;
    double speed;
    std::chrono::steady_clock::time_point run_from;
};

VirtualClock g_clock;
int64_t g_held_msc = -1;

}  // namespace

int64_t market_now_msc() {
    using namespace std::chrono;
    if (g_held_msc >= 0) {
        return g_held_msc;
    }
    if (!g_clock.on) {
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    int64_t now = g_clock.start_msc;
    if (g_clock.running) {
        // Nanoseconds: at 10,000 times real time a millisecond of real time
        // is ten seconds of market.
        double real_ns =
            (double)duration_cast<nanoseconds>(steady_clock::now() - g_clock.run_from).count();
        now += (int64_t)(real_ns * g_clock.speed / 1e6);
    }
    if (g_clock.until_msc != 0 && now > g_clock.until_msc) {
        now = g_clock.until_msc;
    }
    return now;
}

ClockHold::ClockHold(int64_t msc) : previous(g_held_msc) {
    g_held_msc = msc;
}

ClockHold::~ClockHold() {
    g_held_msc = previous;
}

int64_t steady_now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void clock_set_virtual(int64_t start_msc, double speed, int64_t until_msc) {
    g_clock = VirtualClock{true, false, start_msc, until_msc, speed, {}};
}

void clock_run() {
    g_clock.running = true;
    g_clock.run_from = std::chrono::steady_clock::now();
}

int64_t clock_virtual_span_msc(int64_t real_ms) {
    return g_clock.on ? (int64_t)((double)real_ms * g_clock.speed) : 0;
}

bool clock_stopped() {
    return g_clock.on && g_clock.until_msc != 0 && market_now_msc() >= g_clock.until_msc;
}

bool clock_parse_time(const char* text, int64_t* msc) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, used = 0;
    int fields = std::sscanf(text, "%4d-%2d-%2d%n", &year, &month, &day, &used);
    if (fields != 3 || used != 10) {
        return false;
    }
    if (text[used] == 'T') {
        int more = 0;
        if (std::sscanf(text + used, "T%2d:%2d%n", &hour, &minute, &more) != 2 || more != 6) {
            return false;
        }
        used += more;
    }
    if (text[used] != 0 || year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        return false;
    }
    int64_t days = days_from_civil(year, (unsigned)month, (unsigned)day);
    int64_t back_year = 0;
    unsigned back_month = 0;
    civil_from_days(days, &back_year, &back_month);
    if (back_month != (unsigned)month) {
        return false;  // 2023-02-30 is no date
    }
    *msc = ((days * 24 + hour) * 60 + minute) * 60000;
    return true;
}
