// The market as the trading engine sees it.
#include "terminal/market/market.h"

#include "terminal/market/calendar.h"
#include "terminal/market/catalogue.h"
#include "terminal/market/clock.h"
#include "terminal/market/live.h"

const SymbolInfoRecord* market_symbol(const char16_t* name) {
    Symbol* symbol = find_symbol(name);
    if (symbol == nullptr) {
        return nullptr;
    }
    symbol_snapshot(*symbol, market_now_msc(), &symbol->snapshot);
    return &symbol->snapshot;
}

bool market_open(const char16_t* name, int64_t time_msc) {
    Symbol* symbol = find_symbol(name);
    if (symbol == nullptr) {
        return false;
    }
    // A forced price keeps the symbol tradable, so that tests can trade at
    // any hour.
    if (!symbol->sets.empty() && symbol->sets.back().bid != 0 &&
        symbol->sets.back().time_msc <= time_msc) {
        return true;
    }
    int64_t minute = floor_div(time_msc, 60000);
    return schedule_open(symbol->model.schedule, minute);
}
