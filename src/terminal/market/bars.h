// Bars of every timeframe, aggregated from one-minute bars so that they agree
// exactly, and the three bar queries.
#pragma once

#include <cstdint>
#include <vector>

#include "terminal/market/catalogue.h"
#include "wire/bars.h"

// Minutes in a timeframe of fixed length (up to a week); 0 for a month or
// an unknown value.
int64_t timeframe_minutes(int32_t timeframe);
bool timeframe_valid(int32_t timeframe);
// The opening minute of the bar that contains `minute`.
int64_t bar_start(int32_t timeframe, int64_t minute);

// Each returns a terminal status (0, or negative); on success it has put the
// count and the bars in time order into `reply`, whose status is left to
// the caller. The bars go straight into the reply: a million of them are
// 60 MB, not worth a copy.
class ReplyWriter;
int32_t rates_from(Symbol& symbol, int32_t timeframe, int64_t date_from, int32_t count,
                   int64_t now_msc, ReplyWriter& reply);
int32_t rates_from_pos(Symbol& symbol, int32_t timeframe, int32_t start_pos, int32_t count,
                       int64_t now_msc, ReplyWriter& reply);
int32_t rates_range(Symbol& symbol, int32_t timeframe, int64_t date_from, int64_t date_to,
                    int64_t now_msc, ReplyWriter& reply);

// Most bars one reply carries (300 MB), so that no request can take the
// terminal's memory; a request for more fails rather than being cut short.
// Told to clients as the terminal's maxbars.
constexpr uint32_t kMaxBars = 5000000;
