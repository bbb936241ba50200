// Depth of market: sell levels above the ask and buy levels below the bid,
// moving with the price.
#pragma once

#include <cstdint>
#include <vector>

#include "terminal/market/catalogue.h"
#include "wire/market_book.h"

// Sell levels from the highest price down, then buy levels from the highest
// down; empty when the symbol has no price.
void depth_levels(Symbol& symbol, int64_t now_msc, std::vector<BookInfoRecord>* out);
