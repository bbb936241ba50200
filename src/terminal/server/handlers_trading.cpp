// Account trading: positions, orders, history, checks, sends and
// calculations, all answered by the engine.
#include <vector>

#include "terminal/engine/engine.h"
#include "terminal/market/market.h"
#include "terminal/server/config.h"
#include "terminal/server/handlers.h"
#include "terminal/server/session.h"
#include "wire/commands.h"
#include "wire/frames.h"
#include "wire/status.h"

template <typename Record>
static void put_list(ReplyWriter& reply, const std::vector<Record>& records) {
    reply.records(records.data(), records.size(), sizeof(Record));
    reply.finish(kStatusOk);
}

static void put_total(ReplyWriter& reply, uint32_t total) {
    reply.u32(total);
    reply.finish(kStatusOk);
}

// A history list, as its count or its records. A read that failed is
// answered as a failure, never as a shorter list.
template <typename Record>
static void put_history(ReplyWriter& reply, int32_t status, const std::vector<Record>& records,
                        bool count_only) {
    if (status != kStatusOk) {
        reply.finish(status);
    } else if (count_only) {
        put_total(reply, (uint32_t)records.size());
    } else {
        put_list(reply, records);
    }
}

// One record when `status` is kStatusSuccess; any other status carries none.
template <typename Record>
static void put_found(ReplyWriter& reply, int32_t status, const Record& record) {
    if (status == kStatusSuccess) {
        reply.put(&record, sizeof(record));
    }
    reply.finish(status);
}

template <typename Record>
static void put_one(ReplyWriter& reply, bool found, const Record& record) {
    put_found(reply, found ? kStatusSuccess : kStatusNotFound, record);
}

// Positions are made in the reply itself: 100,000 of them are 32 MB.
static void put_positions(ReplyWriter& reply, const char16_t* symbol) {
    // Nothing changes the positions between the count and the fill.
    uint32_t count = engine_positions_count(symbol);
    reply.expect(4 + (size_t)count * sizeof(TradePositionRecord));
    reply.u32(count);
    uint8_t* records = reply.reserve((size_t)count * sizeof(TradePositionRecord));
    engine_positions_fill(symbol, (TradePositionRecord*)records, count);
    reply.finish(kStatusOk);
}

void serve_trade_request(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    TradeRequestRecord request;
    in.take(&request, sizeof(request));
    if (!in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    if (command == kCmdOrderCheck) {
        OrderCheckRecord result = {};
        int32_t status = engine_order_check(request, &result);
        reply.put(&result, sizeof(result));
        reply.finish(status);
        return;
    }
    if (terminal_config().no_autotrading) {
        reply.finish(kStatusAutoTradingDisabled);
        return;
    }
    OrderSendRecord result = {};
    int32_t status = engine_order_send(request, &result);
    reply.put(&result, sizeof(result));
    reply.finish(status);
}

void serve_calculation(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    uint32_t action = in.u32();
    char16_t symbol[32];
    in.text(symbol, 32);
    double volume = in.f64();
    double price_open = in.f64();
    double price_close = command == kCmdOrderCalcProfit ? in.f64() : 0;
    if (!in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    double value = 0;
    int32_t status =
        command == kCmdOrderCalcMargin
            ? engine_calc_margin(action, symbol, volume, price_open, &value)
            : engine_calc_profit(action, symbol, volume, price_open, price_close, &value);
    reply.f64(value);
    reply.finish(status);
}

// Requests with no payload, one symbol, one id or one time range.
static bool plain(RequestReader& in, ReplyWriter& reply) {
    if (in.done()) {
        return true;
    }
    reply.finish(kStatusInvalidParams);
    return false;
}

static bool symbol_text(RequestReader& in, ReplyWriter& reply, char16_t* symbol) {
    if (in.text(symbol, 32) && in.done()) {
        return true;
    }
    reply.finish(kStatusInvalidParams);
    return false;
}

static bool id(RequestReader& in, ReplyWriter& reply, uint64_t* value) {
    *value = in.u64();
    return plain(in, reply);
}

static bool range(RequestReader& in, ReplyWriter& reply, int64_t* from, int64_t* to) {
    *from = in.i64();
    *to = in.i64();
    return plain(in, reply);
}

void serve_positions_total(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    if (plain(in, reply)) {
        put_total(reply, engine_positions_total());
    }
}

void serve_orders_total(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    if (plain(in, reply)) {
        put_total(reply, engine_orders_total());
    }
}

void serve_positions_get(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    char16_t symbol[32];
    if (command == kCmdPositionsBySymbol ? symbol_text(in, reply, symbol) : plain(in, reply)) {
        put_positions(reply, command == kCmdPositionsBySymbol ? symbol : nullptr);
    }
}

void serve_position_by_ticket(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    uint64_t ticket = 0;
    TradePositionRecord position = {};
    if (id(in, reply, &ticket)) {
        put_one(reply, engine_position(ticket, &position), position);
    }
}

void serve_orders_get(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    char16_t symbol[32];
    std::vector<TradeOrderRecord> orders;
    if (command == kCmdOrdersBySymbol ? symbol_text(in, reply, symbol) : plain(in, reply)) {
        engine_orders(command == kCmdOrdersBySymbol ? symbol : nullptr, &orders);
        put_list(reply, orders);
    }
}

void serve_order_by_ticket(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    uint64_t ticket = 0;
    TradeOrderRecord order = {};
    if (id(in, reply, &ticket)) {
        put_one(reply, engine_order(ticket, &order), order);
    }
}

// History by time range: the count alone, or the records.
void serve_history_orders_range(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    int64_t from = 0, to = 0;
    std::vector<TradeOrderRecord> orders;
    if (range(in, reply, &from, &to)) {
        put_history(reply, engine_history_orders(from, to, &orders), orders,
                    command == kCmdHistoryOrdersTotal);
    }
}

void serve_history_deals_range(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    int64_t from = 0, to = 0;
    std::vector<TradeDealRecord> deals;
    if (range(in, reply, &from, &to)) {
        put_history(reply, engine_history_deals(from, to, &deals), deals,
                    command == kCmdHistoryDealsTotal);
    }
}

void serve_history_orders_by_position(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    uint64_t position = 0;
    std::vector<TradeOrderRecord> orders;
    if (id(in, reply, &position)) {
        put_history(reply, engine_history_orders_by_position(position, &orders), orders, false);
    }
}

void serve_history_deals_by_position(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    uint64_t position = 0;
    std::vector<TradeDealRecord> deals;
    if (id(in, reply, &position)) {
        put_history(reply, engine_history_deals_by_position(position, &deals), deals, false);
    }
}

void serve_history_order_by_ticket(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    uint64_t ticket = 0;
    TradeOrderRecord order = {};
    if (id(in, reply, &ticket)) {
        put_found(reply, engine_history_order(ticket, &order), order);
    }
}

void serve_history_deal_by_ticket(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    uint64_t ticket = 0;
    TradeDealRecord deal = {};
    if (id(in, reply, &ticket)) {
        put_found(reply, engine_history_deal(ticket, &deal), deal);
    }
}
