// Tests of the trading engine against a real SQLite file in a temporary
// folder. The market is a small stand-in whose prices, clock and sessions the
// tests set.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "terminal/engine/engine.h"
#include "terminal/market/market.h"
#include "terminal/storage/rows.h"
#include "wire/status.h"
#include "wire/enums.h"

// ---- the market stand-in ----

namespace {

struct FakeSymbol {
    SymbolInfoRecord info;
    bool open;
};
std::map<std::u16string, FakeSymbol> symbols;
int64_t clock_msc = 1700000000000;  // 2023-11-14 22:13:20 UTC

void put_text(uint8_t* field, size_t bytes, const std::u16string& text) {
    memset(field, 0, bytes);
    for (size_t i = 0; i < text.size() && 2 * i + 2 < bytes; ++i) {
        field[2 * i] = (uint8_t)(text[i] & 0xFF);
        field[2 * i + 1] = (uint8_t)(text[i] >> 8);
    }
}

void add_symbol(const std::u16string& name, const std::u16string& base,
                const std::u16string& profit, uint32_t calc_mode, uint32_t digits, double contract,
                double bid, double ask) {
    SymbolInfoRecord r = {};
    r.digits = digits;
    r.point = std::pow(10.0, -(double)digits);
    r.trade_calc_mode = calc_mode;
    r.trade_mode = kSymbolTradeModeFull;
    r.expiration_mode = 15;
    r.filling_mode = kSymbolFillingFok | kSymbolFillingIoc;
    r.order_mode = 127;
    r.trade_contract_size = contract;
    r.trade_tick_size = r.point;
    r.trade_tick_value = contract * r.point;
    r.volume_min = 0.01;
    r.volume_max = 100;
    r.volume_step = 0.01;
    r.margin_hedged = contract / 2;
    r.bid = bid;
    r.ask = ask;
    put_text(r.currency_base, sizeof(r.currency_base), base);
    put_text(r.currency_profit, sizeof(r.currency_profit), profit);
    put_text(r.currency_margin, sizeof(r.currency_margin),
             calc_mode == kSymbolCalcModeForex ? base : profit);
    put_text(r.name, sizeof(r.name), name);
    symbols[name] = FakeSymbol{r, true};
}

void set_price(const std::u16string& name, double bid, double ask) {
    symbols[name].info.bid = bid;
    symbols[name].info.ask = ask;
}

void reset_market() {
    symbols.clear();
    clock_msc = 1700000000000;
    add_symbol(u"EURUSD", u"EUR", u"USD", kSymbolCalcModeForex, 5, 100000, 1.10000, 1.10020);
    add_symbol(u"GBPUSD", u"GBP", u"USD", kSymbolCalcModeForex, 5, 100000, 1.25000, 1.25020);
    add_symbol(u"USDJPY", u"USD", u"JPY", kSymbolCalcModeForex, 3, 100000, 150.000, 150.020);
    add_symbol(u"GBPJPY", u"GBP", u"JPY", kSymbolCalcModeForex, 3, 100000, 187.500, 187.540);
    add_symbol(u"XAUUSD", u"XAU", u"USD", kSymbolCalcModeCfdLeverage, 2, 100, 2000.00, 2000.50);
    add_symbol(u"US500", u"USD", u"USD", kSymbolCalcModeCfd, 2, 1, 5000.00, 5000.50);
}

}  // namespace

const SymbolInfoRecord* market_symbol(const char16_t* name) {
    auto found = symbols.find(name);
    return found == symbols.end() ? nullptr : &found->second.info;
}

bool market_open(const char16_t* name, int64_t) {
    auto found = symbols.find(name);
    return found != symbols.end() && found->second.open;
}

int64_t market_now_msc() {
    return clock_msc;
}

// Prices here change only when a test sets them: there are no ticks between
// two checks, and the clock is wall time.
void market_ticks(const char16_t*, int64_t, int64_t, std::vector<TickRecord>* out) {
    out->clear();
}

int64_t clock_virtual_span_msc(int64_t) {
    return 0;
}

ClockHold::ClockHold(int64_t) : previous(-1) {}

ClockHold::~ClockHold() {}

// ---- checks ----

namespace {

int failed_checks = 0;
std::string database;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failed_checks;                                                         \
        }                                                                            \
    } while (0)

#define CHECK_NEAR(a, b)                                                                        \
    do {                                                                                        \
        double a_ = (a), b_ = (b);                                                              \
        if (!(std::fabs(a_ - b_) <= 1e-6 * std::fmax(1.0, std::fabs(b_)))) {                    \
            fprintf(stderr, "%s:%d: %s is %.10g, expected %.10g\n", __FILE__, __LINE__, #a, a_, \
                    b_);                                                                        \
            ++failed_checks;                                                                    \
        }                                                                                       \
    } while (0)

TradeRequestRecord request(uint32_t action, const std::u16string& symbol, uint32_t type,
                           double volume, double price = 0) {
    TradeRequestRecord r = {};
    r.action = action;
    put_text(r.symbol, sizeof(r.symbol), symbol);
    r.type = type;
    r.volume = volume;
    r.price = price;
    r.deviation = 10;
    r.type_filling = kOrderFillingIoc;
    return r;
}

OrderSendRecord send(const TradeRequestRecord& r) {
    OrderSendRecord result;
    CHECK(engine_order_send(r, &result) == 0);
    return result;
}

OrderSendRecord market(const std::u16string& symbol, uint32_t type, double volume) {
    return send(request(kTradeActionDeal, symbol, type, volume));
}

OrderSendRecord close(uint64_t position, uint32_t type, double volume) {
    TradeRequestRecord r = request(kTradeActionDeal, u"", type, volume);
    r.position = position;
    return send(r);
}

AccountInfoRecord account() {
    AccountInfoRecord a;
    engine_account_info(&a);
    return a;
}

std::vector<TradePositionRecord> positions() {
    std::vector<TradePositionRecord> out;
    engine_positions(nullptr, &out);
    return out;
}

std::vector<TradeDealRecord> all_deals() {
    std::vector<TradeDealRecord> out;
    engine_history_deals(0, 2000000000, &out);
    return out;
}

void reopen() {
    engine_close();
    std::string error;
    CHECK(engine_open(database, &error));
}

// ---- tests ----

void test_demo_accounts_and_login() {
    AccountInfoRecord a = account();
    CHECK(a.login == 10001);
    CHECK(a.margin_mode == kAccountMarginModeRetailHedging);
    CHECK(a.leverage == 100);
    CHECK_NEAR(a.balance, 10000);
    CHECK_NEAR(a.equity, 10000);
    CHECK_NEAR(a.margin_free, 10000);
    CHECK(a.trade_allowed && a.trade_expert);
    CHECK(a.currency_digits == 2);
    CHECK(a.margin_so_call > a.margin_so_so && a.margin_so_so > 0);
    std::vector<TradeDealRecord> deals = all_deals();
    CHECK(deals.size() == 1 && deals[0].type == kDealTypeBalance);
    CHECK(deals.size() == 1 && deals[0].profit == 10000);

    CHECK(engine_login(10002, u"wrong", u"") == kLoginRejected);
    CHECK(engine_login(10002, u"demo", u"Other-Server") == kLoginRejected);
    CHECK(engine_login(99999, u"demo", u"") == kLoginRejected);
    CHECK(account().login == 10001);
    CHECK(engine_login(10002, u"demo", u"Quillmark-Demo") == kLoginAccepted);
    CHECK(account().login == 10002);
    CHECK(account().margin_mode == kAccountMarginModeRetailNetting);

    AccountSettings otp = {20001,  u"secret", u"Quillmark-Demo",
                           u"OTP", u"Co",     u"EUR",
                           500,    50,        kAccountMarginModeRetailHedging,
                           true,   0};
    std::string error;
    CHECK(engine_add_account(otp, &error));
    CHECK(engine_login(20001, u"secret", u"") == kLoginNeedsOtp);
    CHECK(engine_login(20001, u"bad", u"") == kLoginRejected);
    reopen();
    CHECK(account().login == 10002);  // the current account survives a restart
    CHECK(engine_login(20001, u"secret", u"") == kLoginNeedsOtp);
}

void test_margin_and_profit_arithmetic() {
    struct Case {
        uint32_t type;
        const char16_t* symbol;
        double volume, open, close, margin, profit;
    };
    const Case cases[] = {
        // forex quoted in USD: 100000 EUR / 100 at the order's price
        {kOrderTypeBuy, u"EURUSD", 1, 1.1, 1.101, 1100, 100},
        // USD base: margin in USD, profit in JPY converted at the closing price
        {kOrderTypeBuy, u"USDJPY", 1, 150, 151, 1000, 100000.0 / 151},
        // a cross: GBP margin through GBPUSD's bid, JPY profit through USDJPY's ask
        {kOrderTypeSell, u"GBPJPY", 0.5, 190, 189, 500 * 1.25, 50000 / 150.02},
        // CFD with leverage: 100 oz * 2000 / 100
        {kOrderTypeBuy, u"XAUUSD", 1, 2000, 1990, 2000, -1000},
        // CFD without leverage
        {kOrderTypeSell, u"US500", 2, 5000, 4990, 10000, 20},
    };
    for (const Case& c : cases) {
        double margin = -1, profit = -1;
        CHECK(engine_calc_margin(c.type, c.symbol, c.volume, c.open, &margin) >= 0);
        CHECK(engine_calc_profit(c.type, c.symbol, c.volume, c.open, c.close, &profit) >= 0);
        CHECK_NEAR(margin, c.margin);
        CHECK_NEAR(profit, c.profit);
    }
    double value = 0;
    CHECK(engine_calc_margin(kOrderTypeBuy, u"NOPE", 1, 1, &value) == -4);
    CHECK(engine_calc_profit(kOrderTypeBuy, u"NOPE", 1, 1, 2, &value) == -4);
    CHECK(engine_calc_margin(99, u"EURUSD", 1, 1, &value) < 0);
}

void test_figures_follow_prices_and_hedging() {
    OrderSendRecord buy = market(u"EURUSD", kOrderTypeBuy, 1);
    CHECK(buy.retcode == kRetcodeDone);
    CHECK_NEAR(buy.price, 1.1002);
    CHECK(buy.deal != 0 && buy.order != 0 && buy.deal != buy.order);
    CHECK_NEAR(account().margin, 1100.2);
    set_price(u"EURUSD", 1.1050, 1.1052);
    engine_update(clock_msc);
    AccountInfoRecord a = account();
    CHECK_NEAR(a.balance, 10000 - 3.5);  // the demo account's commission
    CHECK_NEAR(a.profit, 480);
    CHECK_NEAR(a.equity, 10476.5);
    CHECK_NEAR(a.margin_free, 10476.5 - 1100.2);
    CHECK_NEAR(a.margin_level, 10476.5 / 1100.2 * 100);
    // An opposite position hedges: each hedged lot pays half its margin.
    CHECK(market(u"EURUSD", kOrderTypeSell, 1).retcode == kRetcodeDone);
    CHECK(positions().size() == 2);
    CHECK_NEAR(account().margin, (1100.2 + 1105.0) * 0.5);
}

struct Refusal {
    const char* what;
    void (*shape)(TradeRequestRecord*);
    uint32_t retcode;
};

void test_refusals_change_nothing() {
    OrderSendRecord held = market(u"EURUSD", kOrderTypeBuy, 1);
    TradeRequestRecord limit = request(kTradeActionPending, u"EURUSD", kOrderTypeBuyLimit, 1, 1.09);
    OrderSendRecord pending = send(limit);
    CHECK(pending.retcode == kRetcodeDone);
    symbols[u"GBPUSD"].open = false;
    symbols[u"USDJPY"].info.trade_mode = kSymbolTradeModeDisabled;
    symbols[u"XAUUSD"].info.filling_mode = kSymbolFillingFok;
    static uint64_t position, order;
    position = held.order;
    order = pending.order;
    const Refusal refusals[] = {
        {"volume under the minimum", [](TradeRequestRecord* r) { r->volume = 0.001; },
         kRetcodeInvalidVolume},
        {"volume off the step", [](TradeRequestRecord* r) { r->volume = 0.015; },
         kRetcodeInvalidVolume},
        {"volume over the maximum", [](TradeRequestRecord* r) { r->volume = 500; },
         kRetcodeInvalidVolume},
        {"not enough money", [](TradeRequestRecord* r) { r->volume = 20; }, kRetcodeNoMoney},
        {"price beyond the deviation",
         [](TradeRequestRecord* r) { r->price = 1.1010, r->deviation = 5; }, kRetcodeRequote},
        {"stop loss above the bid", [](TradeRequestRecord* r) { r->sl = 1.2; },
         kRetcodeInvalidStops},
        {"take profit under the bid", [](TradeRequestRecord* r) { r->tp = 1.0; },
         kRetcodeInvalidStops},
        {"market closed", [](TradeRequestRecord* r) { put_text(r->symbol, 64, u"GBPUSD"); },
         kRetcodeMarketClosed},
        {"trade disabled", [](TradeRequestRecord* r) { put_text(r->symbol, 64, u"USDJPY"); },
         kRetcodeTradeDisabled},
        {"unknown symbol", [](TradeRequestRecord* r) { put_text(r->symbol, 64, u"NOPE"); },
         kRetcodeInvalid},
        {"unsupported filling", [](TradeRequestRecord* r) { put_text(r->symbol, 64, u"XAUUSD"); },
         kRetcodeInvalidFill},
        {"unknown filling", [](TradeRequestRecord* r) { r->type_filling = 9; },
         kRetcodeInvalidFill},
        {"pending type in a deal", [](TradeRequestRecord* r) { r->type = kOrderTypeBuyLimit; },
         kRetcodeInvalidOrder},
        {"unknown action", [](TradeRequestRecord* r) { r->action = 3; }, kRetcodeInvalid},
        {"unknown position", [](TradeRequestRecord* r) { r->position = 424242; },
         kRetcodePositionClosed},
        {"close more than held",
         [](TradeRequestRecord* r) { r->position = position, r->type = 1, r->volume = 2; },
         kRetcodeInvalidCloseVolume},
        {"buy limit above the ask",
         [](TradeRequestRecord* r) { r->action = 5, r->type = 2, r->price = 1.2; },
         kRetcodeInvalidPrice},
        {"sell stop above the bid",
         [](TradeRequestRecord* r) { r->action = 5, r->type = 5, r->price = 1.2; },
         kRetcodeInvalidPrice},
        {"stop limit price on the wrong side",
         [](TradeRequestRecord* r) {
             r->action = 5, r->type = 6, r->price = 1.11, r->stoplimit = 1.12;
         },
         kRetcodeInvalidPrice},
        {"expiration in the past",
         [](TradeRequestRecord* r) {
             r->action = 5, r->type = 2, r->price = 1.09, r->type_time = 2;
             r->expiration = 1600000000;
         },
         kRetcodeInvalidExpiration},
        {"expiration beyond the year 9999",
         [](TradeRequestRecord* r) {
             r->action = 5, r->type = 2, r->price = 1.09, r->type_time = 2;
             r->expiration = INT64_MAX;
         },
         kRetcodeInvalidExpiration},
        {"unknown time type",
         [](TradeRequestRecord* r) {
             r->action = 5, r->type = 2, r->price = 1.09, r->type_time = 7;
         },
         kRetcodeInvalidExpiration},
        {"modify an unknown order", [](TradeRequestRecord* r) { r->action = 7, r->order = 5; },
         kRetcodeInvalid},
        {"remove an unknown order", [](TradeRequestRecord* r) { r->action = 8, r->order = 5; },
         kRetcodeInvalid},
        {"modify without changes",
         [](TradeRequestRecord* r) { r->action = 7, r->order = order, r->price = 1.09; },
         kRetcodeNoChanges},
        {"sltp without changes",
         [](TradeRequestRecord* r) { r->action = 6, r->position = position; }, kRetcodeNoChanges},
        {"close by an unknown position",
         [](TradeRequestRecord* r) { r->action = 10, r->position = position, r->position_by = 9; },
         kRetcodePositionClosed},
    };
    AccountInfoRecord before = account();
    size_t positions_before = positions().size();
    for (const Refusal& refusal : refusals) {
        TradeRequestRecord r = request(kTradeActionDeal, u"EURUSD", kOrderTypeBuy, 1);
        refusal.shape(&r);
        OrderSendRecord result = send(r);
        if (result.retcode != refusal.retcode) {
            fprintf(stderr, "%s: retcode %u, expected %u\n", refusal.what, result.retcode,
                    refusal.retcode);
            ++failed_checks;
        }
        CHECK(result.comment[0] != 0);
        OrderCheckRecord check;
        CHECK(engine_order_check(r, &check) == 0);
        if (check.retcode != refusal.retcode) {
            fprintf(stderr, "%s: check gives %u, expected %u\n", refusal.what, check.retcode,
                    refusal.retcode);
            ++failed_checks;
        }
    }
    CHECK(positions().size() == positions_before);
    CHECK(engine_orders_total() == 1);
    CHECK_NEAR(account().balance, before.balance);
    CHECK_NEAR(account().margin, before.margin);
    // No refused request used up a ticket.
    OrderSendRecord next = market(u"EURUSD", kOrderTypeBuy, 0.01);
    CHECK(next.order == pending.order + 1);
}

void test_state_survives_reopen() {
    OrderSendRecord buy = market(u"EURUSD", kOrderTypeBuy, 1);
    OrderSendRecord sell = market(u"USDJPY", kOrderTypeSell, 0.3);
    close(buy.order, kOrderTypeSell, 0.5);
    TradeRequestRecord limit = request(kTradeActionPending, u"GBPUSD", kOrderTypeSellLimit, 1, 1.3);
    limit.type_time = kOrderTimeDay;
    OrderSendRecord pending = send(limit);
    AccountInfoRecord before = account();
    std::vector<TradePositionRecord> p_before = positions();
    std::vector<TradeDealRecord> d_before = all_deals();

    reopen();
    AccountInfoRecord after = account();
    CHECK(after.login == before.login);
    CHECK(after.balance == before.balance);
    CHECK(after.margin == before.margin);
    std::vector<TradePositionRecord> p_after = positions();
    CHECK(p_after.size() == p_before.size());
    for (size_t i = 0; i < p_after.size() && i < p_before.size(); ++i) {
        CHECK(memcmp(&p_after[i], &p_before[i], sizeof(TradePositionRecord)) == 0);
    }
    std::vector<TradeDealRecord> d_after = all_deals();
    CHECK(d_after.size() == d_before.size());
    for (size_t i = 0; i < d_after.size() && i < d_before.size(); ++i) {
        CHECK(memcmp(&d_after[i], &d_before[i], sizeof(TradeDealRecord)) == 0);
    }
    TradeOrderRecord o = {};
    CHECK(engine_order(pending.order, &o) && o.type_time == kOrderTimeDay);
    OrderSendRecord next = market(u"EURUSD", kOrderTypeBuy, 0.1);
    CHECK(next.order > pending.order && next.order > sell.deal);

    // The DAY order lapses at midnight.
    clock_msc = (clock_msc / 86400000 + 1) * 86400000;
    engine_update(clock_msc);
    CHECK(engine_orders_total() == 0);
}

void test_schema_version_guards_the_file() {
    engine_close();
    sqlite3* db = nullptr;
    CHECK(sqlite3_open(database.c_str(), &db) == SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
    CHECK(sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int(s, 0) == 2);
    sqlite3_finalize(s);
    sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &s, nullptr);
    CHECK(sqlite3_step(s) == SQLITE_ROW &&
          strcmp((const char*)sqlite3_column_text(s, 0), "wal") == 0);
    sqlite3_finalize(s);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::string error;
    CHECK(!engine_open(database, &error));
    CHECK(error.find("newer") != std::string::npos);
}

constexpr int64_t kDay = 86400000;

void set_swap(const std::u16string& name, uint32_t mode, double swap_long, double swap_short) {
    SymbolInfoRecord& info = symbols[name].info;
    info.swap_mode = mode;
    info.swap_long = swap_long;
    info.swap_short = swap_short;
    info.swap_rollover3days = 3;  // Wednesday
}

// Moves the clock to `days` midnights later, one second past.
void pass_midnights(int days) {
    clock_msc = (clock_msc / kDay + days) * kDay + 1000;
    engine_update(clock_msc);
}

double position_swap(uint64_t ticket) {
    TradePositionRecord p = {};
    CHECK(engine_position(ticket, &p));
    return p.swap;
}

void test_each_swap_mode() {
    struct Case {
        const char* what;
        const char16_t* symbol;
        uint32_t type;
        double volume;
        uint32_t mode;
        double rate;  // swap_long for a buy, swap_short for a sell
        double day;   // one day's swap in USD
    };
    const Case cases[] = {
        // -28.4 points of 1 lot is 2840 JPY, converted at USDJPY's ask
        {"points", u"USDJPY", kOrderTypeSell, 1, kSymbolSwapModePoints, -28.4, -18.93},
        {"base currency", u"GBPUSD", kOrderTypeBuy, 2, kSymbolSwapModeCurrencySymbol, -4, -10},
        {"margin currency", u"XAUUSD", kOrderTypeBuy, 0.5, kSymbolSwapModeCurrencyMargin, -10, -5},
        {"deposit currency", u"EURUSD", kOrderTypeBuy, 2, kSymbolSwapModeCurrencyDeposit, 2.5, 5},
        // 5% a year of 5000 USD at the current bid, over 360 days
        {"interest on the current price", u"US500", kOrderTypeBuy, 1,
         kSymbolSwapModeInterestCurrent, -5, -0.69},
        // 3% a year of 100 oz at the opening ask of 2000.50
        {"interest on the opening price", u"XAUUSD", kOrderTypeSell, 1, kSymbolSwapModeInterestOpen,
         -3, -16.67},
        {"disabled", u"EURUSD", kOrderTypeBuy, 1, kSymbolSwapModeDisabled, -6.9, 0},
    };
    for (const Case& c : cases) {
        // Each case opens on a Tuesday and crosses one midnight.
        clock_msc = 1700000000000 + (&c - cases) * 7 * kDay;
        set_swap(c.symbol, c.mode, c.rate, c.rate);
        OrderSendRecord open = market(c.symbol, c.type, c.volume);
        pass_midnights(1);
        double swap = position_swap(open.order);
        if (std::fabs(swap - c.day) > 1e-9) {
            fprintf(stderr, "%s: swap %.4f, expected %.4f\n", c.what, swap, c.day);
            ++failed_checks;
        }
        close(open.order, c.type == kOrderTypeBuy ? kOrderTypeSell : kOrderTypeBuy, c.volume);
    }
}

void test_rollovers_missed_while_closed_are_charged_once() {
    set_swap(u"EURUSD", kSymbolSwapModePoints, -6.9, 1.2);
    OrderSendRecord sell = market(u"EURUSD", kOrderTypeSell, 1);
    engine_close();
    clock_msc += 2 * kDay;  // Tuesday evening to Thursday evening: 1 + 3 days
    std::string error;
    CHECK(engine_open(database, &error));
    CHECK_NEAR(position_swap(sell.order), 4.8);
    reopen();
    engine_update(clock_msc);
    CHECK_NEAR(position_swap(sell.order), 4.8);
    // A clock set back charges nothing, and nothing twice when it returns.
    clock_msc -= 5 * kDay;
    engine_update(clock_msc);
    clock_msc += 5 * kDay;
    engine_update(clock_msc);
    CHECK_NEAR(position_swap(sell.order), 4.8);
    // Three weeks at once charge 21 days: 12 single rollovers, 3 triple.
    clock_msc += 21 * kDay;
    engine_update(clock_msc);
    CHECK_NEAR(position_swap(sell.order), 4.8 + 12 * 1.2 + 3 * 3.6);
}

// A database from before commissions: the demo accounts start paying them,
// and no swap is charged for the time before the upgrade.
void test_upgrade_adds_commissions() {
    set_swap(u"EURUSD", kSymbolSwapModePoints, -6.9, 1.2);
    OrderSendRecord buy = market(u"EURUSD", kOrderTypeBuy, 1);
    engine_close();
    sqlite3* db = nullptr;
    CHECK(sqlite3_open(database.c_str(), &db) == SQLITE_OK);
    const char* downgrade =
        "ALTER TABLE accounts DROP COLUMN commission; DELETE FROM settings"
        " WHERE key = 'rollover_day'; UPDATE positions SET swap = 0; PRAGMA user_version = 1;";
    CHECK(sqlite3_exec(db, downgrade, nullptr, nullptr, nullptr) == SQLITE_OK);
    sqlite3_close(db);
    clock_msc += 3 * kDay;
    std::string error;
    CHECK(engine_open(database, &error));
    CHECK_NEAR(position_swap(buy.order), 0);
    OrderSendRecord more = market(u"EURUSD", kOrderTypeBuy, 2);
    TradeDealRecord d = {};
    CHECK(engine_history_deal(more.deal, &d));
    CHECK_NEAR(d.commission, -7);
    pass_midnights(1);
    CHECK_NEAR(position_swap(buy.order), -6.9);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void test_position_list_follows_opens_and_closes() {
    uint64_t first = market(u"EURUSD", kOrderTypeBuy, 1).order;
    uint64_t second = market(u"EURUSD", kOrderTypeBuy, 1).order;
    CHECK(positions().size() == 2);
    // A close and an open in a row leave the count as it was.
    close(first, kOrderTypeSell, 1);
    uint64_t third = market(u"GBPUSD", kOrderTypeSell, 1).order;
    std::vector<TradePositionRecord> held = positions();
    CHECK(held.size() == 2 && held[0].ticket == second && held[1].ticket == third);
    std::vector<TradePositionRecord> gbp;
    engine_positions(u"GBPUSD", &gbp);
    CHECK(gbp.size() == 1 && gbp[0].ticket == third);
}

void test_many_positions() {
    const uint32_t count = 100000;
    auto start = std::chrono::steady_clock::now();
    std::string error;
    CHECK(engine_open_test_positions(count, &error));
    double opened = seconds_since(start);
    start = std::chrono::steady_clock::now();
    std::vector<TradePositionRecord> all = positions();
    double listed = seconds_since(start);
    start = std::chrono::steady_clock::now();
    engine_update(clock_msc);
    double updated = seconds_since(start);
    CHECK(all.size() == count);
    CHECK(account().margin_level >= 1000);
    start = std::chrono::steady_clock::now();
    reopen();
    double loaded = seconds_since(start);
    CHECK(engine_positions_total() == count);
    CHECK(engine_open_test_positions(count, &error) && engine_positions_total() == count);
    set_swap(u"EURUSD", kSymbolSwapModePoints, -6.9, 1.2);
    start = std::chrono::steady_clock::now();
    CHECK(engine_rollover(clock_msc + 3 * kDay) == 3);
    double rolled = seconds_since(start);
    printf(
        "  %u positions: opened in %.2f s, listed in %.3f s, one update %.3f s, "
        "reloaded in %.2f s, a rollover of three days %.3f s\n",
        count, opened, listed, updated, loaded, rolled);
    CHECK(opened < 20 && listed < 1);
}

// Counts SQLite's virtual machine steps and interrupts the statement once
// `limit` of them have run (never while the limit is 0).
int64_t vm_steps = 0;
int64_t vm_step_limit = 0;
int count_vm_steps(void*) {
    ++vm_steps;
    return vm_step_limit > 0 && vm_steps >= vm_step_limit ? 1 : 0;
}

void test_history_read_failing_midway_is_a_failure() {
    for (int i = 0; i < 20; ++i) {
        market(u"EURUSD", kOrderTypeBuy, 0.1);
    }
    std::vector<TradeDealRecord> whole;
    sqlite3_progress_handler(storage_handle(), 1, count_vm_steps, nullptr);
    CHECK(engine_history_deals(0, 2000000000, &whole) == kStatusOk);
    CHECK(whole.size() == 21);  // the deposit and the twenty buys
    // The same read again, interrupted halfway through its rows: SQLite has
    // handed out some of them when it fails.
    vm_step_limit = vm_steps / 2;
    vm_steps = 0;
    std::vector<TradeDealRecord> cut;
    CHECK(engine_history_deals(0, 2000000000, &cut) == kStatusCallFailed);
    std::vector<TradeOrderRecord> orders;
    vm_steps = 0;
    CHECK(engine_history_orders(0, 2000000000, &orders) == kStatusCallFailed);
    vm_step_limit = 1;  // a lookup of one row is short
    vm_steps = 0;
    TradeDealRecord one = {};
    CHECK(engine_history_deal(whole.back().ticket, &one) == kStatusCallFailed);
    sqlite3_progress_handler(storage_handle(), 0, nullptr, nullptr);
    vm_step_limit = 0;
    std::vector<TradeDealRecord> again;
    CHECK(engine_history_deals(0, 2000000000, &again) == kStatusOk && again.size() == 21);
    CHECK(engine_history_deal(whole.back().ticket, &one) == kStatusSuccess);
    CHECK(engine_history_deal(1, &one) == kStatusNotFound);
}

struct Test {
    const char* name;
    void (*run)();
};

const Test tests[] = {
    {"demo accounts and login", test_demo_accounts_and_login},
    {"margin and profit arithmetic", test_margin_and_profit_arithmetic},
    {"figures follow prices and hedging", test_figures_follow_prices_and_hedging},
    {"refusals change nothing", test_refusals_change_nothing},
    {"state survives reopen", test_state_survives_reopen},
    {"schema version guards the file", test_schema_version_guards_the_file},
    {"position list follows opens and closes", test_position_list_follows_opens_and_closes},
    {"each swap mode", test_each_swap_mode},
    {"rollovers missed while closed are charged once",
     test_rollovers_missed_while_closed_are_charged_once},
    {"upgrade adds commissions", test_upgrade_adds_commissions},
    {"many positions", test_many_positions},
    {"history read failing midway is a failure", test_history_read_failing_midway_is_a_failure},
};

}  // namespace

int main() {
    char folder[] = "/tmp/engine_test_XXXXXX";
    if (!mkdtemp(folder)) {
        perror("mkdtemp");
        return 2;
    }
    int passed = 0, failed = 0;
    for (const Test& test : tests) {
        reset_market();
        database = std::string(folder) + "/" + std::to_string(passed + failed) + ".dat";
        std::string error;
        if (!engine_open(database, &error)) {
            fprintf(stderr, "%s: cannot open: %s\n", test.name, error.c_str());
            ++failed;
            continue;
        }
        int before = failed_checks;
        test.run();
        engine_close();
        bool ok = failed_checks == before;
        printf("%s %s\n", ok ? "PASS" : "FAIL", test.name);
        ok ? ++passed : ++failed;
    }
    std::string cleanup = std::string("rm -rf ") + folder;
    if (system(cleanup.c_str()) != 0) {
        fprintf(stderr, "could not remove %s\n", folder);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
