// The terminal's two clocks: wall time for the market and the log, and a
// steady clock for budgets of work.
#pragma once

#include <cstdint>

// The market clock: milliseconds since 1970, UTC.
int64_t market_now_msc();

// Milliseconds from an arbitrary start that never goes back.
int64_t steady_now_ms();
