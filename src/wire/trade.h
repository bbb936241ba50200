// Wire records of trading: the request and the two results. Packed,
// little-endian; text fields are UTF-16 units stored as bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct TradeRequestRecord {
    uint32_t action;
    uint64_t magic;
    uint64_t order;
    uint8_t symbol[64];  // 32 units
    double volume;
    double price;
    double stoplimit;
    double sl;
    double tp;
    uint64_t deviation;
    uint32_t type;
    uint32_t type_filling;
    uint32_t type_time;
    int64_t expiration;
    uint8_t comment[64];  // 32 units
    uint64_t position;
    uint64_t position_by;
};

struct OrderCheckRecord {
    uint32_t retcode;
    double balance;
    double equity;
    double profit;
    double margin;
    double margin_free;
    double margin_level;
    uint8_t comment[200];  // 100 units
};

struct OrderSendRecord {
    uint32_t retcode;
    uint64_t deal;
    uint64_t order;
    double volume;
    double price;
    double bid;
    double ask;
    uint8_t comment[200];  // 100 units
    uint32_t request_id;
    int32_t retcode_external;
};

#pragma pack(pop)

static_assert(sizeof(TradeRequestRecord) == 232, "TradeRequestRecord size");
static_assert(offsetof(TradeRequestRecord, action) == 0, "");
static_assert(offsetof(TradeRequestRecord, magic) == 4, "");
static_assert(offsetof(TradeRequestRecord, order) == 12, "");
static_assert(offsetof(TradeRequestRecord, symbol) == 20, "");
static_assert(offsetof(TradeRequestRecord, volume) == 84, "");
static_assert(offsetof(TradeRequestRecord, price) == 92, "");
static_assert(offsetof(TradeRequestRecord, stoplimit) == 100, "");
static_assert(offsetof(TradeRequestRecord, sl) == 108, "");
static_assert(offsetof(TradeRequestRecord, tp) == 116, "");
static_assert(offsetof(TradeRequestRecord, deviation) == 124, "");
static_assert(offsetof(TradeRequestRecord, type) == 132, "");
static_assert(offsetof(TradeRequestRecord, type_filling) == 136, "");
static_assert(offsetof(TradeRequestRecord, type_time) == 140, "");
static_assert(offsetof(TradeRequestRecord, expiration) == 144, "");
static_assert(offsetof(TradeRequestRecord, comment) == 152, "");
static_assert(offsetof(TradeRequestRecord, position) == 216, "");
static_assert(offsetof(TradeRequestRecord, position_by) == 224, "");

static_assert(sizeof(OrderCheckRecord) == 252, "OrderCheckRecord size");
static_assert(offsetof(OrderCheckRecord, retcode) == 0, "");
static_assert(offsetof(OrderCheckRecord, balance) == 4, "");
static_assert(offsetof(OrderCheckRecord, equity) == 12, "");
static_assert(offsetof(OrderCheckRecord, profit) == 20, "");
static_assert(offsetof(OrderCheckRecord, margin) == 28, "");
static_assert(offsetof(OrderCheckRecord, margin_free) == 36, "");
static_assert(offsetof(OrderCheckRecord, margin_level) == 44, "");
static_assert(offsetof(OrderCheckRecord, comment) == 52, "");

static_assert(sizeof(OrderSendRecord) == 260, "OrderSendRecord size");
static_assert(offsetof(OrderSendRecord, retcode) == 0, "");
static_assert(offsetof(OrderSendRecord, deal) == 4, "");
static_assert(offsetof(OrderSendRecord, order) == 12, "");
static_assert(offsetof(OrderSendRecord, volume) == 20, "");
static_assert(offsetof(OrderSendRecord, price) == 28, "");
static_assert(offsetof(OrderSendRecord, bid) == 36, "");
static_assert(offsetof(OrderSendRecord, ask) == 44, "");
static_assert(offsetof(OrderSendRecord, comment) == 52, "");
static_assert(offsetof(OrderSendRecord, request_id) == 252, "");
static_assert(offsetof(OrderSendRecord, retcode_external) == 256, "");
