// The instruments the terminal offers and their fixed descriptions.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "terminal/market/calendar.h"
#include "terminal/market/catalogue.h"
#include "terminal/market/clock.h"
#include "wire/enums.h"
#include "wire/fields.h"
#include "wire/text.h"

namespace {

enum Kind { kForex, kMetal, kIndex, kEnergy, kCrypto };

struct Instrument {
    const char* name;
    const char* group;  // path below the kind's folder
    const char* description;
    const char* base;
    const char* profit;
    Kind kind;
    uint32_t digits;
    double price;             // reference level; pairs and metals take theirs from kCurrencies
    double daily_volatility;  // relative, one standard deviation per day
    int32_t spread;           // points
    double contract_size;
    double volume_min, volume_max, volume_step;
    double swap_long, swap_short;
    uint32_t tick_rate;
    bool selected;  // in the market watch from the start
};

const Instrument kInstruments[] = {
    {"EURUSD", "Majors", "Euro vs US Dollar", "EUR", "USD", kForex, 5, 1.1200, 0.005, 10, 100000,
     0.01, 100, 0.01, -6.9, 1.2, 12, true},
    {"GBPUSD", "Majors", "Pound Sterling vs US Dollar", "GBP", "USD", kForex, 5, 1.2800, 0.006, 12,
     100000, 0.01, 100, 0.01, -4.5, -0.8, 12, true},
    {"USDJPY", "Majors", "US Dollar vs Japanese Yen", "USD", "JPY", kForex, 3, 145.00, 0.006, 11,
     100000, 0.01, 100, 0.01, 15.2, -28.4, 12, true},
    {"USDCHF", "Majors", "US Dollar vs Swiss Franc", "USD", "CHF", kForex, 5, 0.9000, 0.005, 13,
     100000, 0.01, 100, 0.01, 8.1, -15.3, 10, true},
    {"USDCAD", "Majors", "US Dollar vs Canadian Dollar", "USD", "CAD", kForex, 5, 1.3300, 0.005, 14,
     100000, 0.01, 100, 0.01, 2.3, -9.7, 10, true},
    {"AUDUSD", "Majors", "Australian Dollar vs US Dollar", "AUD", "USD", kForex, 5, 0.7000, 0.007,
     12, 100000, 0.01, 100, 0.01, -3.1, -1.9, 10, true},
    {"NZDUSD", "Majors", "New Zealand Dollar vs US Dollar", "NZD", "USD", kForex, 5, 0.6400, 0.007,
     16, 100000, 0.01, 100, 0.01, -2.2, -2.6, 8, false},
    {"EURGBP", "Crosses", "Euro vs Pound Sterling", "EUR", "GBP", kForex, 5, 0.8750, 0.004, 15,
     100000, 0.01, 100, 0.01, -5.6, 0.9, 8, false},
    {"EURJPY", "Crosses", "Euro vs Japanese Yen", "EUR", "JPY", kForex, 3, 162.40, 0.006, 18,
     100000, 0.01, 100, 0.01, 9.8, -21.0, 9, false},
    {"GBPJPY", "Crosses", "Pound Sterling vs Japanese Yen", "GBP", "JPY", kForex, 3, 185.60, 0.007,
     25, 100000, 0.01, 100, 0.01, 12.4, -26.7, 9, false},
    {"EURCHF", "Crosses", "Euro vs Swiss Franc", "EUR", "CHF", kForex, 5, 1.0080, 0.004, 18, 100000,
     0.01, 100, 0.01, -2.0, -3.5, 6, false},
    {"AUDJPY", "Crosses", "Australian Dollar vs Japanese Yen", "AUD", "JPY", kForex, 3, 101.50,
     0.008, 20, 100000, 0.01, 100, 0.01, 6.1, -14.2, 7, false},
    {"EURAUD", "Crosses", "Euro vs Australian Dollar", "EUR", "AUD", kForex, 5, 1.6000, 0.006, 25,
     100000, 0.01, 100, 0.01, -9.9, 2.1, 7, false},
    {"EURCAD", "Crosses", "Euro vs Canadian Dollar", "EUR", "CAD", kForex, 5, 1.4896, 0.005, 24,
     100000, 0.01, 100, 0.01, -7.3, 1.0, 6, false},
    {"GBPCHF", "Crosses", "Pound Sterling vs Swiss Franc", "GBP", "CHF", kForex, 5, 1.1520, 0.006,
     26, 100000, 0.01, 100, 0.01, 1.5, -8.8, 6, false},
    {"CADJPY", "Crosses", "Canadian Dollar vs Japanese Yen", "CAD", "JPY", kForex, 3, 109.02, 0.007,
     22, 100000, 0.01, 100, 0.01, 7.7, -16.1, 6, false},
    {"AUDNZD", "Crosses", "Australian Dollar vs New Zealand Dollar", "AUD", "NZD", kForex, 5,
     1.0938, 0.004, 28, 100000, 0.01, 100, 0.01, -4.0, -2.9, 5, false},
    {"CHFJPY", "Crosses", "Swiss Franc vs Japanese Yen", "CHF", "JPY", kForex, 3, 161.11, 0.006, 24,
     100000, 0.01, 100, 0.01, 4.4, -13.6, 6, false},
    {"GBPAUD", "Crosses", "Pound Sterling vs Australian Dollar", "GBP", "AUD", kForex, 5, 1.8286,
     0.007, 32, 100000, 0.01, 100, 0.01, -8.2, 0.4, 6, false},
    {"NZDJPY", "Crosses", "New Zealand Dollar vs Japanese Yen", "NZD", "JPY", kForex, 3, 92.80,
     0.008, 26, 100000, 0.01, 100, 0.01, 5.0, -12.9, 5, false},
    {"XAUUSD", "Spot", "Gold vs US Dollar", "XAU", "USD", kMetal, 2, 2250.00, 0.009, 25, 100, 0.01,
     50, 0.01, -35.6, 18.2, 14, true},
    {"XAGUSD", "Spot", "Silver vs US Dollar", "XAG", "USD", kMetal, 3, 26.000, 0.015, 30, 5000,
     0.01, 50, 0.01, -12.3, 4.1, 10, false},
    {"XPTUSD", "Spot", "Platinum vs US Dollar", "XPT", "USD", kMetal, 2, 950.00, 0.014, 150, 100,
     0.01, 20, 0.01, -20.1, 5.2, 6, false},
    {"XPDUSD", "Spot", "Palladium vs US Dollar", "XPD", "USD", kMetal, 2, 1300.00, 0.018, 250, 100,
     0.01, 20, 0.01, -22.5, 4.8, 5, false},
    {"US30", "US", "Dow Jones Industrial Average", "USD", "USD", kIndex, 1, 38000.0, 0.009, 20, 1,
     0.1, 100, 0.1, -8.5, 2.1, 14, false},
    {"US500", "US", "S&P 500 Index", "USD", "USD", kIndex, 2, 5000.00, 0.009, 50, 1, 0.1, 100, 0.1,
     -1.2, 0.3, 16, true},
    {"NAS100", "US", "Nasdaq 100 Index", "USD", "USD", kIndex, 2, 17000.00, 0.012, 150, 1, 0.1, 100,
     0.1, -4.4, 1.0, 16, false},
    {"GER40", "Europe", "Germany 40 Index", "EUR", "EUR", kIndex, 1, 16500.0, 0.010, 15, 1, 0.1,
     100, 0.1, -3.9, 0.8, 12, false},
    {"UK100", "Europe", "UK 100 Index", "GBP", "GBP", kIndex, 1, 7700.0, 0.008, 12, 1, 0.1, 100,
     0.1, -1.7, 0.2, 10, false},
    {"FRA40", "Europe", "France 40 Index", "EUR", "EUR", kIndex, 1, 7300.0, 0.009, 15, 1, 0.1, 100,
     0.1, -1.8, 0.3, 9, false},
    {"JP225", "Asia", "Japan 225 Index", "JPY", "JPY", kIndex, 0, 33000, 0.011, 10, 1, 1, 100, 1,
     -150, 20, 10, false},
    {"AUS200", "Asia", "Australia 200 Index", "AUD", "AUD", kIndex, 1, 7500.0, 0.008, 20, 1, 0.1,
     100, 0.1, -2.1, 0.4, 8, false},
    {"XTIUSD", "Oil", "WTI Crude Oil", "USD", "USD", kEnergy, 2, 75.00, 0.020, 4, 1000, 0.01, 50,
     0.01, -9.1, 3.3, 10, false},
    {"XBRUSD", "Oil", "Brent Crude Oil", "USD", "USD", kEnergy, 2, 80.00, 0.019, 4, 1000, 0.01, 50,
     0.01, -8.7, 3.0, 10, false},
    {"XNGUSD", "Gas", "Natural Gas", "USD", "USD", kEnergy, 3, 3.000, 0.035, 8, 10000, 0.01, 50,
     0.01, -4.6, 1.4, 8, false},
    {"BTCUSD", "Coins", "Bitcoin vs US Dollar", "BTC", "USD", kCrypto, 2, 60000.00, 0.030, 1500, 1,
     0.01, 10, 0.01, -25.0, -25.0, 14, true},
    {"ETHUSD", "Coins", "Ethereum vs US Dollar", "ETH", "USD", kCrypto, 2, 2800.00, 0.035, 150, 1,
     0.01, 50, 0.01, -25.0, -25.0, 12, false},
    {"LTCUSD", "Coins", "Litecoin vs US Dollar", "LTC", "USD", kCrypto, 2, 90.00, 0.040, 10, 1, 0.1,
     500, 0.1, -25.0, -25.0, 8, false},
    {"XRPUSD", "Coins", "Ripple vs US Dollar", "XRP", "USD", kCrypto, 5, 0.60000, 0.045, 60, 1, 10,
     100000, 10, -25.0, -25.0, 8, false},
    {"SOLUSD", "Coins", "Solana vs US Dollar", "SOL", "USD", kCrypto, 2, 100.00, 0.050, 12, 1, 0.1,
     1000, 0.1, -25.0, -25.0, 8, false},
    {"ADAUSD", "Coins", "Cardano vs US Dollar", "ADA", "USD", kCrypto, 5, 0.50000, 0.045, 50, 1, 10,
     100000, 10, -25.0, -25.0, 6, false},
    {"DOGEUSD", "Coins", "Dogecoin vs US Dollar", "DOGE", "USD", kCrypto, 5, 0.12000, 0.055, 12, 1,
     100, 1000000, 100, -25.0, -25.0, 6, false},
};

// Currencies and metals: the dollars one unit is worth at the reference
// level, and how each moves with the common factors. A pair is worth its
// base over its quote, so crosses follow from their legs.
struct Currency {
    const char* code;
    double dollars;
    double load[kFactorCount];  // in units of kCurrencyMove
};

// A relative daily move of a major currency against the others.
constexpr double kCurrencyMove = 0.0035;

// Dollar, Euro, Pound, Yen, Franc, Loonie, Aussie, Kiwi, Risk, Gold, Oil, Coins
const Currency kCurrencies[] = {
    {"USD", 1.0, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"EUR", 1.12, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"GBP", 1.28, {0, 0.6, 0.8, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"JPY", 1 / 145.0, {0, 0, 0, 1, 0, 0, 0, 0, -0.5, 0, 0, 0}},
    {"CHF", 1 / 0.90, {0, 0.7, 0, 0, 0.6, 0, 0, 0, -0.3, 0, 0, 0}},
    {"CAD", 1 / 1.33, {0, 0, 0, 0, 0, 0.7, 0, 0, 0.3, 0, 0.3, 0}},
    {"AUD", 0.70, {0, 0, 0, 0, 0, 0, 0.9, 0, 0.6, 0, 0, 0}},
    {"NZD", 0.64, {0, 0, 0, 0, 0, 0, 0.7, 0.5, 0.6, 0, 0, 0}},
    {"XAU", 2250, {0, 0, 0, 0, 0, 0, 0, 0, -0.3, 2.2, 0, 0}},
    {"XAG", 26, {0, 0, 0, 0, 0, 0, 0, 0, 0.8, 2.5, 0, 0}},
    {"XPT", 950, {0, 0, 0, 0, 0, 0, 0, 0, 1.0, 1.5, 0, 0}},
    {"XPD", 1300, {0, 0, 0, 0, 0, 0, 0, 0, 1.2, 1.0, 0, 0}},
};

const Currency* find_currency(const char* code) {
    for (const Currency& c : kCurrencies) {
        if (std::strcmp(c.code, code) == 0) {
            return &c;
        }
    }
    return nullptr;
}

// The reference level and the loadings of an instrument; what the factors
// leave of its volatility is its own. Currency pairs have nothing of their
// own, so that a cross is exactly the ratio of its legs.
void set_loadings(const Instrument& in, bool generated, PriceModel* model) {
    for (double& load : model->load) {
        load = 0;
    }
    model->base = in.price;
    double target = in.daily_volatility;
    const Currency* base = find_currency(in.base);
    const Currency* quote = find_currency(in.profit);
    if ((in.kind == kForex || in.kind == kMetal) && base != nullptr && quote != nullptr) {
        model->base = base->dollars / quote->dollars;
        for (int f = 0; f < kFactorCount; f++) {
            model->load[f] = (base->load[f] - quote->load[f]) * kCurrencyMove;
        }
        target = in.kind == kForex ? 0 : target;
    } else if (in.kind == kIndex) {
        model->load[kFactorRisk] = 0.75 * target;
        model->load[kFactorYen] = std::strcmp(in.profit, "JPY") == 0 ? -0.3 * target : 0;
    } else if (in.kind == kEnergy) {
        model->load[kFactorOil] = 0.8 * target;
        model->load[kFactorRisk] = 0.2 * target;
    } else if (in.kind == kCrypto) {
        model->load[kFactorCoins] = 0.7 * target;
        model->load[kFactorRisk] = 0.25 * target;
    }
    double shared = 0;
    for (double load : model->load) {
        shared += load * load;
    }
    double own = target * target - shared;
    model->own = own > 0 ? std::sqrt(own) : 0;
    if (generated) {
        // A copy of an instrument under another name still goes its own way.
        model->own += 0.3 * std::sqrt(shared + model->own * model->own);
    }
    model->daily_sigma = std::sqrt(shared + model->own * model->own);
}

const char* kind_folder(Kind kind) {
    switch (kind) {
        case kForex:
            return "Forex";
        case kMetal:
            return "Metals";
        case kIndex:
            return "Indices";
        case kEnergy:
            return "Energies";
        case kCrypto:
            return "Crypto";
    }
    return "Other";
}

uint8_t kind_schedule(Kind kind) {
    switch (kind) {
        case kCrypto:
            return kScheduleAlways;
        case kIndex:
            return kScheduleDaytime;
        default:
            return kScheduleWeekdays;
    }
}

uint64_t name_key(uint64_t seed, const char* name) {
    uint64_t key = mix64(seed);
    for (const char* c = name; *c != 0; c++) {
        key = mix64(key ^ (uint8_t)*c);
    }
    return key;
}

void describe(const Instrument& in, const char* name, const char* folder, uint64_t seed,
              bool generated, Symbol* symbol) {
    utf8_to_utf16(name, symbol->name, 32);
    SymbolInfoRecord& r = symbol->info;
    std::memset(&r, 0, sizeof(r));
    r.chart_mode = kSymbolChartModeBid;
    r.select = in.selected;
    r.visible = in.selected;
    r.digits = in.digits;
    r.spread = in.spread;
    r.spread_float = 1;
    r.ticks_bookdepth = 10;
    r.trade_calc_mode = in.kind == kForex ? kSymbolCalcModeForex : kSymbolCalcModeCfdLeverage;
    r.trade_mode = kSymbolTradeModeFull;
    r.trade_exemode = kSymbolExecutionMarket;
    // Crypto brokers charge a yearly interest on the position's value; the
    // others a number of points per lot.
    r.swap_mode = in.kind == kCrypto ? kSymbolSwapModeInterestCurrent : kSymbolSwapModePoints;
    r.swap_rollover3days = 3;  // Wednesday
    r.expiration_mode = kSymbolExpirationGtc | kSymbolExpirationDay | kSymbolExpirationSpecified |
                        kSymbolExpirationSpecifiedDay;
    r.filling_mode = kSymbolFillingFok | kSymbolFillingIoc;
    r.order_mode = kSymbolOrderMarket | kSymbolOrderLimit | kSymbolOrderStop |
                   kSymbolOrderStopLimit | kSymbolOrderSl | kSymbolOrderTp | kSymbolOrderCloseBy;
    r.point = 1.0 / std::pow(10.0, in.digits);
    r.trade_tick_size = r.point;
    r.trade_contract_size = in.contract_size;
    r.volume_min = in.volume_min;
    r.volume_max = in.volume_max;
    r.volume_step = in.volume_step;
    r.swap_long = in.swap_long;
    r.swap_short = in.swap_short;
    r.margin_hedged = in.contract_size / 2;
    r.trade_liquidity_rate = 0;
    FIELD_PUT_UTF8(r.category, in.group);
    FIELD_PUT_UTF8(r.currency_base, in.base);
    FIELD_PUT_UTF8(r.currency_profit, in.profit);
    FIELD_PUT_UTF8(r.currency_margin, in.kind == kForex ? in.base : in.profit);
    FIELD_PUT_UTF8(r.description, in.description);
    FIELD_PUT_UTF8(r.exchange, in.kind == kIndex ? "Quillmark CFD" : "");
    char path[128];
    std::snprintf(path, sizeof(path), "%s\\%s\\%s", folder, in.group, name);
    FIELD_PUT_UTF8(r.path, path);
    FIELD_PUT_UTF8(r.name, name);
    char page[160];
    std::snprintf(page, sizeof(page), "https://www.quillmark.example/symbols/%s", name);
    FIELD_PUT_UTF8(r.page, page);

    PriceModel& model = symbol->model;
    model.key = name_key(seed, name);
    model.factor_seed = mix64(seed ^ 0x5851F42D4C957F2Dull);
    for (int f = 0; f < kFactorCount; f++) {
        model.factor_key[f] = mix64(model.factor_seed + (uint64_t)f);
    }
    set_loadings(in, generated, &model);
    model.scale = std::pow(10.0, in.digits);
    model.spread = in.spread;
    model.tick_rate = in.tick_rate;
    model.schedule = kind_schedule(in.kind);
    model.trades = in.kind == kIndex || in.kind == kCrypto || in.kind == kEnergy;
}

}  // namespace

Market& market_state() {
    static Market state;
    return state;
}

Symbol* find_symbol(const char16_t* name) {
    Market& m = market_state();
    if (name == nullptr) {
        return nullptr;
    }
    auto found = m.index.find(std::u16string(name));
    return found == m.index.end() ? nullptr : &m.symbols[found->second];
}

void catalogue_build(uint64_t seed, uint32_t total, uint32_t history_days) {
    Market& m = market_state();
    size_t listed = sizeof(kInstruments) / sizeof(kInstruments[0]);
    size_t count = total > listed ? total : listed;
    m.symbols.clear();
    m.symbols.resize(count);
    for (size_t i = 0; i < count; i++) {
        if (i < listed) {
            const Instrument& in = kInstruments[i];
            describe(in, in.name, kind_folder(in.kind), seed, false, &m.symbols[i]);
            continue;
        }
        // Generated symbols copy a listed instrument under a new name, so
        // that every field stays as plausible as the original's.
        const Instrument& model = kInstruments[i % listed];
        char name[32];
        std::snprintf(name, sizeof(name), "SYN%05zu", i - listed + 1);
        Instrument copy = model;
        copy.group = "Generated";
        copy.selected = false;
        // Quieter than the originals: thousands of them must stay cheap.
        copy.tick_rate = copy.tick_rate / 4 > 1 ? copy.tick_rate / 4 : 1;
        describe(copy, name, "Synthetic", seed, true, &m.symbols[i]);
    }
    m.index.clear();
    for (size_t i = 0; i < count; i++) {
        m.index[std::u16string(m.symbols[i].name)] = i;
    }
    int64_t now_minute = market_now_msc() / 60000;
    int64_t since_2010 = days_from_civil(2010, 1, 1);
    m.history_start_minute =
        history_days == 0 ? since_2010 * 1440 : (now_minute / 1440 - (int64_t)history_days) * 1440;
}
