// Account trading: positions, orders, history, checks, sends and
// calculations, all answered by the engine.
#include <vector>

#include "wire/commands.h"
#include "terminal/engine.h"
#include "terminal/market.h"
#include "wire/frames.h"
#include "terminal/terminal.h"

template <typename Record>
static void put_list(ReplyWriter& reply, const std::vector<Record>& records) {
    reply.records(records.data(), records.size(), sizeof(Record));
    reply.finish(kStatusOk);
}

// A history read that failed is answered as a failure, never as a shorter list.
template <typename Record>
static void put_history(ReplyWriter& reply, int32_t status, const std::vector<Record>& records) {
    if (status != kStatusOk) {
        reply.finish(status);
        return;
    }
    put_list(reply, records);
}

template <typename Record>
static void put_history_total(ReplyWriter& reply, int32_t status,
                              const std::vector<Record>& records) {
    if (status != kStatusOk) {
        reply.finish(status);
        return;
    }
    reply.u32((uint32_t)records.size());
    reply.finish(kStatusOk);
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

static void put_total(ReplyWriter& reply, uint32_t total) {
    reply.u32(total);
    reply.finish(kStatusOk);
}

static void trade_request(uint32_t command, RequestReader& in, ReplyWriter& reply) {
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

static void calculation(uint32_t command, RequestReader& in, ReplyWriter& reply) {
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

// Open positions and pending orders; false when the command is not one of them.
static bool open_trading(uint32_t command, RequestReader& in, ReplyWriter& reply) {
    char16_t symbol[32];
    uint64_t ticket = 0;
    TradePositionRecord position = {};
    TradeOrderRecord order = {};
    std::vector<TradeOrderRecord> orders;
    switch (command) {
        case kCmdPositionsTotal:
            if (plain(in, reply)) {
                put_total(reply, engine_positions_total());
            }
            return true;
        case kCmdOrdersTotal:
            if (plain(in, reply)) {
                put_total(reply, engine_orders_total());
            }
            return true;
        case kCmdPositionsGet:
            if (plain(in, reply)) {
                put_positions(reply, nullptr);
            }
            return true;
        case kCmdPositionsBySymbol:
            if (symbol_text(in, reply, symbol)) {
                put_positions(reply, symbol);
            }
            return true;
        case kCmdPositionByTicket:
            if (id(in, reply, &ticket)) {
                put_one(reply, engine_position(ticket, &position), position);
            }
            return true;
        case kCmdOrdersGet:
            if (plain(in, reply)) {
                engine_orders(nullptr, &orders);
                put_list(reply, orders);
            }
            return true;
        case kCmdOrdersBySymbol:
            if (symbol_text(in, reply, symbol)) {
                engine_orders(symbol, &orders);
                put_list(reply, orders);
            }
            return true;
        case kCmdOrderByTicket:
            if (id(in, reply, &ticket)) {
                put_one(reply, engine_order(ticket, &order), order);
            }
            return true;
        default:
            return false;
    }
}

// History orders and deals; false when the command is not one of them.
static bool history(uint32_t command, RequestReader& in, ReplyWriter& reply) {
    int64_t from = 0, to = 0;
    uint64_t key = 0;
    TradeOrderRecord order = {};
    TradeDealRecord deal = {};
    std::vector<TradeOrderRecord> orders;
    std::vector<TradeDealRecord> deals;
    switch (command) {
        case kCmdHistoryOrdersTotal:
            if (range(in, reply, &from, &to)) {
                put_history_total(reply, engine_history_orders(from, to, &orders), orders);
            }
            return true;
        case kCmdHistoryOrdersGet:
            if (range(in, reply, &from, &to)) {
                put_history(reply, engine_history_orders(from, to, &orders), orders);
            }
            return true;
        case kCmdHistoryOrdersByPosition:
            if (id(in, reply, &key)) {
                put_history(reply, engine_history_orders_by_position(key, &orders), orders);
            }
            return true;
        case kCmdHistoryOrderByTicket:
            if (id(in, reply, &key)) {
                put_found(reply, engine_history_order(key, &order), order);
            }
            return true;
        case kCmdHistoryDealsTotal:
            if (range(in, reply, &from, &to)) {
                put_history_total(reply, engine_history_deals(from, to, &deals), deals);
            }
            return true;
        case kCmdHistoryDealsGet:
            if (range(in, reply, &from, &to)) {
                put_history(reply, engine_history_deals(from, to, &deals), deals);
            }
            return true;
        case kCmdHistoryDealsByPosition:
            if (id(in, reply, &key)) {
                put_history(reply, engine_history_deals_by_position(key, &deals), deals);
            }
            return true;
        case kCmdHistoryDealByTicket:
            if (id(in, reply, &key)) {
                put_found(reply, engine_history_deal(key, &deal), deal);
            }
            return true;
        default:
            return false;
    }
}

bool handle_trading_command(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    if (open_trading(command, in, reply) || history(command, in, reply)) {
        return true;
    }
    switch (command) {
        case kCmdOrderCheck:
        case kCmdOrderSend:
            trade_request(command, in, reply);
            return true;
        case kCmdOrderCalcMargin:
        case kCmdOrderCalcProfit:
            calculation(command, in, reply);
            return true;
        default:
            return false;
    }
}
