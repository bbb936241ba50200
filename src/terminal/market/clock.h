// The terminal's two clocks: the market clock, which every price, order and
// history time stamp follows, and a steady clock for budgets of work. The
// market clock is wall time, or a virtual clock that replays history.
#pragma once

#include <cstdint>

// The market clock: milliseconds since 1970, UTC.
int64_t market_now_msc();

// Milliseconds from an arbitrary start that never goes back.
int64_t steady_now_ms();

// While one lives, the market clock stands at `msc`, so that a piece of work
// (a request, a check of the orders) sees one moment throughout: a replay's
// clock moves seconds while it runs.
struct ClockHold {
    explicit ClockHold(int64_t msc);
    ~ClockHold();
    int64_t previous;  // the hold it replaced; -1 for none
};

// Makes the market clock virtual: it shows start_msc until clock_run, then
// runs `speed` times real time and stands still at until_msc (0: never).
void clock_set_virtual(int64_t start_msc, double speed, int64_t until_msc);
void clock_run();
// How much market time `real_ms` of real time is on a virtual clock; 0 on
// wall time.
int64_t clock_virtual_span_msc(int64_t real_ms);
// True once a virtual clock has reached its end.
bool clock_stopped();

// "2023-03-01" or "2023-03-01T09:30" (UTC) as milliseconds since 1970.
bool clock_parse_time(const char* text, int64_t* msc);
