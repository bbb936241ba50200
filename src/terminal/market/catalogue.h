// The terminal's symbols and everything the market keeps about them between
// requests. One process-wide instance, touched only by the server thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "terminal/market/price_model.h"
#include "wire/bars.h"
#include "wire/symbols.h"

// A price forced from outside (test control). The symbol holds it until the
// next one; a set with a bid of 0 hands the symbol back to its model.
struct PriceSet {
    int64_t time_msc;
    double bid;
    double ask;
};

// History loaded from files replaces the model for that symbol.
struct ImportedSeries {
    std::vector<RateRecord> bars;   // M1, in time order
    std::vector<TickRecord> ticks;  // in time order
};

// The latest tick and the figures of the trading day it belongs to, kept up
// to date by scanning only the ticks that arrived since the last look.
struct LiveState {
    bool started;
    int64_t scanned_to_msc;  // every tick up to here is counted
    int64_t day;             // days since 1970 of `tick`
    TickRecord tick;
    double previous_close;  // last bid of the previous trading day
    double day_open;
    double bid_high, bid_low, ask_high, ask_low, last_high, last_low;
    uint64_t volume_high, volume_low;
    uint64_t deals, buy_deals, sell_deals;
    double volume_sum, buy_volume, sell_volume, turnover;
};

struct Symbol {
    char16_t name[32];
    SymbolInfoRecord info;  // the fixed description; prices are filled on request
    PriceModel model;
    std::unique_ptr<ImportedSeries> imported;
    std::vector<PriceSet> sets;
    LiveState live;
    SymbolInfoRecord snapshot;  // what market_symbol last handed out
    // The model's one-minute and hour bars of past days, by day since 1970
    // (see bar_cache.h).
    std::map<int64_t, std::vector<RateRecord>> model_days;
    std::map<int64_t, std::vector<RateRecord>> model_hours;
    uint64_t model_days_used;  // when last read, for giving the least used up
};

struct Market {
    std::vector<Symbol> symbols;
    std::unordered_map<std::u16string, size_t> index;
    int64_t history_start_minute;
};

Market& market_state();
Symbol* find_symbol(const char16_t* name);

// Builds the catalogue: the listed instruments, then generated ones until
// there are `total` symbols.
void catalogue_build(uint64_t seed, uint32_t total, uint32_t history_days);
