// Converters of the open position and order records; history orders share
// the order record.
#pragma once

#include <Python.h>
#include <cstdint>

// A new TradePosition / TradeOrder from one wire record, or null.
PyObject* position_object(const uint8_t* wire);
PyObject* order_object(const uint8_t* wire);
