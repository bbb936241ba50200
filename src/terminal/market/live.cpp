// Latest prices: each symbol's newest tick and the figures of its trading day.
#include "terminal/market/live.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "terminal/market/calendar.h"
#include "terminal/market/clock.h"
#include "terminal/market/series.h"
#include "wire/enums.h"
#include "wire/fields.h"

// How far back the latest tick is searched (a long weekend and then some).
constexpr int kLookBackDays = 10;

static int64_t day_of(int64_t msc) {
    return floor_div(msc, 86400000);
}

static void start_day(LiveState* live, double previous_close, int64_t day) {
    double keep_close = previous_close;
    TickRecord tick = live->tick;
    std::memset(live, 0, sizeof(*live));
    live->started = true;
    live->tick = tick;
    live->previous_close = keep_close;
    live->day = day;
}

static void count_tick(LiveState* live, const TickRecord& tick) {
    // Values, not references: std::max and std::min must not bind to the
    // unaligned fields of a packed record.
    const double bid = tick.bid, ask = tick.ask, last = tick.last;
    const uint64_t volume = tick.volume;
    if (live->day_open == 0) {
        live->day_open = bid;
        live->bid_high = live->bid_low = bid;
        live->ask_high = live->ask_low = ask;
    }
    live->bid_high = std::max(live->bid_high, bid);
    live->bid_low = std::min(live->bid_low, bid);
    live->ask_high = std::max(live->ask_high, ask);
    live->ask_low = std::min(live->ask_low, ask);
    if (tick.flags & kTickFlagLast) {
        if (live->deals == 0) {
            live->last_high = live->last_low = last;
            live->volume_high = live->volume_low = volume;
        }
        live->last_high = std::max(live->last_high, last);
        live->last_low = std::min(live->last_low, last);
        live->volume_high = std::max(live->volume_high, volume);
        live->volume_low = std::min(live->volume_low, volume);
        live->deals += 1;
        live->volume_sum += tick.volume_real;
        live->turnover += tick.last * tick.volume_real;
        if (tick.flags & kTickFlagBuy) {
            live->buy_deals += 1;
            live->buy_volume += tick.volume_real;
        }
        if (tick.flags & kTickFlagSell) {
            live->sell_deals += 1;
            live->sell_volume += tick.volume_real;
        }
    }
    live->tick = tick;
}

static bool live_start(Symbol& symbol, int64_t now_msc) {
    LiveState* live = &symbol.live;
    TickRecord latest;
    if (!series_last_tick(symbol, now_msc, kLookBackDays, &latest)) {
        return false;
    }
    int64_t day = day_of(latest.time_msc);
    TickRecord before;
    double previous_close = 0;
    if (series_last_tick(symbol, day * 86400000 - 1, kLookBackDays, &before)) {
        previous_close = before.bid;
    }
    live->tick = latest;
    start_day(live, previous_close, day);
    std::vector<TickRecord> ticks;
    series_ticks(symbol, day * 86400000, latest.time_msc, now_msc, kCopyTicksAll, SIZE_MAX, &ticks);
    for (const TickRecord& tick : ticks) {
        count_tick(live, tick);
    }
    live->scanned_to_msc = std::max((int64_t)latest.time_msc, now_msc);
    return true;
}

bool live_refresh(Symbol& symbol, int64_t now_msc) {
    LiveState* live = &symbol.live;
    if (!live->started) {
        return live_start(symbol, now_msc);
    }
    if (now_msc <= live->scanned_to_msc) {
        return true;
    }
    std::vector<TickRecord> ticks;
    series_ticks(symbol, live->scanned_to_msc + 1, now_msc, now_msc, kCopyTicksAll, SIZE_MAX,
                 &ticks);
    for (const TickRecord& tick : ticks) {
        int64_t day = day_of(tick.time_msc);
        if (day != live->day) {
            start_day(live, live->tick.bid, day);
        }
        count_tick(live, tick);
    }
    live->scanned_to_msc = now_msc;
    return true;
}

bool live_force_price(Symbol& symbol, double bid, double ask, int64_t now_msc) {
    bool release = bid == 0 && ask == 0;
    if (!release && (!(bid > 0) || !(ask >= bid) || !std::isfinite(ask))) {
        return false;
    }
    if (!release) {
        bid = std::nearbyint(bid * symbol.model.scale) / symbol.model.scale;
        ask = std::nearbyint(ask * symbol.model.scale) / symbol.model.scale;
    }
    std::vector<PriceSet>& sets = symbol.sets;
    // Sets arrive in clock order; one in the same millisecond replaces the
    // previous so that the new price is in force at once.
    if (!sets.empty() && sets.back().time_msc >= now_msc) {
        sets.back().bid = bid;
        sets.back().ask = ask;
    } else {
        sets.push_back(PriceSet{now_msc, bid, ask});
    }
    symbol.live.started = false;  // the day's figures are counted again
    return live_refresh(symbol, now_msc) || release;
}

// Value of one currency in US dollars from the catalogue's own prices.
static double usd_rate(const uint8_t* currency_field, int64_t now_msc) {
    std::u16string currency = field_get(currency_field, 32);
    if (currency == u"USD") {
        return 1;
    }
    Symbol* direct = find_symbol((currency + u"USD").c_str());
    if (direct != nullptr && live_refresh(*direct, now_msc) && direct->live.tick.bid > 0) {
        return direct->live.tick.bid;
    }
    Symbol* inverse = find_symbol((u"USD" + currency).c_str());
    if (inverse != nullptr && live_refresh(*inverse, now_msc) && inverse->live.tick.bid > 0) {
        return 1 / inverse->live.tick.bid;
    }
    return 1;
}

void symbol_snapshot(Symbol& symbol, int64_t now_msc, SymbolInfoRecord* out) {
    *out = symbol.info;
    if (!live_refresh(symbol, now_msc)) {
        return;
    }
    const LiveState& live = symbol.live;
    const TickRecord& tick = live.tick;
    out->time = tick.time;
    out->bid = tick.bid;
    out->ask = tick.ask;
    out->last = tick.last;
    out->bidhigh = live.bid_high;
    out->bidlow = live.bid_low;
    out->askhigh = live.ask_high;
    out->asklow = live.ask_low;
    out->lasthigh = live.last_high;
    out->lastlow = live.last_low;
    out->volume = tick.volume;
    out->volume_real = tick.volume_real;
    out->volumehigh = live.volume_high;
    out->volumelow = live.volume_low;
    out->volumehigh_real = (double)live.volume_high;
    out->volumelow_real = (double)live.volume_low;
    out->spread = (int32_t)std::lround((tick.ask - tick.bid) * symbol.model.scale);
    out->session_deals = live.deals;
    out->session_buy_orders = live.buy_deals;
    out->session_sell_orders = live.sell_deals;
    out->session_volume = live.volume_sum;
    out->session_buy_orders_volume = live.buy_volume;
    out->session_sell_orders_volume = live.sell_volume;
    out->session_turnover = live.turnover * symbol.info.trade_contract_size;
    out->session_aw = live.volume_sum > 0 ? live.turnover / live.volume_sum : 0;
    out->session_open = live.day_open;
    out->session_close = live.previous_close;
    if (live.previous_close > 0) {
        out->price_change = (tick.bid - live.previous_close) / live.previous_close * 100;
    }
    if (live.bid_low > 0) {
        out->price_volatility = (live.bid_high - live.bid_low) / live.bid_low * 100;
    }
    // What one tick of price is worth per lot, in US dollars.
    double per_tick = symbol.info.trade_tick_size * symbol.info.trade_contract_size;
    double rate = usd_rate(symbol.info.currency_profit, now_msc);
    out->trade_tick_value = per_tick * rate;
    out->trade_tick_value_profit = per_tick * rate;
    out->trade_tick_value_loss = per_tick * rate;
}

void live_warm_up(int64_t budget_ms) {
    static size_t next = 0;
    std::vector<Symbol>& symbols = market_state().symbols;
    if (next >= symbols.size()) {
        return;  // every symbol has been started once; refreshes are cheap now
    }
    int64_t start = steady_now_ms();
    int64_t market_now = market_now_msc();
    for (; next < symbols.size(); next++) {
        if (steady_now_ms() - start >= budget_ms) {
            return;
        }
        live_refresh(symbols[next], market_now);
    }
}
