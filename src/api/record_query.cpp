// Exchanges that return counts and tuples of trade records.
#include "api/record_query.h"

#include <cstdlib>

#include "api/group_filter.h"
#include "api/wire_history.h"
#include "api/wire_positions.h"
#include "module/errors.h"

namespace {

// Room for every record fetched by ticket; the order record is the largest.
constexpr uint32_t kLargestTradeRecord = sizeof(TradeOrderRecord);
static_assert(sizeof(TradePositionRecord) <= kLargestTradeRecord, "");
static_assert(sizeof(TradeDealRecord) <= kLargestTradeRecord, "");

PyObject* empty_tuple() {
    PyObject* tuple = PyTuple_New(0);
    if (tuple == nullptr) {
        PyErr_Clear();
        return set_last_error(kStatusCallFailed, "Terminal: Call failed");
    }
    return tuple;
}

}  // namespace

PyObject* keyword_value(PyObject* kwargs, const char* name) {
    if (kwargs == nullptr) {
        return nullptr;
    }
    return PyDict_GetItemString(kwargs, name);
}

PyObject* refuse_arguments(const char* message) {
    PyErr_Clear();
    return set_last_error(kStatusInvalidParams, message);
}

PyObject* query_total(uint32_t command, const RequestField* request, size_t request_count) {
    uint32_t total = 0;
    ReplyField reply = reply_fixed(&total, sizeof total);
    int32_t status = client_call(command, request, request_count, &reply, 1);
    if (status < 0) {
        return set_last_error(status);
    }
    PyObject* result = py_u32(total);
    if (result == nullptr) {
        PyErr_Clear();
        return set_last_error(kStatusCallFailed, "Terminal: Call failed");
    }
    return result;
}

PyObject* query_records(uint32_t command, const RequestField* request, size_t request_count,
                        const RecordKind& kind, const char16_t* group) {
    void* storage = nullptr;
    uint32_t count = 0;
    ReplyField reply = reply_array(&storage, &count, kind.size);
    int32_t status = client_call(command, request, request_count, &reply, 1);
    if (status >= 0 && group != nullptr) {
        status = filter_by_group(group, &storage, &count, kind.size, kind.symbol_offset);
    }
    if (status < 0) {
        std::free(storage);
        return set_last_error(status);
    }
    PyObject* result = nullptr;
    if (count == 0) {
        result = PyTuple_New(0);
    } else if (storage != nullptr) {
        result =
            records_tuple(static_cast<const uint8_t*>(storage), count, kind.size, kind.convert);
    }
    std::free(storage);
    if (result == nullptr) {
        PyErr_Clear();
        return set_last_error(kStatusCallFailed, "Terminal: Call failed");
    }
    return result;
}

PyObject* query_ticket(uint32_t command, uint64_t ticket, const RecordKind& kind) {
    uint8_t record[kLargestTradeRecord];
    if (kind.size > sizeof record) {
        return set_last_error(kStatusCallFailed, "Terminal: Call failed");
    }
    RequestField request = request_bytes(&ticket, sizeof ticket);
    ReplyField reply = reply_fixed(record, kind.size);
    int32_t status = client_call(command, &request, 1, &reply, 1);
    if (status == kStatusNotFound || status == 0) {
        return empty_tuple();
    }
    if (status < 0) {
        return set_last_error(status);
    }
    PyObject* result = records_tuple(record, 1, kind.size, kind.convert);
    if (result == nullptr) {
        PyErr_Clear();
        return set_last_error(kStatusCallFailed, "Terminal: Call failed");
    }
    return result;
}
