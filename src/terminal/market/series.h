// The ticks and one-minute bars of a symbol as the terminal shows them: the
// model's or the imported ones, with forced prices merged in, and nothing
// later than the market clock.
#pragma once

#include <cstdint>
#include <vector>

#include "terminal/market/catalogue.h"
#include "wire/bars.h"
#include "wire/symbols.h"

// Which ticks a query keeps, by the flag that selects them.
bool tick_wanted(const TickRecord& tick, int32_t which);

// Ticks with from_msc <= time_msc <= to_msc (and not after now_msc), in time
// order, at most `limit` of them.
void series_ticks(Symbol& symbol, int64_t from_msc, int64_t to_msc, int64_t now_msc, int32_t which,
                  size_t limit, std::vector<TickRecord>* out);

// One-minute bars opening in [from_minute, to_minute), in time order.
void series_m1_bars(Symbol& symbol, int64_t from_minute, int64_t to_minute, int64_t now_msc,
                    std::vector<RateRecord>* out);

// Hour bars opening in [from_minute, to_minute), in time order, agreeing
// with the one-minute bars of the same hours.
void series_h1_bars(Symbol& symbol, int64_t from_minute, int64_t to_minute, int64_t now_msc,
                    std::vector<RateRecord>* out);

// Adds a bar to the longer one opening at `open` (seconds), which is the
// last of `out`, or starts it; bars before `first` are left alone.
void bar_add(std::vector<RateRecord>* out, size_t first, int64_t open, const RateRecord& bar);

// The latest tick at or before `msc`, looking back at most `days` days.
bool series_last_tick(Symbol& symbol, int64_t msc, int days, TickRecord* out);

// The first minute that has history.
int64_t series_first_minute(const Symbol& symbol);

void bar_add_tick(RateRecord* bar, const TickRecord& tick, double scale, bool first);
