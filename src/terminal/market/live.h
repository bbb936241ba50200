// The latest prices of each symbol and the figures of its trading day.
#pragma once

#include <cstdint>

#include "terminal/market/catalogue.h"
#include "wire/symbols.h"

// Brings the symbol's latest tick and day figures up to `now_msc`; false
// when the symbol has no tick at all yet.
bool live_refresh(Symbol& symbol, int64_t now_msc);

// The full description with current prices and the day's figures.
void symbol_snapshot(Symbol& symbol, int64_t now_msc, SymbolInfoRecord* out);

// Forces a bid and ask from now on (a bid of 0 hands the symbol back to its
// model). False when the prices are not usable.
bool live_force_price(Symbol& symbol, double bid, double ask, int64_t now_msc);

// Uses up to `budget_ms` of an idle moment to bring symbols nobody asked for
// yet up to date, so that the first look at a large catalogue is quick.
void live_warm_up(int64_t budget_ms);
