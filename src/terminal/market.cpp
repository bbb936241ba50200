// The market as the trading engine sees it.
#include "terminal/market.h"

#include <ctime>

#include "terminal/calendar.h"
#include "terminal/live.h"
#include "terminal/market_state.h"

int64_t market_now_msc() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

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
