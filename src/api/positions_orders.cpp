// positions_total, positions_get, orders_total, orders_get.
#include "api/positions_orders.h"

#include <cstring>

#include "api/record_query.h"
#include "module/args.h"
#include "module/errors.h"
#include "module/records.h"
#include "wire/commands.h"
#include "wire/positions.h"

namespace {

// The commands and record of one of the two _get functions.
struct TradeListKind {
    uint32_t all_command;
    uint32_t symbol_command;
    uint32_t ticket_command;
    RecordKind record;
};

const TradeListKind kPositions = {
    kCmdPositionsGet,
    kCmdPositionsBySymbol,
    kCmdPositionByTicket,
    {sizeof(TradePositionRecord), kPositionSymbolOffset, position_object},
};

const TradeListKind kOrders = {
    kCmdOrdersGet,
    kCmdOrdersBySymbol,
    kCmdOrderByTicket,
    {sizeof(TradeOrderRecord), kOrderSymbolOffset, order_object},
};

// Keywords only; the first of ticket, symbol and group decides the form and
// the others are not looked at.
PyObject* trade_list_get(const TradeListKind& kind, PyObject* args, PyObject* kwargs) {
    reset_last_error();
    if (args != nullptr && PyTuple_GET_SIZE(args) > 0) {
        return refuse_arguments("Unnamed arguments not allowed");
    }
    PyObject* ticket_value = keyword_value(kwargs, "ticket");
    if (ticket_value != nullptr) {
        uint64_t ticket = 0;
        if (!convert_uint64_argument(ticket_value, &ticket)) {
            return refuse_arguments("Invalid \"ticket\" argument");
        }
        return query_ticket(kind.ticket_command, ticket, kind.record);
    }
    PyObject* symbol_value = keyword_value(kwargs, "symbol");
    if (symbol_value != nullptr) {
        char16_t symbol[kSymbolUnits];
        if (!convert_string_argument(symbol_value, symbol, kSymbolUnits)) {
            return refuse_arguments("Invalid \"symbol\" argument");
        }
        RequestField request = request_text(symbol);
        return query_records(kind.symbol_command, &request, 1, kind.record, nullptr);
    }
    PyObject* group_value = keyword_value(kwargs, "group");
    if (group_value != nullptr) {
        char16_t group[kGroupUnits];
        if (!convert_string_argument(group_value, group, kGroupUnits)) {
            return refuse_arguments("Invalid \"group\" argument");
        }
        return query_records(kind.all_command, nullptr, 0, kind.record, group);
    }
    return query_records(kind.all_command, nullptr, 0, kind.record, nullptr);
}

}  // namespace

PyObject* position_object(const uint8_t* wire) {
    TradePositionRecord r;
    std::memcpy(&r, wire, sizeof r);
    RecordFiller filler = record_begin(kTradePosition);
    record_put(filler, py_u64(r.ticket));
    record_put(filler, py_i64(r.time));
    record_put(filler, py_i64(r.time_msc));
    record_put(filler, py_i64(r.time_update));
    record_put(filler, py_i64(r.time_update_msc));
    record_put(filler, py_u32(r.type));
    record_put(filler, py_u64(r.magic));
    record_put(filler, py_u64(r.identifier));
    record_put(filler, py_u32(r.reason));
    record_put(filler, py_f64(r.volume));
    record_put(filler, py_f64(r.price_open));
    record_put(filler, py_f64(r.sl));
    record_put(filler, py_f64(r.tp));
    record_put(filler, py_f64(r.price_current));
    record_put(filler, py_f64(r.swap));
    record_put(filler, py_f64(r.profit));
    record_put(filler, text_field(r.symbol));
    record_put(filler, text_field(r.comment));
    record_put(filler, text_field(r.external_id));
    return record_end(filler);
}

PyObject* order_object(const uint8_t* wire) {
    TradeOrderRecord r;
    std::memcpy(&r, wire, sizeof r);
    RecordFiller filler = record_begin(kTradeOrder);
    record_put(filler, py_u64(r.ticket));
    record_put(filler, py_i64(r.time_setup));
    record_put(filler, py_i64(r.time_setup_msc));
    record_put(filler, py_i64(r.time_done));
    record_put(filler, py_i64(r.time_done_msc));
    record_put(filler, py_i64(r.time_expiration));
    record_put(filler, py_u32(r.type));
    record_put(filler, py_u32(r.type_time));
    record_put(filler, py_u32(r.type_filling));
    record_put(filler, py_u32(r.state));
    record_put(filler, py_u64(r.magic));
    record_put(filler, py_u64(r.position_id));
    record_put(filler, py_u64(r.position_by_id));
    record_put(filler, py_u32(r.reason));
    record_put(filler, py_f64(r.volume_initial));
    record_put(filler, py_f64(r.volume_current));
    record_put(filler, py_f64(r.price_open));
    record_put(filler, py_f64(r.sl));
    record_put(filler, py_f64(r.tp));
    record_put(filler, py_f64(r.price_current));
    record_put(filler, py_f64(r.price_stoplimit));
    record_put(filler, text_field(r.symbol));
    record_put(filler, text_field(r.comment));
    record_put(filler, text_field(r.external_id));
    return record_end(filler);
}

PyObject* positions_total(PyObject*, PyObject*) {
    reset_last_error();
    return query_total(kCmdPositionsTotal, nullptr, 0);
}

PyObject* positions_get(PyObject*, PyObject* args, PyObject* kwargs) {
    return trade_list_get(kPositions, args, kwargs);
}

PyObject* orders_total(PyObject*, PyObject*) {
    reset_last_error();
    return query_total(kCmdOrdersTotal, nullptr, 0);
}

PyObject* orders_get(PyObject*, PyObject* args, PyObject* kwargs) {
    return trade_list_get(kOrders, args, kwargs);
}
