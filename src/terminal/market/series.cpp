// The ticks and one-minute bars of a symbol: the model's or the imported ones.
#include "terminal/market/series.h"

#include <algorithm>
#include <cmath>

#include "terminal/market/bar_cache.h"
#include "terminal/market/calendar.h"
#include "wire/enums.h"

bool tick_wanted(const TickRecord& tick, int32_t which) {
    if (which == kCopyTicksInfo) {
        return (tick.flags & (kTickFlagBid | kTickFlagAsk)) != 0;
    }
    if (which == kCopyTicksTrade) {
        return (tick.flags & (kTickFlagLast | kTickFlagVolume)) != 0;
    }
    return true;
}

int64_t series_first_minute(const Symbol& symbol) {
    int64_t first = market_state().history_start_minute;
    if (symbol.imported) {
        const ImportedSeries& in = *symbol.imported;
        if (!in.ticks.empty()) {
            first = in.ticks.front().time_msc / 60000;
        } else if (!in.bars.empty()) {
            first = in.bars.front().time / 60;
        }
    }
    return first;
}

// Four ticks per imported bar (open, the nearer extreme, the other one,
// close) so that the ticks of a minute always lie inside its bar.
static void ticks_from_bar(const RateRecord& bar, double point, std::vector<TickRecord>* out) {
    bool up = bar.close >= bar.open;
    double prices[4] = {bar.open, up ? bar.low : bar.high, up ? bar.high : bar.low, bar.close};
    int64_t offsets[4] = {0, 15000, 30000, 45000};
    double previous = 0;
    for (int i = 0; i < 4; i++) {
        if (i > 0 && prices[i] == previous) {
            continue;
        }
        TickRecord tick = {};
        tick.time_msc = bar.time * 1000 + offsets[i];
        tick.time = bar.time + offsets[i] / 1000;
        tick.bid = prices[i];
        tick.ask = prices[i] + bar.spread * point;
        tick.flags = kTickFlagBid | kTickFlagAsk;
        out->push_back(tick);
        previous = prices[i];
    }
}

static void source_minute_ticks(Symbol& symbol, PricePath* path, int64_t minute,
                                std::vector<TickRecord>* out) {
    if (!symbol.imported) {
        model_minute_ticks(symbol.model, path, minute, out);
        return;
    }
    const ImportedSeries& in = *symbol.imported;
    int64_t begin = minute * 60000, end = begin + 60000;
    if (!in.ticks.empty()) {
        auto first = std::lower_bound(
            in.ticks.begin(), in.ticks.end(), begin,
            [](const TickRecord& tick, int64_t msc) { return tick.time_msc < msc; });
        for (auto it = first; it != in.ticks.end() && it->time_msc < end; ++it) {
            out->push_back(*it);
        }
        return;
    }
    auto bar = std::lower_bound(in.bars.begin(), in.bars.end(), minute * 60,
                                [](const RateRecord& r, int64_t t) { return r.time < t; });
    if (bar != in.bars.end() && bar->time == minute * 60) {
        ticks_from_bar(*bar, symbol.info.point, out);
    }
}

// The set in force at `msc`, or null.
static const PriceSet* set_at(const std::vector<PriceSet>& sets, int64_t msc) {
    auto after = std::upper_bound(sets.begin(), sets.end(), msc,
                                  [](int64_t t, const PriceSet& s) { return t < s.time_msc; });
    return after == sets.begin() ? nullptr : &*(after - 1);
}

// Forced prices hold the symbol still: the source's ticks while a set is in
// force are dropped and each set becomes a tick of its own.
// A released symbol resumes at once at its model's price of that moment.
static bool release_tick(const Symbol& symbol, PricePath* path, int64_t msc, TickRecord* tick) {
    const PriceModel& model = symbol.model;
    int64_t minute = msc / 60000;
    if (symbol.imported || !schedule_open(model.schedule, minute)) {
        return false;
    }
    double start = path_price(path, minute), end = path_price(path, minute + 1);
    double mid = start + (end - start) * (double)(msc - minute * 60000) / 60000.0;
    int64_t bid = (int64_t)(mid * model.scale + 0.5);
    *tick = TickRecord{};
    tick->time_msc = msc;
    tick->time = msc / 1000;
    tick->bid = (double)bid / model.scale;
    tick->ask = (double)(bid + model.spread) / model.scale;
    return true;
}

static void merge_sets(const Symbol& symbol, PricePath* path, int64_t minute, size_t begin,
                       std::vector<TickRecord>* ticks) {
    const std::vector<PriceSet>& sets = symbol.sets;
    int64_t start = minute * 60000, end = start + 60000;
    if (sets.empty() || end <= sets.front().time_msc) {
        return;
    }
    std::vector<TickRecord> merged;
    for (size_t i = begin; i < ticks->size(); i++) {
        const PriceSet* in_force = set_at(sets, (*ticks)[i].time_msc);
        if (in_force == nullptr || in_force->bid == 0) {
            merged.push_back((*ticks)[i]);
        }
    }
    for (size_t i = 0; i < sets.size(); i++) {
        const PriceSet& set = sets[i];
        if (set.time_msc < start || set.time_msc >= end) {
            continue;
        }
        TickRecord tick = {};
        if (set.bid == 0) {
            bool after_set = i > 0 && sets[i - 1].bid != 0;
            if (!after_set || !release_tick(symbol, path, set.time_msc, &tick)) {
                continue;
            }
        } else {
            tick.time_msc = set.time_msc;
            tick.time = set.time_msc / 1000;
            tick.bid = set.bid;
            tick.ask = set.ask;
        }
        auto at =
            std::upper_bound(merged.begin(), merged.end(), set.time_msc,
                             [](int64_t t, const TickRecord& other) { return t < other.time_msc; });
        merged.insert(at, tick);
    }
    // Flags again, since neighbours changed.
    const uint32_t deal_bits = kTickFlagLast | kTickFlagVolume | kTickFlagBuy | kTickFlagSell;
    ticks->resize(begin);
    double last = 0;
    for (size_t i = 0; i < merged.size(); i++) {
        TickRecord tick = merged[i];
        uint32_t flags = tick.flags & deal_bits;
        if (flags & kTickFlagLast) {
            last = tick.last;
        }
        if (symbol.model.trades) {
            tick.last = last != 0 ? last : tick.bid;
        }
        bool first = ticks->size() == begin;
        if (first || tick.bid != ticks->back().bid) {
            flags |= kTickFlagBid;
        }
        if (first || tick.ask != ticks->back().ask) {
            flags |= kTickFlagAsk;
        }
        if (flags == 0) {
            continue;
        }
        tick.flags = flags;
        ticks->push_back(tick);
    }
}

static void minute_ticks(Symbol& symbol, PricePath* path, int64_t minute, int64_t now_msc,
                         std::vector<TickRecord>* out) {
    size_t begin = out->size();
    source_minute_ticks(symbol, path, minute, out);
    merge_sets(symbol, path, minute, begin, out);
    while (out->size() > begin && out->back().time_msc > now_msc) {
        out->pop_back();
    }
}

void series_ticks(Symbol& symbol, int64_t from_msc, int64_t to_msc, int64_t now_msc, int32_t which,
                  size_t limit, std::vector<TickRecord>* out) {
    int64_t first_minute = std::max(series_first_minute(symbol), from_msc / 60000);
    int64_t last_minute = std::min(to_msc, now_msc) / 60000;
    PricePath path;
    path_init(&path, &symbol.model);
    std::vector<TickRecord> minute;
    for (int64_t m = first_minute; m <= last_minute && out->size() < limit; m++) {
        minute.clear();
        minute_ticks(symbol, &path, m, now_msc, &minute);
        for (const TickRecord& tick : minute) {
            if (tick.time_msc >= from_msc && tick.time_msc <= to_msc && tick_wanted(tick, which)) {
                out->push_back(tick);
                if (out->size() >= limit) {
                    break;
                }
            }
        }
    }
}

void bar_add_tick(RateRecord* bar, const TickRecord& tick, double scale, bool first) {
    // Values, not references: std::max and std::min must not bind to the
    // unaligned fields of packed records.
    double bid = tick.bid;
    int32_t spread = (int32_t)((tick.ask - bid) * scale + 0.5);
    if (first) {
        bar->open = bar->high = bar->low = bid;
        bar->spread = spread;
    }
    double high = bar->high;
    double low = bar->low;
    int32_t least_spread = bar->spread;
    bar->high = std::max(high, bid);
    bar->low = std::min(low, bid);
    bar->close = bid;
    bar->spread = std::min(least_spread, spread);
    bar->tick_volume += 1;
    if (tick.flags & kTickFlagVolume) {
        bar->real_volume += tick.volume;
    }
}

// Appends the bars of `day` opening in [from_minute, to_minute).
static void copy_day_bars(const std::vector<RateRecord>& day, int64_t from_minute,
                          int64_t to_minute, std::vector<RateRecord>* out) {
    auto first = std::lower_bound(day.begin(), day.end(), from_minute * 60,
                                  [](const RateRecord& r, int64_t t) { return r.time < t; });
    auto last = std::lower_bound(first, day.end(), to_minute * 60,
                                 [](const RateRecord& r, int64_t t) { return r.time < t; });
    out->insert(out->end(), first, last);
}

// Minutes before this are wholly in the past and untouched by forced
// prices: they come straight from the model.
static int64_t model_plain_until(const Symbol& symbol, int64_t now_msc) {
    int64_t plain_until = now_msc / 60000;
    if (!symbol.sets.empty()) {
        plain_until = std::min(plain_until, symbol.sets.front().time_msc / 60000);
    }
    return plain_until;
}

void series_m1_bars(Symbol& symbol, int64_t from_minute, int64_t to_minute, int64_t now_msc,
                    std::vector<RateRecord>* out) {
    from_minute = std::max(from_minute, series_first_minute(symbol));
    to_minute = std::min(to_minute, now_msc / 60000 + 1);
    if (symbol.imported && !symbol.imported->bars.empty()) {
        // Imported bars stand as they are until the first forced price.
        const std::vector<RateRecord>& bars = symbol.imported->bars;
        int64_t own_until =
            symbol.sets.empty() ? to_minute : std::min(to_minute, symbol.sets[0].time_msc / 60000);
        auto it = std::lower_bound(bars.begin(), bars.end(), from_minute * 60,
                                   [](const RateRecord& r, int64_t t) { return r.time < t; });
        for (; it != bars.end() && it->time < own_until * 60; ++it) {
            out->push_back(*it);
        }
        from_minute = std::max(from_minute, own_until);
    }
    PricePath path;
    path_init(&path, &symbol.model);
    std::vector<TickRecord> ticks;
    double scale = symbol.model.scale;
    int64_t plain_until = model_plain_until(symbol, now_msc);
    for (int64_t m = from_minute; m < to_minute; m++) {
        int64_t day = floor_div(m, 1440);
        int64_t day_end = (day + 1) * 1440;
        if (!symbol.imported && day_end <= plain_until) {
            // A whole past day: its bars were made once and are kept.
            int64_t until = std::min(to_minute, day_end);
            copy_day_bars(model_day_bars(symbol, day), m, until, out);
            m = until - 1;
            continue;
        }
        if (!symbol.imported && m < plain_until) {
            RateRecord bar;
            if (model_minute_bar(symbol.model, &path, m, &bar)) {
                out->push_back(bar);
            }
            continue;
        }
        ticks.clear();
        minute_ticks(symbol, &path, m, now_msc, &ticks);
        if (ticks.empty()) {
            continue;
        }
        RateRecord bar = {};
        bar.time = m * 60;
        for (size_t i = 0; i < ticks.size(); i++) {
            bar_add_tick(&bar, ticks[i], scale, i == 0);
        }
        out->push_back(bar);
    }
}

bool series_last_tick(Symbol& symbol, int64_t msc, int days, TickRecord* out) {
    int64_t first = series_first_minute(symbol);
    if (symbol.imported) {
        // Imported history may end long ago: start from its last minute.
        const ImportedSeries& in = *symbol.imported;
        int64_t end = in.ticks.empty() ? (in.bars.empty() ? 0 : in.bars.back().time * 1000)
                                       : in.ticks.back().time_msc;
        if (symbol.sets.empty() || symbol.sets.back().time_msc > msc) {
            msc = std::min(msc, end + 59999);
        }
    }
    PricePath path;
    path_init(&path, &symbol.model);
    std::vector<TickRecord> ticks;
    int64_t minute = msc / 60000;
    for (int64_t m = minute; m >= first && m > minute - days * 1440; m--) {
        if (!symbol.imported && symbol.sets.empty() && !schedule_open(symbol.model.schedule, m)) {
            continue;
        }
        ticks.clear();
        minute_ticks(symbol, &path, m, msc, &ticks);
        if (!ticks.empty()) {
            *out = ticks.back();
            return true;
        }
    }
    return false;
}

// Hour bars of the minutes in [from_minute, to_minute) of one day, made from
// its one-minute bars.
static void hours_from_minutes(Symbol& symbol, int64_t from_minute, int64_t to_minute,
                               int64_t now_msc, std::vector<RateRecord>* m1,
                               std::vector<RateRecord>* out) {
    m1->clear();
    series_m1_bars(symbol, from_minute, to_minute, now_msc, m1);
    size_t first = out->size();
    for (const RateRecord& bar : *m1) {
        bar_add(out, first, floor_div(bar.time, 3600) * 3600, bar);
    }
}

void series_h1_bars(Symbol& symbol, int64_t from_minute, int64_t to_minute, int64_t now_msc,
                    std::vector<RateRecord>* out) {
    from_minute = std::max(from_minute, series_first_minute(symbol));
    to_minute = std::min(to_minute, now_msc / 60000 + 1);
    int64_t plain_until = model_plain_until(symbol, now_msc);
    std::vector<RateRecord> m1;
    for (int64_t day = floor_div(from_minute, 1440); day * 1440 < to_minute; day++) {
        int64_t begin = std::max(from_minute, day * 1440);
        int64_t end = std::min(to_minute, (day + 1) * 1440);
        if (symbol.imported || (day + 1) * 1440 > plain_until) {
            hours_from_minutes(symbol, begin, end, now_msc, &m1, out);
            continue;
        }
        // A whole past day of the model: its hours are made without its
        // minutes' ticks, and kept.
        for (const RateRecord& hour : model_day_hour_bars(symbol, day)) {
            if (hour.time >= begin * 60 && hour.time < end * 60) {
                out->push_back(hour);
            }
        }
    }
}

// Adds a later bar to one of a longer timeframe.
static void bar_merge(RateRecord* into, const RateRecord& bar) {
    // Values, not references: std::max and std::min must not bind to the
    // unaligned fields of packed records.
    double high = into->high, low = into->low;
    int32_t spread = into->spread;
    into->high = std::max(high, (double)bar.high);
    into->low = std::min(low, (double)bar.low);
    into->close = bar.close;
    into->tick_volume += bar.tick_volume;
    into->real_volume += bar.real_volume;
    into->spread = std::min(spread, (int32_t)bar.spread);
}

void bar_add(std::vector<RateRecord>* out, size_t first, int64_t open, const RateRecord& bar) {
    if (out->size() > first && out->back().time == open) {
        bar_merge(&out->back(), bar);
        return;
    }
    RateRecord merged = bar;
    merged.time = open;
    out->push_back(merged);
}
