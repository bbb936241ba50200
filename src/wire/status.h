// The status codes of the whole system: what the terminal answers, what the
// link reports and what last_error() shows (the module's error table gives
// their texts).
#pragma once

#include <cstdint>

enum : int32_t {
    kStatusOk = 0,  // a terminal reply's plain success
    kStatusSuccess = 1,
    kStatusCallFailed = -1,
    kStatusInvalidParams = -2,
    kStatusNoMemory = -3,
    kStatusNotFound = -4,
    kStatusIncompatible = -5,
    kStatusAuthFailed = -6,
    kStatusUnsupported = -7,
    kStatusAutoTradingDisabled = -8,
    kStatusIpcCallFailed = -10000,
    kStatusIpcSendFailed = -10001,
    kStatusIpcRecvFailed = -10002,
    kStatusIpcInitFailed = -10003,
    kStatusNoIpcConnection = -10004,
    kStatusIpcTimeout = -10005,
};
