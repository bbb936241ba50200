// The synthetic price process of one symbol. Every price is a pure function
// of the seed, the symbol and the time, so any stretch of history can be made
// on demand, in any order, and always comes out the same.
//
// It is made from the top down: the close of each trading day first, then
// the hours of a day between its open and close, then the minutes of an hour
// between the hour's, then the ticks of a minute within the minute's. An
// hour's high and low are those of its minutes' opens and closes, so a bar
// of an hour or more needs the minute walk but not the ticks, and every
// finer level adds up exactly to the coarser one.
#pragma once

#include <cstdint>
#include <vector>

#include "wire/bars.h"
#include "wire/symbols.h"

// When a market trades, by UTC minute.
enum Schedule : uint8_t {
    kScheduleAlways = 0,    // every day, around the clock
    kScheduleWeekdays = 1,  // Monday 00:00 to Friday 24:00
    kScheduleDaytime = 2,   // weekdays 01:00 to 22:00
};

// What moves many instruments at once. An instrument's log price is its
// reference level plus its loadings times these, plus a part of its own.
enum Factor {
    kFactorDollar,
    kFactorEuro,
    kFactorPound,
    kFactorYen,
    kFactorFranc,
    kFactorLoonie,
    kFactorAussie,
    kFactorKiwi,
    kFactorRisk,  // risk appetite: stocks, commodity currencies, coins
    kFactorGold,
    kFactorOil,
    kFactorCoins,
    kFactorCount
};

struct PriceModel {
    uint64_t key;                       // from the seed and the symbol name: its own moves
    uint64_t factor_seed;               // from the seed alone: the moves it shares
    uint64_t factor_key[kFactorCount];  // mix64(factor_seed + f), made once
    double base;                        // reference level the price keeps coming back to
    double load[kFactorCount];          // relative daily move per unit of each factor
    double own;                         // relative daily move of its own
    double daily_sigma;                 // of all of them together
    double scale;                       // 10^digits: prices are whole multiples of 1/scale
    int32_t spread;                     // typical spread in points
    uint32_t tick_rate;                 // average ticks per minute
    uint8_t schedule;                   // Schedule
    bool trades;                        // ticks carry deals (last price and volume)
};

// One bar of the model in whole points.
struct ModelBar {
    int64_t open, high, low, close;
    uint64_t ticks, volume;
};

// Points of the walk inside a minute, every five seconds, both ends included.
constexpr int kMinuteSteps = 12;

// Remembers the day and the hour last made, so that a walk through the
// minutes of an hour makes the hour once.
struct PricePath {
    const PriceModel* model;
    int64_t day;         // whose hours are held
    int64_t first_hour;  // hour since 1970 of hour[0]
    int hours;           // open hours of that day
    ModelBar hour[24];
    int64_t hour_at;  // hour since 1970 whose minutes are held
    ModelBar minute[60];
    int64_t inside[60][kMinuteSteps + 1];  // the walk inside each minute, in points
};

void path_init(PricePath* path, const PriceModel* model);

// The open hours of a day (days since 1970), as hour bars in time order;
// returns how many (none on a closed day).
int model_day_hours(const PriceModel& model, PricePath* path, int64_t day, RateRecord* out);

// The model price at the start of a minute (minutes since 1970), the open of
// its bar; between sessions, the price the market closed at.
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

// The log of the model's close of a day over its reference level, which it
// reverts to; the level of a closed day is that of the last open one.
double model_day_level(const PriceModel& model, int64_t day);

// A standard normal variate, the same for the same key and index.
double normal_draw(uint64_t key, int64_t index);
// A 64-bit hash (splitmix64's finaliser); inline, as the walks call it for
// every step they draw.
inline uint64_t mix64(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}
