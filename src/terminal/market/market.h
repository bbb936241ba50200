// The simulated market as the trading engine sees it: symbol descriptions and
// their latest prices. Implemented by the market side of the terminal.
#pragma once

#include <cstdint>

#include "terminal/market/clock.h"
#include "wire/symbols.h"

// The symbol's full description with current prices, or null when the
// terminal has no symbol of that name (NUL-terminated UTF-16).
const SymbolInfoRecord* market_symbol(const char16_t* name);

// Whether the symbol's session is open at that time (milliseconds since 1970).
bool market_open(const char16_t* name, int64_t time_msc);
