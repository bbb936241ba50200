// Account trading: positions, orders, history, checks, sends and
// calculations, all answered by the engine.
#include <vector>

#include "link/commands.h"
#include "terminal/engine.h"
#include "terminal/market.h"
#include "terminal/protocol.h"
#include "terminal/terminal.h"

template <typename Record>
static void put_list(ReplyWriter& reply, const std::vector<Record>& records) {
    reply.u32((uint32_t)records.size());
    reply.put(records.data(), records.size() * sizeof(Record));
    reply.finish(kStatusOk);
}

template <typename Record>
static void put_one(ReplyWriter& reply, bool found, const Record& record) {
    if (!found) {
        reply.finish(kStatusNotFound);
        return;
    }
    reply.put(&record, sizeof(record));
    reply.finish(1);
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

static void open_trading(uint32_t command, RequestReader& in, ReplyWriter& reply) {
    char16_t symbol[32];
    uint64_t ticket = 0;
    if (command == kCmdPositionsTotal && plain(in, reply)) {
        put_total(reply, engine_positions_total());
    } else if (command == kCmdOrdersTotal && plain(in, reply)) {
        put_total(reply, engine_orders_total());
    } else if (command == kCmdPositionsGet && plain(in, reply)) {
        put_positions(reply, nullptr);
    } else if (command == kCmdPositionsBySymbol && symbol_text(in, reply, symbol)) {
        put_positions(reply, symbol);
    } else if (command == kCmdPositionByTicket && id(in, reply, &ticket)) {
        TradePositionRecord record = {};
        put_one(reply, engine_position(ticket, &record), record);
    } else if (command == kCmdOrdersGet && plain(in, reply)) {
        std::vector<TradeOrderRecord> list;
        engine_orders(nullptr, &list);
        put_list(reply, list);
    } else if (command == kCmdOrdersBySymbol && symbol_text(in, reply, symbol)) {
        std::vector<TradeOrderRecord> list;
        engine_orders(symbol, &list);
        put_list(reply, list);
    } else if (command == kCmdOrderByTicket && id(in, reply, &ticket)) {
        TradeOrderRecord record = {};
        put_one(reply, engine_order(ticket, &record), record);
    }
}

static void history(uint32_t command, RequestReader& in, ReplyWriter& reply) {
    int64_t from = 0, to = 0;
    uint64_t key = 0;
    std::vector<TradeOrderRecord> orders;
    std::vector<TradeDealRecord> deals;
    if (command == kCmdHistoryOrdersTotal && range(in, reply, &from, &to)) {
        engine_history_orders(from, to, &orders);
        put_total(reply, (uint32_t)orders.size());
    } else if (command == kCmdHistoryOrdersGet && range(in, reply, &from, &to)) {
        engine_history_orders(from, to, &orders);
        put_list(reply, orders);
    } else if (command == kCmdHistoryOrdersByPosition && id(in, reply, &key)) {
        engine_history_orders_by_position(key, &orders);
        put_list(reply, orders);
    } else if (command == kCmdHistoryOrderByTicket && id(in, reply, &key)) {
        TradeOrderRecord record = {};
        put_one(reply, engine_history_order(key, &record), record);
    } else if (command == kCmdHistoryDealsTotal && range(in, reply, &from, &to)) {
        engine_history_deals(from, to, &deals);
        put_total(reply, (uint32_t)deals.size());
    } else if (command == kCmdHistoryDealsGet && range(in, reply, &from, &to)) {
        engine_history_deals(from, to, &deals);
        put_list(reply, deals);
    } else if (command == kCmdHistoryDealsByPosition && id(in, reply, &key)) {
        engine_history_deals_by_position(key, &deals);
        put_list(reply, deals);
    } else if (command == kCmdHistoryDealByTicket && id(in, reply, &key)) {
        TradeDealRecord record = {};
        put_one(reply, engine_history_deal(key, &record), record);
    }
}

bool handle_trading_command(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply) {
    switch (command) {
        case kCmdPositionsTotal:
        case kCmdPositionsGet:
        case kCmdPositionsBySymbol:
        case kCmdPositionByTicket:
        case kCmdOrdersTotal:
        case kCmdOrdersGet:
        case kCmdOrdersBySymbol:
        case kCmdOrderByTicket:
            open_trading(command, in, reply);
            return true;
        case kCmdHistoryOrdersTotal:
        case kCmdHistoryOrdersGet:
        case kCmdHistoryOrdersByPosition:
        case kCmdHistoryOrderByTicket:
        case kCmdHistoryDealsTotal:
        case kCmdHistoryDealsGet:
        case kCmdHistoryDealsByPosition:
        case kCmdHistoryDealByTicket:
            history(command, in, reply);
            return true;
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
