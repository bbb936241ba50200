// Symbols, their prices, bars, ticks and depth of market.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "terminal/engine/engine.h"
#include "terminal/market/bars.h"
#include "terminal/market/calendar.h"
#include "terminal/market/catalogue.h"
#include "terminal/market/depth.h"
#include "terminal/market/live.h"
#include "terminal/market/market.h"
#include "terminal/market/series.h"
#include "terminal/server/config.h"
#include "terminal/server/handlers.h"
#include "terminal/server/session.h"
#include "wire/bars.h"
#include "wire/commands.h"
#include "wire/enums.h"
#include "wire/frames.h"
#include "wire/group_filter.h"
#include "wire/status.h"

// Most ticks one reply carries (300 MB), so that no request can take the
// terminal's memory; a request for more fails rather than being cut short.
constexpr size_t kMaxTicks = 5000000;
constexpr size_t kGroupUnits = 2000;

static bool old_build() {
    return terminal_config().build < kBuildSymbolsApi;
}

Symbol* known_symbol(const char16_t* name, bool well_formed, ReplyWriter& reply) {
    if (!well_formed) {
        reply.finish(kStatusInvalidParams);
        return nullptr;
    }
    Symbol* symbol = find_symbol(name);
    if (symbol == nullptr) {
        reply.finish(kStatusNotFound);
    }
    return symbol;
}

// Reads the symbol name a request starts with (with `only_field`, all it
// carries); replies and returns null when it is malformed or unknown.
static Symbol* symbol_argument(RequestReader& in, ReplyWriter& reply, bool only_field) {
    char16_t name[32];
    bool read = in.text(name, 32) && (!only_field || in.done());
    return known_symbol(name, read, reply);
}

void serve_symbol_info(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    Symbol* symbol = symbol_argument(in, reply, true);
    if (symbol == nullptr) {
        return;
    }
    SymbolInfoRecord record;
    symbol_snapshot(*symbol, market_now_msc(), &record);
    reply.put(&record, old_build() ? kSymbolInfoShortSize : sizeof(record));
    reply.finish(kStatusOk);
}

static bool has_trading(const char16_t* name) {
    if (engine_positions_count(name) > 0) {
        return true;
    }
    std::vector<TradeOrderRecord> orders;
    engine_orders(name, &orders);
    return !orders.empty();
}

void serve_symbol_select(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    char16_t name[32];
    in.text(name, 32);
    uint8_t enable = in.u8();
    Symbol* symbol = known_symbol(name, in.done(), reply);
    if (symbol == nullptr) {
        return;
    }
    // A symbol with open positions or orders stays in the market watch.
    if (!enable && has_trading(name)) {
        reply.finish(kStatusCallFailed);
        return;
    }
    symbol->info.select = enable ? 1 : 0;
    symbol->info.visible = enable ? 1 : 0;
    reply.finish(kStatusOk);
}

void serve_symbol_tick(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    Symbol* symbol = symbol_argument(in, reply, true);
    if (symbol == nullptr) {
        return;
    }
    if (!live_refresh(*symbol, market_now_msc())) {
        reply.finish(kStatusNotFound);
        return;
    }
    reply.put(&symbol->live.tick, sizeof(TickRecord));
    reply.finish(kStatusOk);
}

void serve_symbols_total(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    if (!in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    reply.u32((uint32_t)market_state().symbols.size());
    reply.finish(kStatusOk);
}

void serve_symbols_get(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    bool grouped = command == kCmdSymbolsGetGroup;
    static char16_t group[kGroupUnits];
    group[0] = 0;
    if ((grouped && !in.text(group, kGroupUnits)) || !in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    int64_t now = market_now_msc();
    std::vector<Symbol>& symbols = market_state().symbols;
    reply.expect(4 + symbols.size() * sizeof(SymbolInfoRecord));
    reply.u32(0);  // the count, known at the end
    uint32_t count = 0;
    for (Symbol& symbol : symbols) {
        if (grouped && !group_mask_match(group, symbol.name)) {
            continue;
        }
        // Made in the reply itself: a record is about 3 KB.
        uint8_t* record = reply.reserve(sizeof(SymbolInfoRecord));
        symbol_snapshot(symbol, now, (SymbolInfoRecord*)record);
        count++;
    }
    reply.patch_u32(12, count);
    reply.finish(kStatusOk);
}

void serve_depth_add(Session& session, uint32_t, RequestReader& in, ReplyWriter& reply) {
    Symbol* symbol = symbol_argument(in, reply, true);
    if (symbol == nullptr) {
        return;
    }
    session.depth_symbols.insert(symbol->name);
    reply.finish(kStatusOk);
}

void serve_depth_release(Session& session, uint32_t, RequestReader& in, ReplyWriter& reply) {
    Symbol* symbol = symbol_argument(in, reply, true);
    if (symbol == nullptr) {
        return;
    }
    reply.finish(session.depth_symbols.erase(symbol->name) ? kStatusOk : kStatusNotFound);
}

void serve_depth_get(Session& session, uint32_t, RequestReader& in, ReplyWriter& reply) {
    Symbol* symbol = symbol_argument(in, reply, true);
    if (symbol == nullptr) {
        return;
    }
    if (session.depth_symbols.count(symbol->name) == 0) {
        reply.finish(kStatusInvalidParams);  // market_book_add first
        return;
    }
    std::vector<BookInfoRecord> levels;
    depth_levels(*symbol, market_now_msc(), &levels);
    reply.records(levels.data(), levels.size(), sizeof(BookInfoRecord));
    reply.finish(kStatusOk);
}

static bool valid_tick_filter(int32_t which) {
    return which == kCopyTicksAll || which == kCopyTicksInfo || which == kCopyTicksTrade;
}

// Puts the count and up to `wanted` ticks of [from_msc, to_msc] into the
// reply, a day at a time, so that only the reply holds them all.
static int32_t ticks_into_reply(Symbol& symbol, int64_t from_msc, int64_t to_msc, int64_t now_msc,
                                int32_t which, size_t wanted, ReplyWriter& reply) {
    size_t count = 0;
    size_t limit = wanted < kMaxTicks + 1 ? wanted : kMaxTicks + 1;
    int64_t begin = std::max(from_msc, series_first_minute(symbol) * 60000);
    int64_t end = std::min(to_msc, now_msc);
    // Room for about as many ticks as the period holds, so that a large
    // reply does not grow by doubling, which would hold the old buffer and
    // one twice its size at once. Pages not written to cost nothing.
    if (begin <= end) {
        double minutes = (double)(end - begin) / 60000 + 1;
        double expected = minutes * (4 + symbol.model.tick_rate);
        reply.expect(4 + (size_t)std::min(expected, (double)limit) * sizeof(TickRecord));
    }
    reply.u32(0);  // the count, known at the end
    std::vector<TickRecord> part;
    while (begin <= end && count < limit) {
        int64_t day_end = (floor_div(begin, 86400000) + 1) * 86400000 - 1;
        part.clear();
        series_ticks(symbol, begin, std::min(end, day_end), now_msc, which, limit - count, &part);
        if (count + part.size() > kMaxTicks) {
            return kStatusNoMemory;
        }
        reply.put(part.data(), part.size() * sizeof(TickRecord));
        count += part.size();
        begin = day_end + 1;
    }
    reply.patch_u32(12, (uint32_t)count);
    return kStatusOk;
}

void serve_ticks_query(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    Symbol* symbol = symbol_argument(in, reply, false);
    if (symbol == nullptr) {
        return;
    }
    int64_t from = in.i64();
    int64_t to = 0;
    int32_t count = 0;
    if (command == kCmdTicksFrom) {
        count = in.i32();
    } else {
        to = in.i64();
    }
    int32_t which = in.i32();
    if (!in.done() || !valid_tick_filter(which) || count < 0) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    int64_t now = market_now_msc();
    if (command == kCmdTicksFrom) {
        to = now;
    }
    size_t wanted = command == kCmdTicksFrom ? (size_t)count : SIZE_MAX;
    reply.finish(ticks_into_reply(*symbol, from, to, now, which, wanted, reply));
}

void serve_rates_query(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    Symbol* symbol = symbol_argument(in, reply, false);
    if (symbol == nullptr) {
        return;
    }
    int32_t timeframe = in.i32();
    int64_t now = market_now_msc();
    int32_t status = kStatusInvalidParams;
    if (command == kCmdRatesFrom) {
        int64_t from = in.i64();
        int32_t count = in.i32();
        if (in.done()) {
            status = rates_from(*symbol, timeframe, from, count, now, reply);
        }
    } else if (command == kCmdRatesRange) {
        int64_t from = in.i64();
        int64_t to = in.i64();
        if (in.done()) {
            status = rates_range(*symbol, timeframe, from, to, now, reply);
        }
    } else {
        int32_t start = in.i32();
        int32_t count = in.i32();
        if (in.done()) {
            status = rates_from_pos(*symbol, timeframe, start, count, now, reply);
        }
    }
    reply.finish(status);
}
