// Swaps: at each midnight of the server's clock (UTC) every open position is
// charged or credited a day of its symbol's swap, three days at the end of
// the symbol's triple-swap weekday and none for the weekend. The amount
// accrues in the position; the deal that closes it books it to the balance.
#include <cmath>

#include "terminal/engine/calc.h"
#include "terminal/engine/state.h"
#include "terminal/market/calendar.h"
#include "wire/enums.h"
#include "wire/fields.h"

namespace {

constexpr int64_t kDayMsc = 86400000;
constexpr double kInterestDays = 360;  // a year of interest, as the money market counts it

// Days of swap that the rollover at the end of `day` (days since 1970)
// charges: the triple day pays for the weekend, whose nights pay nothing.
int days_charged(int64_t day, uint32_t triple_weekday) {
    int64_t weekday = (day + 4) % 7;  // 1970-01-01 was a Thursday; 0 is Sunday
    if (weekday < 0) {
        weekday += 7;
    }
    if (weekday == (int64_t)triple_weekday) {
        return 3;
    }
    return weekday == 0 || weekday == 6 ? 0 : 1;
}

// How many of the rollovers ending days first..last charge a single day and
// how many a triple one. Counted by whole weeks, so that a clock that jumps
// years ahead costs no more than one that moves a day.
void count_rollovers(int64_t first, int64_t last, uint32_t triple_weekday, int64_t* singles,
                     int64_t* triples) {
    *singles = *triples = 0;
    if (last < first) {
        return;
    }
    int64_t weeks = (last - first + 1) / 7;
    for (int64_t d = first; d < first + 7; d++) {
        int days = days_charged(d, triple_weekday);
        int64_t times = weeks + (d <= last - weeks * 7 ? 1 : 0);
        *singles += days == 1 ? times : 0;
        *triples += days == 3 ? times : 0;
    }
}

// One day of a position's swap in the account currency; 0 when nothing
// converts the symbol's currencies into the account's.
double daily_swap(const Position& p, const SymbolCalc& calc, const std::u16string& currency) {
    const SymbolInfoRecord& info = *calc.info;
    bool buy = p.type == kPositionTypeBuy;
    double rate = buy ? info.swap_long : info.swap_short;
    double close = buy ? calc.bid : calc.ask;
    double to_account = profit_rate_at(calc, p.type, close);
    switch (info.swap_mode) {
        case kSymbolSwapModePoints:
            return raw_profit(info, kOrderTypeBuy, p.volume, 0, rate * info.point) * to_account;
        case kSymbolSwapModeCurrencySymbol:
            return rate * p.volume * conversion_rate(FIELD_GET(info.currency_base), currency);
        case kSymbolSwapModeCurrencyMargin:
            return rate * p.volume * conversion_rate(margin_currency(info), currency);
        case kSymbolSwapModeCurrencyDeposit:
            return rate * p.volume;
        case kSymbolSwapModeInterestCurrent:
        case kSymbolSwapModeInterestOpen: {
            double price = info.swap_mode == kSymbolSwapModeInterestOpen ? p.price_open : close;
            double value = price * info.trade_contract_size * p.volume;
            return value * rate / 100 / kInterestDays * to_account;
        }
        default:
            // The reopening modes move the open price instead of charging
            // money; no symbol of this terminal uses them.
            return 0;
    }
}

// Charges one book's positions for the midnights ending days first..last.
void charge_book(Book* book, int64_t first, int64_t last, Changes* changes) {
    SymbolCache cache{book->account.settings.currency, {}};
    for (auto& entry : book->positions) {
        Position& p = entry.second;
        const SymbolCalc* calc = cached_symbol(&cache, p.symbol);
        if (!calc) {
            continue;
        }
        double day = daily_swap(p, *calc, cache.currency);
        if (!std::isfinite(day) || day == 0) {
            continue;
        }
        // Only the midnights after the position opened charge it.
        int64_t opened = floor_div(p.time_msc, kDayMsc);
        int64_t singles = 0, triples = 0;
        count_rollovers(opened > first ? opened : first, last, calc->info->swap_rollover3days,
                        &singles, &triples);
        double charged = singles * money(day) + triples * money(3 * day);
        if (charged != 0) {
            p.swap = money(p.swap + charged);
            change_position(changes, p);
        }
    }
}

}  // namespace

int64_t rollover(int64_t now_msc, Changes* changes) {
    int64_t today = floor_div(now_msc, kDayMsc);
    if (g_engine.rollover_day == 0) {
        // A new account database starts charging from today's midnight on.
        g_engine.rollover_day = today;
        changes->rollover = true;
        return 0;
    }
    if (today <= g_engine.rollover_day) {
        return 0;
    }
    for (auto& entry : g_engine.books) {
        charge_book(&entry.second, g_engine.rollover_day, today - 1, changes);
    }
    int64_t passed = today - g_engine.rollover_day;
    g_engine.rollover_day = today;
    changes->rollover = true;
    return passed;
}

int64_t engine_rollover(int64_t now_msc) {
    if (!g_engine.open) {
        return 0;
    }
    Changes changes;
    int64_t passed = rollover(now_msc, &changes);
    if (!changes.empty() && !commit_changes(changes)) {
        return 0;
    }
    return passed;
}
