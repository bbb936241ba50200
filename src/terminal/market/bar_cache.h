// The model's one-minute and hour bars of whole days, made once per symbol
// and day and kept, so that a repeated request for past history costs a copy
// instead of a walk through the price model.
#pragma once

#include <cstdint>
#include <vector>

#include "terminal/market/catalogue.h"
#include "wire/bars.h"

// The model's bars of one day (days since 1970), in time order; minutes
// when the market is closed have none. Valid until the next call. Only a
// day wholly in the past may be asked for: the model's bars never change,
// but whatever replaces them (imported history, forced prices) is the
// caller's business.
const std::vector<RateRecord>& model_day_bars(Symbol& symbol, int64_t day);

// The model's hour bars of one past day, kept in the same store; the same
// terms hold.
const std::vector<RateRecord>& model_day_hour_bars(Symbol& symbol, int64_t day);
