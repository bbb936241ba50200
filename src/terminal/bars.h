// Bars of every timeframe, aggregated from one-minute bars so that they agree
// exactly, and the three bar queries.
#pragma once

#include <cstdint>
#include <vector>

#include "api/wire_bars.h"
#include "terminal/market_state.h"

// Minutes in a timeframe of fixed length (up to a week); 0 for a month or
// an unknown value.
int64_t timeframe_minutes(int32_t timeframe);
bool timeframe_valid(int32_t timeframe);
// The opening minute of the bar that contains `minute`.
int64_t bar_start(int32_t timeframe, int64_t minute);

// Each returns a terminal status (0, or negative) and fills `out` in time order.
int32_t rates_from(Symbol& symbol, int32_t timeframe, int64_t date_from, int32_t count,
                   int64_t now_msc, std::vector<RateRecord>* out);
int32_t rates_from_pos(Symbol& symbol, int32_t timeframe, int32_t start_pos, int32_t count,
                       int64_t now_msc, std::vector<RateRecord>* out);
int32_t rates_range(Symbol& symbol, int32_t timeframe, int64_t date_from, int64_t date_to,
                    int64_t now_msc, std::vector<RateRecord>* out);

// Most bars one reply carries.
constexpr uint32_t kMaxBars = 5000000;
