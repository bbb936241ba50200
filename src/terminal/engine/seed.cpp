// Many positions at once, for benchmarks of the position reads.
#include "terminal/engine/calc.h"
#include "terminal/engine/exec.h"
#include "terminal/engine/state.h"
#include "terminal/market/market.h"
#include "wire/enums.h"

namespace {

const char16_t* const kSeedSymbols[] = {u"EURUSD", u"GBPUSD", u"USDJPY", u"AUDUSD", u"USDCHF"};

}  // namespace

bool engine_open_test_positions(uint32_t count, std::string* error) {
    Book* book = current_book();
    if (!book || !is_hedging(*book)) {
        *error = "test positions need a hedging account";
        return false;
    }
    std::vector<const SymbolInfoRecord*> symbols;
    std::vector<std::u16string> names;
    for (const char16_t* name : kSeedSymbols) {
        const SymbolInfoRecord* info = symbol_info(name);
        if (info && info->bid > 0 && info->ask > 0) {
            symbols.push_back(info);
            names.push_back(name);
        }
    }
    if (symbols.empty()) {
        *error = "no symbol to open test positions on";
        return false;
    }
    int64_t now = market_now_msc();
    Changes changes;
    // The account keeps its positions across restarts: top up to `count`.
    for (uint32_t i = (uint32_t)book->positions.size(); i < count; ++i) {
        size_t k = i % symbols.size();
        const SymbolInfoRecord* info = symbols[k];
        bool buy = (i / symbols.size()) % 2 == 0;
        Order order = {};
        order.ticket = take_ticket();
        order.login = book->account.settings.login;
        order.symbol = names[k];
        order.type = buy ? kOrderTypeBuy : kOrderTypeSell;
        order.type_filling = kOrderFillingFok;
        order.volume_initial = order.volume_current =
            info->volume_min > 0 ? info->volume_min : 0.01;
        order.time_setup_msc = now;
        order.reason = kReasonExpert;
        order.magic = 1;
        order.comment = u"test position";
        fill_order(book, &changes, order, buy ? info->ask : info->bid, now);
    }
    Figures f = book_figures(*book);
    if (f.margin > 0 && f.margin_level < 1000) {
        double amount = money(f.margin * 10 - f.equity + 1);
        book->account.settings.balance = money(book->account.settings.balance + amount);
        changes.deals.push_back(deposit_deal(book->account.settings.login, amount, now));
        changes.accounts.insert(book->account.settings.login);
    }
    if (!commit_changes(changes)) {
        *error = "cannot store the test positions";
        return false;
    }
    return true;
}
