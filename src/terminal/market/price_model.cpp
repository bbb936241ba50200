// The price model: days, then hours, minutes and ticks within the coarser bar.
#include "terminal/market/price_model.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "terminal/market/calendar.h"
#include "wire/enums.h"

// Every minute has at least this many ticks: enough for its open, high, low
// and close to be ticks of their own.
constexpr uint64_t kMinTicks = 4;

// Keep the random draws of the hours and of the minutes apart from each
// other and from the daily walk.
constexpr uint64_t kHourTag = 0x6A09E667F3BCC909ull;
constexpr uint64_t kMinuteTag = 0xBB67AE8584CAA73Bull;
constexpr uint64_t kInsideTag = 0x3C6EF372FE94F82Bull;

// The walk inside a minute is a sum of a few sine waves with random
// amplitudes (the leading terms of a random walk tied to both ends), drawn
// from the same factors as the coarser steps: a cross stays the ratio of its
// legs from one tick to the next, not only from minute to minute.
constexpr int kInsideWaves = 4;

struct Random {
    uint64_t state;
    uint64_t next() { return mix64(state += 0x9E3779B97F4A7C15ull); }
    uint32_t below(uint32_t limit) { return (uint32_t)((next() >> 32) * limit >> 32); }
    double unit() { return (double)(next() >> 11) * (1.0 / 9007199254740992.0); }
};

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

void path_init(PricePath* path, const PriceModel* model) {
    path->model = model;
    path->day = INT64_MIN;
    path->first_hour = 0;
    path->hours = 0;
    path->hour_at = INT64_MIN;
}

static int64_t to_points(const PriceModel& model, double level) {
    int64_t points = std::llround(model.base * std::exp(level) * model.scale);
    return points < 1 ? 1 : points;
}

// The step of one hour or minute shared with every symbol that has the same
// loadings, plus the symbol's own, in relative daily moves.
static double step(const PriceModel& model, uint64_t tag, int64_t index) {
    double sum = 0;
    for (int f = 0; f < kFactorCount; f++) {
        if (model.load[f] != 0) {
            sum += model.load[f] * normal_draw(model.factor_key[f] ^ tag, index);
        }
    }
    if (model.own != 0) {
        sum += model.own * normal_draw(model.key ^ tag, index);
    }
    return sum;
}

// Standard normal variates in whole units of kDrawUnit, four from one hash:
// each the sum of four uniforms of four bits. Integers, so that a walk's
// running sum is exact and cheap: every bar of an hour or more is made from
// these walks, a day's worth of minutes at a time.
constexpr double kDrawUnit = 1.0 / 9.219544457292887;  // sd of four nibbles summed

static void draw_steps(uint64_t key, int64_t first, int count, int32_t* out) {
    int32_t lanes[4] = {};
    for (int i = 0; i < count; i++) {
        int64_t index = first + i;
        if (i == 0 || (index & 3) == 0) {
            uint64_t bits = mix64(key ^ (uint64_t)(index >> 2) * 0xD1B54A32D192ED03ull);
            // Each 16-bit lane ends as the sum of its four nibbles.
            bits = (bits & 0x0F0F0F0F0F0F0F0Full) + ((bits >> 4) & 0x0F0F0F0F0F0F0F0Full);
            bits = (bits & 0x00FF00FF00FF00FFull) + ((bits >> 8) & 0x00FF00FF00FF00FFull);
            for (int lane = 0; lane < 4; lane++) {
                lanes[lane] = (int32_t)((bits >> (16 * lane)) & 0xFFFF) - 30;
            }
        }
        out[i] = lanes[index & 3];
    }
}

// A random walk of `count` steps, each `scale` of a day's move, tied down at
// both ends: the log prices at the ends of each step, from `from` to `to`.
static void bridge(const PriceModel& model, uint64_t tag, int64_t first, int count, double scale,
                   double from, double to, double* out) {
    for (int i = 0; i <= count; i++) {
        out[i] = 0;
    }
    int32_t draws[64];
    for (int f = 0; f <= kFactorCount; f++) {
        double weight = (f < kFactorCount ? model.load[f] : model.own) * scale * kDrawUnit;
        if (weight == 0) {
            continue;
        }
        draw_steps((f < kFactorCount ? model.factor_key[f] : model.key) ^ tag, first, count, draws);
        int64_t sum = 0;
        for (int i = 1; i <= count; i++) {
            sum += draws[i - 1];
            out[i] += weight * (double)sum;
        }
    }
    double total = out[count], per_step = 1.0 / count;
    for (int i = 0; i <= count; i++) {
        double share = i * per_step;
        out[i] = from + (to - from) * share + (out[i] - total * share);
    }
}

// Splits `total` into `count` parts of at least `least[i]` each (or
// `least_all`), at random but summing exactly. The weights are drawn twice
// from the same state rather than kept, so that any count will do.
static void split(uint64_t total, size_t count, const uint64_t* least, uint64_t least_all,
                  Random* random, uint64_t* out) {
    Random again = *random;
    double weight_sum = 0;
    uint64_t rest = total;
    for (size_t i = 0; i < count; i++) {
        out[i] = least != nullptr ? least[i] : least_all;
        rest -= out[i];
        weight_sum += 0.2 + 1.6 * random->unit();
    }
    double so_far = 0;
    uint64_t given = 0;
    for (size_t i = 0; i < count; i++) {
        so_far += 0.2 + 1.6 * again.unit();
        uint64_t until = i == count - 1 ? rest : (uint64_t)((double)rest * (so_far / weight_sum));
        until = until > rest ? rest : until;
        out[i] += until - given;
        given = until;
    }
}

static void open_hours(uint8_t schedule, int64_t day, int64_t* first_hour, int* hours) {
    *first_hour = day * 24 + (schedule == kScheduleDaytime ? 1 : 0);
    *hours =
        schedule_open(schedule, day * 1440 + 60) ? (schedule == kScheduleDaytime ? 21 : 24) : 0;
}

// The walk of an hour at the start of each of its minutes and at its end, as
// logs of points, tied to the hour's open and close; a day with `hours` open
// hours spreads a day's move over them.
static void minute_levels(const PriceModel& model, int64_t hour, int hours, int64_t open,
                          int64_t close, double* levels) {
    bridge(model, kMinuteTag, hour * 60, 60, 1.0 / std::sqrt(60.0 * hours), std::log((double)open),
           std::log((double)close), levels);
}

static int64_t level_points(double level) {
    int64_t points = std::llround(std::exp(level));
    return points < 1 ? 1 : points;
}

// An hour's high and low are the highest and lowest of its minutes' opens
// and closes. They come from the same shared steps as the minutes, so a cross
// makes its extremes where its legs make them, instead of at levels of its own.
static void hour_range(const PriceModel& model, int64_t hour, int hours, ModelBar* bar) {
    double levels[61];
    minute_levels(model, hour, hours, bar->open, bar->close, levels);
    double top = levels[1], bottom = levels[1];
    for (int i = 2; i < 60; i++) {
        top = levels[i] > top ? levels[i] : top;
        bottom = levels[i] < bottom ? levels[i] : bottom;
    }
    bar->high = std::max(std::max(bar->open, bar->close), level_points(top));
    bar->low = std::min(std::min(bar->open, bar->close), level_points(bottom));
}

static void make_hours(PricePath* path, int64_t day) {
    const PriceModel& model = *path->model;
    path->day = day;
    path->hour_at = INT64_MIN;
    open_hours(model.schedule, day, &path->first_hour, &path->hours);
    int n = path->hours;
    if (n == 0) {
        return;
    }
    double levels[25];
    bridge(model, kHourTag, path->first_hour, n, 1.0 / std::sqrt((double)n),
           model_day_level(model, day - 1), model_day_level(model, day), levels);
    for (int i = 0; i < n; i++) {
        Random random{mix64(model.key ^ kHourTag ^ (uint64_t)(path->first_hour + i))};
        ModelBar& bar = path->hour[i];
        bar.open = to_points(model, levels[i]);
        bar.close = to_points(model, levels[i + 1]);
        hour_range(model, path->first_hour + i, n, &bar);
        double busy = 0.5 + random.unit();
        bar.ticks = 60 * kMinTicks + (uint64_t)std::llround(36.0 * model.tick_rate * busy);
        bar.volume =
            model.trades ? bar.ticks + (uint64_t)((double)bar.ticks * 8 * random.unit()) : 0;
    }
}

// Sine waves of the tied-down walk, sampled at the steps of a minute.
static const double* inside_waves() {
    static double waves[kInsideWaves][kMinuteSteps + 1];
    static bool made = false;
    if (!made) {
        for (int k = 0; k < kInsideWaves; k++) {
            double frequency = (k + 1) * 3.141592653589793;
            for (int g = 0; g <= kMinuteSteps; g++) {
                waves[k][g] =
                    1.4142135623730951 * std::sin(frequency * g / kMinuteSteps) / frequency;
            }
        }
        made = true;
    }
    return &waves[0][0];
}

// The walk inside one minute from `open` to `close`, in points, held within
// the hour's range; `sigma` is a minute's share of a day's move.
static void walk_inside(const PriceModel& model, int64_t minute, double sigma, int64_t open,
                        int64_t close, const ModelBar& hour, int64_t* out) {
    const double* waves = inside_waves();
    double amplitude[kInsideWaves];
    for (int k = 0; k < kInsideWaves; k++) {
        amplitude[k] = step(model, kInsideTag + (uint64_t)k, minute) * sigma;
    }
    double from = std::log((double)open), to = std::log((double)close);
    for (int g = 1; g < kMinuteSteps; g++) {
        double level = from + (to - from) * g / kMinuteSteps;
        for (int k = 0; k < kInsideWaves; k++) {
            level += amplitude[k] * waves[k * (kMinuteSteps + 1) + g];
        }
        int64_t p = std::llround(std::exp(level));
        out[g] = p < hour.low ? hour.low : (p > hour.high ? hour.high : p);
    }
    out[0] = open;
    out[kMinuteSteps] = close;
}

static void make_minutes(PricePath* path, int64_t hour) {
    const PriceModel& model = *path->model;
    const ModelBar& whole = path->hour[hour - path->first_hour];
    path->hour_at = hour;
    double levels[61];
    minute_levels(model, hour, path->hours, whole.open, whole.close, levels);
    int64_t points[61];
    for (int i = 0; i <= 60; i++) {
        points[i] = level_points(levels[i]);
    }
    points[0] = whole.open;
    points[60] = whole.close;
    double sigma = 1.0 / std::sqrt(60.0 * path->hours);
    for (int i = 0; i < 60; i++) {
        walk_inside(model, hour * 60 + i, sigma, points[i], points[i + 1], whole, path->inside[i]);
        ModelBar& bar = path->minute[i];
        bar.open = points[i];
        bar.close = points[i + 1];
        bar.high = bar.low = bar.open;
        for (int64_t p : path->inside[i]) {
            bar.high = p > bar.high ? p : bar.high;
            bar.low = p < bar.low ? p : bar.low;
        }
    }
    Random random{mix64(model.key ^ kMinuteTag ^ (uint64_t)hour)};
    uint64_t ticks[60], volumes[60];
    split(whole.ticks, 60, nullptr, kMinTicks, &random, ticks);
    split(whole.volume, 60, model.trades ? ticks : nullptr, 0, &random, volumes);
    for (int i = 0; i < 60; i++) {
        path->minute[i].ticks = ticks[i];
        path->minute[i].volume = volumes[i];
    }
}

static const ModelBar* path_minute(PricePath* path, int64_t minute) {
    const PriceModel& model = *path->model;
    if (!schedule_open(model.schedule, minute)) {
        return nullptr;
    }
    int64_t day = floor_div(minute, 1440);
    if (path->day != day) {
        make_hours(path, day);
    }
    int64_t hour = floor_div(minute, 60);
    if (path->hour_at != hour) {
        make_minutes(path, hour);
    }
    return &path->minute[minute - hour * 60];
}

int model_day_hours(const PriceModel& model, PricePath* path, int64_t day, RateRecord* out) {
    if (path->day != day) {
        make_hours(path, day);
    }
    for (int i = 0; i < path->hours; i++) {
        const ModelBar& bar = path->hour[i];
        RateRecord& r = out[i];
        r.time = (path->first_hour + i) * 3600;
        r.open = (double)bar.open / model.scale;
        r.high = (double)bar.high / model.scale;
        r.low = (double)bar.low / model.scale;
        r.close = (double)bar.close / model.scale;
        r.tick_volume = bar.ticks;
        r.spread = model.spread;
        r.real_volume = bar.volume;
    }
    return path->hours;
}

double path_price(PricePath* path, int64_t minute) {
    const ModelBar* bar = path_minute(path, minute);
    const PriceModel& model = *path->model;
    if (bar == nullptr) {
        return (double)to_points(model, model_day_level(model, floor_div(minute, 1440))) /
               model.scale;
    }
    return (double)bar->open / model.scale;
}

// One tick as drawn, in whole points.
struct TickDraw {
    int64_t offset;  // milliseconds into the minute
    int64_t bid, ask;
    bool deal, buy;
};

// Puts tick `i` on the peak (or trough) of the walk inside its minute, at the
// instant the walk reaches it as far as its neighbours allow, so that it
// keeps time with the walks of the symbols that share its moves.
static void pin_tick(std::vector<TickDraw>* ticks, uint32_t i, int64_t at, int64_t price) {
    TickDraw& tick = (*ticks)[i];
    int64_t earliest = (*ticks)[i - 1].offset + 1, latest = (*ticks)[i + 1].offset - 1;
    if (earliest <= latest) {
        tick.offset = std::min(std::max(at, earliest), latest);
    }
    tick.bid = price;
}

// The step of the walk inside a minute where it is highest (or lowest).
static int extreme_step(const int64_t* inside, bool highest) {
    int best = 0;
    for (int g = 1; g <= kMinuteSteps; g++) {
        bool better = highest ? inside[g] > inside[best] : inside[g] < inside[best];
        best = better ? g : best;
    }
    return best;
}

// The ticks of a minute follow the walk inside it from its open to its
// close; where none of them falls on the minute's high or low, the one
// nearest to it is moved there.
static void draw_ticks(const PriceModel& model, const ModelBar& bar, const int64_t* inside,
                       int64_t minute, std::vector<TickDraw>* out) {
    Random random{mix64(model.key ^ (uint64_t)minute * 0xA24BAED4963EE407ull)};
    uint32_t n = (uint32_t)bar.ticks;
    double slot = 60000.0 / n;
    uint64_t spread_range = (uint64_t)model.spread / 3 + 1;
    out->resize(n);
    uint32_t at_high = 1, at_low = 1;
    for (uint32_t i = 0; i < n; i++) {
        uint64_t bits = random.next();
        TickDraw& tick = (*out)[i];
        tick.offset = (int64_t)((i + (double)(bits & 0xFFFF) * (1.0 / 65536)) * slot);
        double at = (double)tick.offset * kMinuteSteps / 60000;
        int step_index = (int)at;
        double part = at - step_index;
        tick.bid = std::llround((double)inside[step_index] +
                                (double)(inside[step_index + 1] - inside[step_index]) * part);
        tick.bid = i == 0 ? bar.open : (i == n - 1 ? bar.close : tick.bid);
        if (i > 0 && i < n - 1) {
            at_high = tick.bid > (*out)[at_high].bid ? i : at_high;
            at_low = tick.bid < (*out)[at_low].bid ? i : at_low;
        }
        tick.deal = model.trades && (i == 0 || ((bits >> 45) & 0xFF) % 5 < 2);
        tick.buy = (bits >> 53) & 1;
        tick.ask = (int64_t)((((bits >> 37) & 0xFF) * spread_range) >> 8);  // the extra spread
    }
    if (at_low == at_high) {
        at_low = at_high == 1 ? 2 : 1;
    }
    constexpr int64_t kStepMs = 60000 / kMinuteSteps;
    if ((*out)[0].bid != bar.high && (*out)[n - 1].bid != bar.high) {
        pin_tick(out, at_high, extreme_step(inside, true) * kStepMs, bar.high);
    }
    if ((*out)[0].bid != bar.low && (*out)[n - 1].bid != bar.low) {
        pin_tick(out, at_low, extreme_step(inside, false) * kStepMs, bar.low);
    }
    for (uint32_t i = 0; i < n; i++) {
        TickDraw& tick = (*out)[i];
        int64_t extra = i == 0 ? 0 : tick.ask;
        tick.ask = tick.bid + model.spread + extra;
        if (i > 0 && tick.bid == (*out)[i - 1].bid && tick.ask == (*out)[i - 1].ask) {
            tick.ask += 1;  // a tick that changes nothing is no tick
        }
    }
}

void model_minute_ticks(const PriceModel& model, PricePath* path, int64_t minute,
                        std::vector<TickRecord>* out) {
    const ModelBar* bar = path_minute(path, minute);
    if (bar == nullptr) {
        return;
    }
    std::vector<TickDraw> draws;
    draw_ticks(model, *bar, path->inside[bar - path->minute], minute, &draws);
    size_t deal_count = 0;
    for (const TickDraw& d : draws) {
        deal_count += d.deal ? 1 : 0;
    }
    // Every deal trades at least one lot; the rest of the minute's volume
    // is shared out among them.
    std::vector<uint64_t> volumes(deal_count);
    Random random{mix64(model.key ^ kMinuteTag ^ (uint64_t)minute)};
    split(bar->volume, deal_count, nullptr, 1, &random, volumes.data());
    int64_t previous_bid = 0, previous_ask = 0;
    double last = 0;
    size_t deal_index = 0;
    for (size_t i = 0; i < draws.size(); i++) {
        const TickDraw& d = draws[i];
        uint32_t flags = 0;
        if (i == 0 || d.bid != previous_bid) {
            flags |= kTickFlagBid;
        }
        if (i == 0 || d.ask != previous_ask) {
            flags |= kTickFlagAsk;
        }
        TickRecord tick;
        tick.time_msc = minute * 60000 + d.offset;
        tick.time = floor_div(tick.time_msc, 1000);
        tick.bid = (double)d.bid / model.scale;
        tick.ask = (double)d.ask / model.scale;
        tick.volume = d.deal ? volumes[deal_index++] : 0;
        tick.volume_real = (double)tick.volume;
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
    const ModelBar* made = path_minute(path, minute);
    if (made == nullptr) {
        return false;
    }
    bar->time = minute * 60;
    bar->open = (double)made->open / model.scale;
    bar->high = (double)made->high / model.scale;
    bar->low = (double)made->low / model.scale;
    bar->close = (double)made->close / model.scale;
    bar->tick_volume = made->ticks;
    bar->spread = model.spread;
    bar->real_volume = made->volume;
    return true;
}
