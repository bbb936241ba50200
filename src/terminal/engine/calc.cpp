// Margin and profit arithmetic and the figures of an account.
#include "terminal/engine/calc.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "terminal/market/market.h"
#include "wire/enums.h"
#include "wire/fields.h"

namespace {

const std::u16string kUsd = u"USD";

// The rate of one symbol that quotes `from` in `to`, or the inverse of one
// that quotes `to` in `from`.
double direct_rate(const std::u16string& from, const std::u16string& to) {
    const SymbolInfoRecord* info = symbol_info(from + to);
    if (info && info->bid > 0) {
        return info->bid;
    }
    info = symbol_info(to + from);
    if (info && info->ask > 0) {
        return 1.0 / info->ask;
    }
    return 0;
}

bool is_futures(uint32_t calc_mode) {
    return calc_mode == kSymbolCalcModeFutures;
}

}  // namespace

std::u16string margin_currency(const SymbolInfoRecord& info) {
    std::u16string currency = FIELD_GET(info.currency_margin);
    if (currency.empty()) {
        currency = FIELD_GET(info.currency_base);
    }
    return currency;
}

bool money_suffices(const Figures& before, const Figures& after) {
    return after.margin <= before.margin || after.margin_free >= 0;
}

double money(double amount) {
    return std::round(amount * 100) / 100;
}

bool is_buy(uint32_t order_type) {
    return order_type == kOrderTypeBuy || order_type == kOrderTypeBuyLimit ||
           order_type == kOrderTypeBuyStop || order_type == kOrderTypeBuyStopLimit;
}

bool is_stop_limit(uint32_t order_type) {
    return order_type == kOrderTypeBuyStopLimit || order_type == kOrderTypeSellStopLimit;
}

const SymbolInfoRecord* symbol_info(const std::u16string& name) {
    if (name.empty()) {
        return nullptr;
    }
    return market_symbol(name.c_str());
}

double conversion_rate(const std::u16string& from, const std::u16string& to) {
    if (from == to) {
        return 1.0;
    }
    double rate = direct_rate(from, to);
    if (rate > 0 || from == kUsd || to == kUsd) {
        return rate;
    }
    return direct_rate(from, kUsd) * direct_rate(kUsd, to);
}

bool symbol_calc(const std::u16string& name, const std::u16string& currency, SymbolCalc* out) {
    const SymbolInfoRecord* info = symbol_info(name);
    if (!info) {
        return false;
    }
    *out = SymbolCalc{};
    out->info = info;
    out->bid = info->bid;
    out->ask = info->ask;
    std::u16string base = FIELD_GET(info->currency_base);
    std::u16string profit = FIELD_GET(info->currency_profit);
    std::u16string margin = margin_currency(*info);
    if (profit == currency) {
        out->profit_rate_buy = out->profit_rate_sell = 1.0;
    } else if (base == currency && out->bid > 0 && out->ask > 0) {
        // USDJPY on a USD account: the symbol's own price converts its profit.
        out->profit_rate_buy = 1.0 / out->bid;
        out->profit_rate_sell = 1.0 / out->ask;
        out->profit_by_price = true;
    } else {
        out->profit_rate_buy = out->profit_rate_sell = conversion_rate(profit, currency);
    }
    // EURUSD on a USD account: the margin in EUR converts at the order's price.
    out->margin_by_price = margin == base && profit == currency && margin != currency &&
                           !is_futures(info->trade_calc_mode);
    out->margin_rate = out->margin_by_price ? 0 : conversion_rate(margin, currency);
    return true;
}

const SymbolCalc* cached_symbol(SymbolCache* cache, const std::u16string& name) {
    auto found = cache->symbols.find(name);
    if (found != cache->symbols.end()) {
        return &found->second;
    }
    SymbolCalc calc;
    if (!symbol_calc(name, cache->currency, &calc)) {
        return nullptr;
    }
    return &cache->symbols.emplace(name, calc).first->second;
}

double raw_profit(const SymbolInfoRecord& info, uint32_t type, double volume, double open,
                  double close) {
    double move = is_buy(type) ? close - open : open - close;
    if (is_futures(info.trade_calc_mode) && info.trade_tick_size > 0) {
        return move / info.trade_tick_size * info.trade_tick_value * volume;
    }
    return move * info.trade_contract_size * volume;
}

double raw_margin(const SymbolInfoRecord& info, double volume, double price, uint32_t leverage) {
    double lots = volume * info.trade_contract_size;
    double lever = leverage > 0 ? (double)leverage : 1.0;
    switch (info.trade_calc_mode) {
        case kSymbolCalcModeForex:
            return lots / lever;
        case kSymbolCalcModeCfd:
            return lots * price;
        case kSymbolCalcModeCfdIndex:
            if (info.trade_tick_size > 0) {
                return lots * price * info.trade_tick_value / info.trade_tick_size;
            }
            return lots * price;
        case kSymbolCalcModeFutures:
            if (info.margin_initial > 0) {
                return volume * info.margin_initial;
            }
            return lots * price / lever;
        case kSymbolCalcModeCfdLeverage:
        default:
            return lots * price / lever;
    }
}

double margin_rate_at(const SymbolCalc& calc, double price) {
    return calc.margin_by_price ? price : calc.margin_rate;
}

double profit_rate_at(const SymbolCalc& calc, uint32_t type, double close) {
    if (calc.profit_by_price && close > 0) {
        return 1.0 / close;  // the symbol's own price converts, at the closing price
    }
    return is_buy(type) ? calc.profit_rate_buy : calc.profit_rate_sell;
}

double account_profit(const SymbolCalc& calc, uint32_t type, double volume, double open,
                      double close) {
    return raw_profit(*calc.info, type, volume, open, close) * profit_rate_at(calc, type, close);
}

double hedged_margin_share(const SymbolInfoRecord& info) {
    if (info.trade_contract_size <= 0 || info.margin_hedged <= 0) {
        return 0;
    }
    return std::min(1.0, info.margin_hedged / info.trade_contract_size);
}

double position_profit(const Position& position, const SymbolCalc& calc, double* price_current) {
    double close = position.type == kPositionTypeBuy ? calc.bid : calc.ask;
    if (price_current) {
        *price_current = close;
    }
    return account_profit(calc, position.type, position.volume, position.price_open, close);
}

namespace {

struct Exposure {
    const SymbolCalc* calc;
    double buy_volume;
    double buy_margin;
    double sell_volume;
    double sell_margin;
};

double exposure_margin(const Exposure& e) {
    const SymbolInfoRecord& info = *e.calc->info;
    double hedged = std::min(e.buy_volume, e.sell_volume);
    if (hedged <= 0) {
        return e.buy_margin + e.sell_margin;
    }
    if (info.margin_hedged_use_leg) {
        return std::max(e.buy_margin, e.sell_margin);
    }
    double buy_each = e.buy_margin / e.buy_volume;
    double sell_each = e.sell_margin / e.sell_volume;
    return (e.buy_volume - hedged) * buy_each + (e.sell_volume - hedged) * sell_each +
           hedged * (buy_each + sell_each) * hedged_margin_share(info);
}

}  // namespace

Figures book_figures(const Book& book) {
    const Account& account = book.account;
    SymbolCache cache{account.settings.currency, {}};
    std::unordered_map<std::u16string, Exposure> exposures;
    Figures f = {};
    for (const Position* listed : positions_in_order(book)) {
        const Position& p = *listed;
        const SymbolCalc* calc = cached_symbol(&cache, p.symbol);
        if (!calc) {
            continue;  // a symbol the market no longer lists counts for nothing
        }
        f.profit += money(position_profit(p, *calc, nullptr)) + p.swap;
        double margin = raw_margin(*calc->info, p.volume, p.price_open, account.settings.leverage) *
                        margin_rate_at(*calc, p.price_open);
        Exposure& e = exposures.emplace(p.symbol, Exposure{calc, 0, 0, 0, 0}).first->second;
        if (p.type == kPositionTypeBuy) {
            e.buy_volume += p.volume;
            e.buy_margin += margin;
        } else {
            e.sell_volume += p.volume;
            e.sell_margin += margin;
        }
    }
    for (const auto& entry : exposures) {
        f.margin += exposure_margin(entry.second);
    }
    f.profit = money(f.profit);
    f.margin = money(f.margin);
    f.equity = money(account.settings.balance + account.credit + f.profit);
    f.margin_free = money(f.equity - f.margin);
    f.margin_level = f.margin > 0 ? f.equity / f.margin * 100.0 : 0;
    return f;
}

int32_t engine_calc_margin(uint32_t action, const char16_t* symbol, double volume, double price,
                           double* margin) {
    *margin = 0;
    Book* book = current_book();
    if (!book) {
        return -1;
    }
    if (action > kOrderTypeSellStopLimit || !std::isfinite(volume) || !std::isfinite(price) ||
        volume < 0 || price < 0) {
        return -2;
    }
    SymbolCalc calc;
    if (!symbol || !symbol_calc(symbol, book->account.settings.currency, &calc)) {
        return -4;
    }
    double rate = margin_rate_at(calc, price);
    if (rate <= 0 && volume > 0) {
        return -1;  // nothing converts the margin currency into the account's
    }
    *margin = raw_margin(*calc.info, volume, price, book->account.settings.leverage) * rate;
    return 1;
}

int32_t engine_calc_profit(uint32_t action, const char16_t* symbol, double volume,
                           double price_open, double price_close, double* profit) {
    *profit = 0;
    Book* book = current_book();
    if (!book) {
        return -1;
    }
    if (action > kOrderTypeSellStopLimit || !std::isfinite(volume) || !std::isfinite(price_open) ||
        !std::isfinite(price_close) || volume < 0) {
        return -2;
    }
    SymbolCalc calc;
    if (!symbol || !symbol_calc(symbol, book->account.settings.currency, &calc)) {
        return -4;
    }
    double rate = profit_rate_at(calc, action, price_close);
    if (rate <= 0) {
        return -1;
    }
    *profit = raw_profit(*calc.info, action, volume, price_open, price_close) * rate;
    return 1;
}
