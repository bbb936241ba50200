// Margin, profit and account figures, from the symbols' contract settings
// and the market's current prices. Amounts in another currency than the
// account's are converted through the symbol that links the two currencies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "terminal/engine/state.h"
#include "wire/symbols.h"

// A symbol's description and what converts its amounts into the account
// currency at the current prices. Rates are 0 when no symbol links the
// currencies.
struct SymbolCalc {
    const SymbolInfoRecord* info;
    double bid;
    double ask;
    double profit_rate_buy;   // for the profit of a buy, which closes at the bid
    double profit_rate_sell;  // for the profit of a sell, which closes at the ask
    bool profit_by_price;     // the symbol's own price converts its profit
    double margin_rate;       // 0 when the symbol's own price converts (see margin_rate_at)
    bool margin_by_price;
};

// Null when the market has no such symbol.
const SymbolInfoRecord* symbol_info(const std::u16string& name);
// The currency a symbol's margin is counted in.
std::u16string margin_currency(const SymbolInfoRecord& info);
bool symbol_calc(const std::u16string& name, const std::u16string& currency, SymbolCalc* out);

// Keeps one SymbolCalc per symbol while a loop walks many positions.
struct SymbolCache {
    std::u16string currency;
    std::unordered_map<std::u16string, SymbolCalc> symbols;
};
// Null when the market has no such symbol.
const SymbolCalc* cached_symbol(SymbolCache* cache, const std::u16string& name);

// Rate that turns an amount in `from` into `to` at current prices; 0 when no
// symbol links the two currencies, directly or through USD.
double conversion_rate(const std::u16string& from, const std::u16string& to);

// Profit in the symbol's profit currency of `volume` lots of `type` (buy or sell).
double raw_profit(const SymbolInfoRecord& info, uint32_t type, double volume, double open,
                  double close);
// Margin in the symbol's margin currency.
double raw_margin(const SymbolInfoRecord& info, double volume, double price, uint32_t leverage);
double margin_rate_at(const SymbolCalc& calc, double price);
double profit_rate_at(const SymbolCalc& calc, uint32_t type, double close);
// The profit of a move from open to close, in the account currency.
double account_profit(const SymbolCalc& calc, uint32_t type, double volume, double open,
                      double close);

// The part of a symbol's margin that a hedged volume still pays, 0 to 1.
double hedged_margin_share(const SymbolInfoRecord& info);

// Profit of a position at the current price, in the account currency.
double position_profit(const Position& position, const SymbolCalc& calc, double* price_current);

struct Figures {
    double profit;
    double equity;
    double margin;
    double margin_free;
    double margin_level;  // percent; 0 without margin
};
// Figures as the account shows them: profits and margin in whole cents.
Figures book_figures(const Book& book);
// A fill that raises the margin needs the free margin to stay positive.
bool money_suffices(const Figures& before, const Figures& after);

// An amount of the account currency rounded to cents.
double money(double amount);

bool is_buy(uint32_t order_type);
bool is_stop_limit(uint32_t order_type);
