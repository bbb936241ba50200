// The checks a trade request must pass against a symbol's settings and the
// market; each returns 0 when the request passes, or the refusal's retcode.
#pragma once

#include <cstdint>

#include "wire/symbols.h"

double round_price(const SymbolInfoRecord& info, double price);
uint32_t check_volume(const SymbolInfoRecord& info, double volume);
uint32_t check_filling(const SymbolInfoRecord& info, uint32_t filling);
// `opening` is false when the request closes a position.
uint32_t check_trade_mode(const SymbolInfoRecord& info, bool opening, bool buy);
uint32_t check_expiration(const SymbolInfoRecord& info, uint32_t type_time, int64_t expiration,
                          int64_t now_msc);
uint32_t check_order_mode(const SymbolInfoRecord& info, uint32_t order_type);

// Stops of a buy (or sell) against the price they are measured from: the
// position's closing price, or a pending order's price.
uint32_t check_stops(const SymbolInfoRecord& info, bool buy, double reference, double sl,
                     double tp);

// A pending order's price (and stop-limit price) against the current quote.
uint32_t check_pending_price(const SymbolInfoRecord& info, uint32_t type, double price,
                             double stoplimit);

// When a pending order of that time type stops being valid; 0 when never.
int64_t order_expiry_msc(uint32_t type_time, int64_t expiration, int64_t time_setup_msc);

// The default comment of a retcode.
const char16_t* retcode_comment(uint32_t retcode);
