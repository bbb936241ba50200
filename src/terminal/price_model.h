// The synthetic price process of one symbol. Every price is a pure function
// of the seed, the symbol and the time, so any stretch of history can be made
// on demand, in any order, and always comes out the same.
#pragma once

#include <cstdint>
#include <vector>

#include "api/wire_bars.h"
#include "api/wire_symbols.h"

// When a market trades, by UTC minute.
enum Schedule : uint8_t {
    kScheduleAlways = 0,    // every day, around the clock
    kScheduleWeekdays = 1,  // Monday 00:00 to Friday 24:00
    kScheduleDaytime = 2,   // weekdays 01:00 to 22:00
};

struct PriceModel {
    uint64_t key;        // from the seed and the symbol name
    double base;         // centre price the series wanders around
    double sigma;        // relative move over one minute (one standard deviation)
    double scale;        // 10^digits: prices are whole multiples of 1/scale
    int32_t spread;      // typical spread in points
    uint32_t tick_rate;  // average ticks per minute
    uint8_t schedule;    // Schedule
    bool trades;         // ticks carry deals (last price and volume)
};

// Levels of detail in the random walk: 2^20 minutes is about two years, beyond
// which the series no longer drifts, so prices stay plausible forever.
constexpr int kPriceOctaves = 21;

// Remembers the random values around the last minute asked for, so that a
// forward walk costs a few multiplications per minute.
struct PricePath {
    const PriceModel* model;
    int64_t cell[kPriceOctaves];
    double left[kPriceOctaves];
    double right[kPriceOctaves];
    int64_t last_minute;  // the last price asked for, asked again by the next minute
    double last_price;
};

void path_init(PricePath* path, const PriceModel* model);
// The model price at the start of a minute (minutes since 1970). It moves
// only while the symbol's market is open.
double path_price(PricePath* path, int64_t minute);

bool schedule_open(uint8_t schedule, int64_t minute);

// Appends the ticks of one minute in time order (nothing when the market is
// closed). Flags say what changed since the previous tick of the minute; the
// first tick of a minute carries bid and ask (and a deal when the symbol
// trades), so that every minute stands on its own.
void model_minute_ticks(const PriceModel& model, PricePath* path, int64_t minute,
                        std::vector<TickRecord>* out);

// The one-minute bar of those same ticks, made without them; false when the
// market is closed.
bool model_minute_bar(const PriceModel& model, PricePath* path, int64_t minute, RateRecord* bar);

uint64_t mix64(uint64_t value);
