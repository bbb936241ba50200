#include "terminal/price_model.h"

#include <cmath>
#include <cstdint>

#include "terminal/calendar.h"
#include "terminal/enums.h"

uint64_t mix64(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// Uniform in [-1, 1).
static double signed_unit(uint64_t bits) {
    return (double)(bits >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

static double grid_value(uint64_t key, int octave, int64_t cell) {
    return signed_unit(
        mix64(key ^ ((uint64_t)octave << 58) ^ (uint64_t)cell * 0xD6E8FEB86659FD93ull));
}

void path_init(PricePath* path, const PriceModel* model) {
    path->model = model;
    path->last_minute = INT64_MIN;
    path->last_price = 0;
    for (int k = 0; k < kPriceOctaves; k++) {
        path->cell[k] = INT64_MIN;
        path->left[k] = 0;
        path->right[k] = 0;
    }
}

// Square roots of the octave periods, then their inverses.
static const double* octave_weights() {
    static double weights[2 * kPriceOctaves];
    if (weights[0] == 0) {
        for (int k = 0; k < kPriceOctaves; k++) {
            double period = (double)((int64_t)1 << k);
            weights[k] = std::sqrt(period);
            weights[kPriceOctaves + k] = 1.0 / period;
        }
    }
    return weights;
}

// Minutes of trading since the Sunday before 1970 (negative before it). The
// walk advances only while the market is open, so that prices stand still
// over a weekend or a night and the next session opens where the last one
// closed, with no gap of two days' drift.
static int64_t trading_minute(uint8_t schedule, int64_t minute) {
    if (schedule == kScheduleAlways) {
        return minute;
    }
    bool daytime = schedule == kScheduleDaytime;
    int64_t opens = daytime ? 60 : 0;
    int64_t length = daytime ? 1260 : 1440;  // minutes open on a weekday
    int64_t day = floor_div(minute, 1440);
    int64_t week = floor_div(day + 4, 7);  // 1970-01-01 was a Thursday
    int64_t weekday = day + 4 - week * 7;  // 0 is Sunday
    int64_t at = week * 5 * length;
    if (weekday == 0) {
        return at;
    }
    if (weekday == 6) {
        return at + 5 * length;
    }
    int64_t into_day = minute - day * 1440 - opens;
    into_day = into_day < 0 ? 0 : (into_day > length ? length : into_day);
    return at + (weekday - 1) * length + into_day;
}

double path_price(PricePath* path, int64_t wall_minute) {
    if (wall_minute == path->last_minute) {
        return path->last_price;
    }
    const PriceModel& model = *path->model;
    int64_t minute = trading_minute(model.schedule, wall_minute);
    const double* weights = octave_weights();
    // Linear value noise whose amplitude grows with the square root of its
    // period sums to increments with a variance proportional to their span,
    // the mark of a random walk; sqrt(3/8) scales it to one sigma per minute.
    const double unit = model.sigma * 0.6123724356957945;
    double sum = 0;
    for (int k = 0; k < kPriceOctaves; k++) {
        int64_t cell = minute >> k;  // an arithmetic shift floors negative minutes too
        if (cell != path->cell[k]) {
            if (cell == path->cell[k] + 1) {
                path->left[k] = path->right[k];
            } else {
                path->left[k] = grid_value(model.key, k, cell);
            }
            path->right[k] = grid_value(model.key, k, cell + 1);
            path->cell[k] = cell;
        }
        double fraction = (double)(minute - (cell << k)) * weights[kPriceOctaves + k];
        double value = path->left[k] + (path->right[k] - path->left[k]) * fraction;
        sum += value * weights[k];
    }
    path->last_minute = wall_minute;
    path->last_price = model.base * std::exp(unit * sum);
    return path->last_price;
}

bool schedule_open(uint8_t schedule, int64_t minute) {
    if (schedule == kScheduleAlways) {
        return true;
    }
    int64_t day = floor_div(minute, 1440);
    int64_t weekday = (day + 4) % 7;  // 1970-01-01 was a Thursday; 0 is Sunday
    if (weekday < 0) {
        weekday += 7;
    }
    if (weekday == 0 || weekday == 6) {
        return false;
    }
    if (schedule == kScheduleDaytime) {
        int64_t of_day = minute - day * 1440;
        return of_day >= 60 && of_day < 1320;
    }
    return true;
}

struct Random {
    uint64_t state;
    uint64_t next() { return mix64(state += 0x9E3779B97F4A7C15ull); }
    uint32_t below(uint32_t limit) { return (uint32_t)((next() >> 32) * limit >> 32); }
};

// What every tick of a minute shares.
struct MinuteDraw {
    Random random;
    uint32_t count;
    double start, end;  // model prices in points at both ends of the minute
    double jitter;
    double slot;
    uint64_t spread_range;
};

// One tick as drawn, in whole points.
struct TickDraw {
    int64_t offset;  // milliseconds into the minute
    int64_t bid, ask;
    bool deal, buy;
    uint64_t volume;
};

static bool minute_begin(const PriceModel& model, PricePath* path, int64_t minute,
                         MinuteDraw* draw) {
    if (!schedule_open(model.schedule, minute)) {
        return false;
    }
    draw->random.state = mix64(model.key ^ (uint64_t)minute * 0xA24BAED4963EE407ull);
    // Activity varies from minute to minute: quiet minutes have a tick or
    // two, busy ones twice the average.
    draw->count = 1 + draw->random.below(model.tick_rate * 2);
    draw->start = path_price(path, minute) * model.scale;
    draw->end = path_price(path, minute + 1) * model.scale;
    draw->jitter = model.sigma * 0.3 * draw->start;
    draw->slot = 60000.0 / draw->count;
    draw->spread_range = (uint64_t)model.spread / 3 + 1;
    return true;
}

static void draw_tick(const PriceModel& model, MinuteDraw* draw, uint32_t i, TickDraw* tick) {
    // One draw feeds every choice of a tick: 16 bits place it in its slot,
    // 21 jitter its price, the rest pick spread and deal.
    uint64_t bits = draw->random.next();
    tick->offset = (int64_t)((i + (double)(bits & 0xFFFF) * (1.0 / 65536)) * draw->slot);
    double fraction = (double)tick->offset * (1.0 / 60000);
    double noise = (double)((bits >> 16) & 0x1FFFFF) * (2.0 / 2097152) - 1.0;
    double mid = draw->start + (draw->end - draw->start) * fraction + draw->jitter * noise;
    tick->bid = (int64_t)(mid + 0.5);
    tick->ask =
        tick->bid + model.spread + (int64_t)((((bits >> 37) & 0xFF) * draw->spread_range) >> 8);
    tick->deal = model.trades && (i == 0 || ((bits >> 45) & 0xFF) % 5 < 2);
    tick->buy = (bits >> 53) & 1;
    tick->volume = tick->deal ? 1 + ((bits >> 54) % 20) : 0;
}

void model_minute_ticks(const PriceModel& model, PricePath* path, int64_t minute,
                        std::vector<TickRecord>* out) {
    MinuteDraw draw;
    if (!minute_begin(model, path, minute, &draw)) {
        return;
    }
    int64_t previous_bid = 0, previous_ask = 0;
    double last = 0;
    for (uint32_t i = 0; i < draw.count; i++) {
        TickDraw d;
        draw_tick(model, &draw, i, &d);
        uint32_t flags = 0;
        if (i == 0 || d.bid != previous_bid) {
            flags |= kTickFlagBid;
        }
        if (i == 0 || d.ask != previous_ask) {
            flags |= kTickFlagAsk;
        }
        if (flags == 0 && !d.deal) {
            continue;  // nothing changed: not a tick
        }
        TickRecord tick;
        tick.time_msc = minute * 60000 + d.offset;
        tick.time = tick.time_msc / 1000;
        tick.bid = (double)d.bid / model.scale;
        tick.ask = (double)d.ask / model.scale;
        tick.volume = d.volume;
        tick.volume_real = (double)d.volume;
        if (d.deal) {
            last = d.buy ? tick.ask : tick.bid;
            flags |= kTickFlagLast | kTickFlagVolume | (d.buy ? kTickFlagBuy : kTickFlagSell);
        }
        tick.last = last;
        tick.flags = flags;
        previous_bid = d.bid;
        previous_ask = d.ask;
        out->push_back(tick);
    }
}

bool model_minute_bar(const PriceModel& model, PricePath* path, int64_t minute, RateRecord* bar) {
    MinuteDraw draw;
    if (!minute_begin(model, path, minute, &draw)) {
        return false;
    }
    // The same draws as model_minute_ticks, summed up in whole points.
    int64_t open = 0, high = 0, low = 0, close = 0, spread = 0;
    int64_t previous_bid = 0, previous_ask = 0;
    uint64_t ticks = 0, volume = 0;
    for (uint32_t i = 0; i < draw.count; i++) {
        TickDraw d;
        draw_tick(model, &draw, i, &d);
        if (i > 0 && d.bid == previous_bid && d.ask == previous_ask && !d.deal) {
            continue;
        }
        if (i == 0) {
            open = high = low = d.bid;
            spread = d.ask - d.bid;
        }
        high = d.bid > high ? d.bid : high;
        low = d.bid < low ? d.bid : low;
        spread = d.ask - d.bid < spread ? d.ask - d.bid : spread;
        close = d.bid;
        ticks += 1;
        volume += d.volume;
        previous_bid = d.bid;
        previous_ask = d.ask;
    }
    bar->time = minute * 60;
    bar->open = (double)open / model.scale;
    bar->high = (double)high / model.scale;
    bar->low = (double)low / model.scale;
    bar->close = (double)close / model.scale;
    bar->tick_volume = ticks;
    bar->spread = (int32_t)spread;
    bar->real_volume = volume;
    return true;
}
