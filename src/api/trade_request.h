// The trade request dictionary of order_check and order_send and its wire
// record.
#pragma once

#include <Python.h>

#include "wire/trade.h"

// Fills `record` from a dict (or subclass), key by key in a fixed order; an
// absent key leaves its field zero and unknown keys are ignored. On a refusal
// records -2 with the message naming the first bad key and returns false,
// leaving no Python error pending.
bool parse_trade_request(PyObject* object, TradeRequestRecord* record);

// A new TradeRequest holding the record's 17 fields, or null.
PyObject* trade_request_object(const TradeRequestRecord& record);
