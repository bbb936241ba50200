// history_orders_total, history_orders_get, history_deals_total,
// history_deals_get.
#include <cstring>

#include "api/positions_orders.h"
#include "api/record_query.h"
#include "module/args.h"
#include "module/errors.h"
#include "module/records.h"
#include "wire/commands.h"
#include "wire/history.h"
#include "wire/positions.h"

namespace {

PyObject* deal_object(const uint8_t* wire) {
    TradeDealRecord r;
    std::memcpy(&r, wire, sizeof r);
    RecordFiller filler = record_begin(kTradeDeal);
    record_put(filler, py_u64(r.ticket));
    record_put(filler, py_u64(r.order));
    record_put(filler, py_i64(r.time));
    record_put(filler, py_i64(r.time_msc));
    record_put(filler, py_u32(r.type));
    record_put(filler, py_u32(r.entry));
    record_put(filler, py_u64(r.magic));
    record_put(filler, py_u64(r.position_id));
    record_put(filler, py_u32(r.reason));
    record_put(filler, py_f64(r.volume));
    record_put(filler, py_f64(r.price));
    record_put(filler, py_f64(r.commission));
    record_put(filler, py_f64(r.swap));
    record_put(filler, py_f64(r.profit));
    record_put(filler, py_f64(r.fee));
    record_put(filler, text_field(r.symbol));
    record_put(filler, text_field(r.comment));
    record_put(filler, text_field(r.external_id));
    return record_end(filler);
}

// The commands and record of one of the two history _get functions.
struct HistoryKind {
    uint32_t total_command;
    uint32_t range_command;
    uint32_t position_command;
    uint32_t ticket_command;
    RecordKind record;
};

const HistoryKind kHistoryOrders = {
    kCmdHistoryOrdersTotal,
    kCmdHistoryOrdersGet,
    kCmdHistoryOrdersByPosition,
    kCmdHistoryOrderByTicket,
    {sizeof(TradeOrderRecord), kOrderSymbolOffset, order_object},
};

const HistoryKind kHistoryDeals = {
    kCmdHistoryDealsTotal,
    kCmdHistoryDealsGet,
    kCmdHistoryDealsByPosition,
    kCmdHistoryDealByTicket,
    {sizeof(TradeDealRecord), kDealSymbolOffset, deal_object},
};

// The two times of a range, each sign-extended to the wire's 64 bits.
struct TimeRange {
    int64_t from;
    int64_t to;
};

bool convert_range(PyObject* from_value, PyObject* to_value, TimeRange* range) {
    int32_t from = 0;
    int32_t to = 0;
    if (!convert_time_argument(from_value, &from) || !convert_time_argument(to_value, &to)) {
        return false;
    }
    range->from = from;
    range->to = to;
    return true;
}

PyObject* history_total(const HistoryKind& kind, PyObject* args) {
    reset_last_error();
    TimeRange range;
    if (PyTuple_GET_SIZE(args) != 2 ||
        !convert_range(PyTuple_GET_ITEM(args, 0), PyTuple_GET_ITEM(args, 1), &range)) {
        return refuse_arguments("Invalid arguments");
    }
    RequestField request[] = {request_bytes(&range.from, 8), request_bytes(&range.to, 8)};
    return query_total(kind.total_command, request, 2);
}

// Two positional times (with an optional group) make the range form; without
// them the ticket keyword wins over position.
PyObject* history_get(const HistoryKind& kind, PyObject* args, PyObject* kwargs) {
    reset_last_error();
    Py_ssize_t positional = args != nullptr ? PyTuple_GET_SIZE(args) : 0;
    if (positional == 2) {
        TimeRange range;
        if (!convert_range(PyTuple_GET_ITEM(args, 0), PyTuple_GET_ITEM(args, 1), &range)) {
            return refuse_arguments("Invalid arguments");
        }
        PyObject* group_value = keyword_value(kwargs, "group");
        char16_t group[kGroupUnits];
        if (group_value != nullptr && !convert_string_argument(group_value, group, kGroupUnits)) {
            return refuse_arguments("Invalid \"group\" argument");
        }
        RequestField request[] = {request_bytes(&range.from, 8), request_bytes(&range.to, 8)};
        return query_records(kind.range_command, request, 2, kind.record,
                             group_value != nullptr ? group : nullptr);
    }
    if (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) {
        return refuse_arguments("Invalid arguments");
    }
    PyObject* ticket_value = keyword_value(kwargs, "ticket");
    if (ticket_value != nullptr) {
        uint64_t ticket = 0;
        if (positional > 0) {
            return refuse_arguments("Unnamed arguments not allowed");
        }
        if (!convert_uint64_argument(ticket_value, &ticket)) {
            return refuse_arguments("Invalid \"ticket\" argument");
        }
        return query_ticket(kind.ticket_command, ticket, kind.record);
    }
    PyObject* position_value = keyword_value(kwargs, "position");
    if (position_value != nullptr) {
        uint64_t position = 0;
        if (positional > 0) {
            return refuse_arguments("Unnamed arguments not allowed");
        }
        if (!convert_uint64_argument(position_value, &position)) {
            return refuse_arguments("Invalid \"position\" argument");
        }
        RequestField request = request_bytes(&position, sizeof position);
        return query_records(kind.position_command, &request, 1, kind.record, nullptr);
    }
    return refuse_arguments("Invalid arguments");
}

}  // namespace

PyObject* history_orders_total(PyObject*, PyObject* args) {
    return history_total(kHistoryOrders, args);
}

PyObject* history_orders_get(PyObject*, PyObject* args, PyObject* kwargs) {
    return history_get(kHistoryOrders, args, kwargs);
}

PyObject* history_deals_total(PyObject*, PyObject* args) {
    return history_total(kHistoryDeals, args);
}

PyObject* history_deals_get(PyObject*, PyObject* args, PyObject* kwargs) {
    return history_get(kHistoryDeals, args, kwargs);
}
