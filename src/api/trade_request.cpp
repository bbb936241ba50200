// Parsing the trade request dictionary into its wire record, and back.
#include "api/trade_request.h"

#include <cstddef>
#include <cstring>

#include "module/args.h"
#include "module/errors.h"
#include "module/records.h"
#include "wire/text.h"

namespace {

enum FieldKind { kUnsigned32, kUnsigned64, kSigned64, kDouble, kText };

struct RequestKey {
    const char* key;
    FieldKind kind;
    size_t offset;
    const char* message;
};

#define REQUEST_KEY(name, kind) \
    { #name, kind, offsetof(TradeRequestRecord, name), "Invalid \"" #name "\" argument" }

// The order decides which message a request with several bad keys gets.
const RequestKey kRequestKeys[] = {
    REQUEST_KEY(action, kUnsigned32),
    REQUEST_KEY(magic, kUnsigned64),
    REQUEST_KEY(order, kUnsigned64),
    REQUEST_KEY(symbol, kText),
    REQUEST_KEY(volume, kDouble),
    REQUEST_KEY(price, kDouble),
    REQUEST_KEY(stoplimit, kDouble),
    REQUEST_KEY(sl, kDouble),
    REQUEST_KEY(tp, kDouble),
    REQUEST_KEY(deviation, kUnsigned64),
    REQUEST_KEY(type, kUnsigned32),
    REQUEST_KEY(type_filling, kUnsigned32),
    REQUEST_KEY(type_time, kUnsigned32),
    REQUEST_KEY(expiration, kSigned64),
    REQUEST_KEY(comment, kText),
    REQUEST_KEY(position, kUnsigned64),
    REQUEST_KEY(position_by, kUnsigned64),
};

#undef REQUEST_KEY

static_assert(sizeof(TradeRequestRecord::symbol) == kSymbolUnits * 2, "symbol field");
static_assert(sizeof(TradeRequestRecord::comment) == kCommentUnits * 2, "comment field");

// Converts one value by its field's rule and stores it at the field's offset.
bool store_field(PyObject* value, FieldKind kind, uint8_t* field) {
    switch (kind) {
        case kUnsigned32: {
            uint32_t number = 0;
            if (!convert_uint32_argument(value, &number)) {
                return false;
            }
            std::memcpy(field, &number, sizeof number);
            return true;
        }
        case kUnsigned64: {
            uint64_t number = 0;
            if (!convert_uint64_argument(value, &number)) {
                return false;
            }
            std::memcpy(field, &number, sizeof number);
            return true;
        }
        case kSigned64: {
            int64_t number = 0;
            if (!convert_int64_argument(value, &number)) {
                return false;
            }
            std::memcpy(field, &number, sizeof number);
            return true;
        }
        case kDouble: {
            double number = 0.0;
            if (!convert_float_argument(value, &number)) {
                return false;
            }
            std::memcpy(field, &number, sizeof number);
            return true;
        }
        case kText: {
            char16_t text[kSymbolUnits] = {};
            if (!convert_string_argument(value, text, kSymbolUnits)) {
                return false;
            }
            // Whatever follows an embedded NUL is not part of the text and
            // stays off the wire.
            size_t units = text_length(text);
            std::memset(text + units, 0, (kSymbolUnits - units) * sizeof text[0]);
            std::memcpy(field, text, sizeof text);
            return true;
        }
    }
    return false;
}

}  // namespace

bool parse_trade_request(PyObject* object, TradeRequestRecord* record) {
    if (object == nullptr || !PyDict_Check(object)) {
        record_last_error(kStatusInvalidParams, "Invalid arguments");
        return false;
    }
    std::memset(record, 0, sizeof *record);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(record);
    for (const RequestKey& key : kRequestKeys) {
        PyObject* value = PyDict_GetItemString(object, key.key);
        if (value == nullptr) {
            continue;
        }
        if (!store_field(value, key.kind, bytes + key.offset)) {
            PyErr_Clear();
            record_last_error(kStatusInvalidParams, key.message);
            return false;
        }
    }
    return true;
}

PyObject* trade_request_object(const TradeRequestRecord& record) {
    RecordFiller filler = record_begin(kTradeRequest);
    record_put(filler, py_u32(record.action));
    record_put(filler, py_u64(record.magic));
    record_put(filler, py_u64(record.order));
    record_put(filler, text_field(record.symbol));
    record_put(filler, py_f64(record.volume));
    record_put(filler, py_f64(record.price));
    record_put(filler, py_f64(record.stoplimit));
    record_put(filler, py_f64(record.sl));
    record_put(filler, py_f64(record.tp));
    record_put(filler, py_u64(record.deviation));
    record_put(filler, py_u32(record.type));
    record_put(filler, py_u32(record.type_filling));
    record_put(filler, py_u32(record.type_time));
    record_put(filler, py_i64(record.expiration));
    record_put(filler, text_field(record.comment));
    record_put(filler, py_u64(record.position));
    record_put(filler, py_u64(record.position_by));
    return record_end(filler);
}
