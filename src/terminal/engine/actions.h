// The trade actions: each request checked against the account, the symbol
// and the market, then carried out on the account's book. What it changed is
// gathered for one transaction; the caller commits it or puts it back.
#pragma once

#include <cstdint>
#include <string>

#include "terminal/engine/state.h"
#include "wire/trade.h"

struct Outcome {
    uint32_t retcode;
    std::u16string comment;  // empty: the retcode's own comment
    uint64_t deal;
    uint64_t order;
    double volume;
    double price;
};

struct Request {
    const TradeRequestRecord* record;
    std::u16string symbol;
    std::u16string comment;
    int64_t now_msc;
};

// Carries out the request. False with the refusal in `out` when it is refused;
// a refused request changes nothing.
bool run_request(Book* book, const Request& request, Changes* changes, Outcome* out);

// The symbol whose positions and orders the request may change.
std::u16string affected_symbol(Book* book, const Request& request);
