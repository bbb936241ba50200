// The one-minute and hour bars of whole days, made once per symbol and day
// and kept.
#include "terminal/market/bar_cache.h"

// Kept bars of all symbols together: a few symbols' full histories. Beyond
// it the least recently used symbol's days are given up, so that reading
// every symbol of a large catalogue once does not keep all of it.
constexpr size_t kKeptBarBytes = 256u << 20;

static size_t g_kept_bytes = 0;
static uint64_t g_clock = 0;

static size_t day_bytes(const std::vector<RateRecord>& bars) {
    return bars.capacity() * sizeof(RateRecord);
}

static void forget(std::map<int64_t, std::vector<RateRecord>>* days) {
    for (const auto& entry : *days) {
        g_kept_bytes -= day_bytes(entry.second);
    }
    days->clear();
}

static void forget(Symbol& symbol) {
    forget(&symbol.model_days);
    forget(&symbol.model_hours);
}

static bool keeps_any(const Symbol& symbol) {
    return !symbol.model_days.empty() || !symbol.model_hours.empty();
}

// Makes room for `wanted` more bytes, giving up other symbols first.
static void make_room(Symbol& keep, size_t wanted) {
    while (g_kept_bytes + wanted > kKeptBarBytes) {
        Symbol* oldest = nullptr;
        for (Symbol& symbol : market_state().symbols) {
            if (&symbol != &keep && keeps_any(symbol) &&
                (oldest == nullptr || symbol.model_days_used < oldest->model_days_used)) {
                oldest = &symbol;
            }
        }
        if (oldest == nullptr) {
            forget(keep);  // one symbol's history alone is too large: start again
            return;
        }
        forget(*oldest);
    }
}

static void make_day(const Symbol& symbol, int64_t day, std::vector<RateRecord>* out) {
    PricePath path;
    path_init(&path, &symbol.model);
    for (int64_t minute = day * 1440; minute < (day + 1) * 1440; minute++) {
        RateRecord bar;
        if (model_minute_bar(symbol.model, &path, minute, &bar)) {
            out->push_back(bar);
        }
    }
    out->shrink_to_fit();
}

static const std::vector<RateRecord>& keep(Symbol& symbol,
                                           std::map<int64_t, std::vector<RateRecord>>* days,
                                           int64_t day, std::vector<RateRecord> bars) {
    make_room(symbol, day_bytes(bars));
    g_kept_bytes += day_bytes(bars);
    return (*days)[day] = std::move(bars);
}

const std::vector<RateRecord>& model_day_bars(Symbol& symbol, int64_t day) {
    symbol.model_days_used = ++g_clock;
    auto found = symbol.model_days.find(day);
    if (found != symbol.model_days.end()) {
        return found->second;
    }
    std::vector<RateRecord> bars;
    make_day(symbol, day, &bars);
    return keep(symbol, &symbol.model_days, day, std::move(bars));
}

const std::vector<RateRecord>& model_day_hour_bars(Symbol& symbol, int64_t day) {
    symbol.model_days_used = ++g_clock;
    auto found = symbol.model_hours.find(day);
    if (found != symbol.model_hours.end()) {
        return found->second;
    }
    PricePath path;
    path_init(&path, &symbol.model);
    RateRecord hours[24];
    int count = model_day_hours(symbol.model, &path, day, hours);
    return keep(symbol, &symbol.model_hours, day, std::vector<RateRecord>(hours, hours + count));
}
