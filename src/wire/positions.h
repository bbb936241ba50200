// Wire records of open positions and orders (history orders use the same
// order record). Packed, little-endian; text fields are UTF-16 units stored as bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct TradePositionRecord {
    uint64_t ticket;
    int64_t time;
    int64_t time_msc;
    int64_t time_update;
    int64_t time_update_msc;
    uint32_t type;
    uint64_t magic;
    uint64_t identifier;
    uint32_t reason;
    double volume;
    double price_open;
    double sl;
    double tp;
    double price_current;
    uint8_t reserved[8];
    double swap;
    double profit;
    uint8_t symbol[64];       // 32 units
    uint8_t comment[64];      // 32 units
    uint8_t external_id[64];  // 32 units
};

struct TradeOrderRecord {
    uint64_t ticket;
    int64_t time_setup;
    int64_t time_setup_msc;
    int64_t time_done;
    int64_t time_done_msc;
    int64_t time_expiration;
    uint32_t type;
    uint32_t type_time;
    uint32_t type_filling;
    uint32_t state;
    uint64_t magic;
    uint64_t position_id;
    uint64_t position_by_id;
    uint32_t reason;
    double volume_initial;
    double volume_current;
    double price_open;
    double sl;
    double tp;
    double price_current;
    double price_stoplimit;
    uint8_t symbol[64];       // 32 units
    uint8_t comment[64];      // 32 units
    uint8_t external_id[64];  // 32 units
};

#pragma pack(pop)

// Where the group filter finds the symbol of each record.
constexpr size_t kPositionSymbolOffset = 128;
constexpr size_t kOrderSymbolOffset = 148;

static_assert(sizeof(TradePositionRecord) == 320, "TradePositionRecord size");
static_assert(offsetof(TradePositionRecord, ticket) == 0, "");
static_assert(offsetof(TradePositionRecord, time) == 8, "");
static_assert(offsetof(TradePositionRecord, time_msc) == 16, "");
static_assert(offsetof(TradePositionRecord, time_update) == 24, "");
static_assert(offsetof(TradePositionRecord, time_update_msc) == 32, "");
static_assert(offsetof(TradePositionRecord, type) == 40, "");
static_assert(offsetof(TradePositionRecord, magic) == 44, "");
static_assert(offsetof(TradePositionRecord, identifier) == 52, "");
static_assert(offsetof(TradePositionRecord, reason) == 60, "");
static_assert(offsetof(TradePositionRecord, volume) == 64, "");
static_assert(offsetof(TradePositionRecord, price_open) == 72, "");
static_assert(offsetof(TradePositionRecord, sl) == 80, "");
static_assert(offsetof(TradePositionRecord, tp) == 88, "");
static_assert(offsetof(TradePositionRecord, price_current) == 96, "");
static_assert(offsetof(TradePositionRecord, reserved) == 104, "");
static_assert(offsetof(TradePositionRecord, swap) == 112, "");
static_assert(offsetof(TradePositionRecord, profit) == 120, "");
static_assert(offsetof(TradePositionRecord, symbol) == 128, "");
static_assert(offsetof(TradePositionRecord, comment) == 192, "");
static_assert(offsetof(TradePositionRecord, external_id) == 256, "");

static_assert(sizeof(TradeOrderRecord) == 340, "TradeOrderRecord size");
static_assert(offsetof(TradeOrderRecord, ticket) == 0, "");
static_assert(offsetof(TradeOrderRecord, time_setup) == 8, "");
static_assert(offsetof(TradeOrderRecord, time_setup_msc) == 16, "");
static_assert(offsetof(TradeOrderRecord, time_done) == 24, "");
static_assert(offsetof(TradeOrderRecord, time_done_msc) == 32, "");
static_assert(offsetof(TradeOrderRecord, time_expiration) == 40, "");
static_assert(offsetof(TradeOrderRecord, type) == 48, "");
static_assert(offsetof(TradeOrderRecord, type_time) == 52, "");
static_assert(offsetof(TradeOrderRecord, type_filling) == 56, "");
static_assert(offsetof(TradeOrderRecord, state) == 60, "");
static_assert(offsetof(TradeOrderRecord, magic) == 64, "");
static_assert(offsetof(TradeOrderRecord, position_id) == 72, "");
static_assert(offsetof(TradeOrderRecord, position_by_id) == 80, "");
static_assert(offsetof(TradeOrderRecord, reason) == 88, "");
static_assert(offsetof(TradeOrderRecord, volume_initial) == 92, "");
static_assert(offsetof(TradeOrderRecord, volume_current) == 100, "");
static_assert(offsetof(TradeOrderRecord, price_open) == 108, "");
static_assert(offsetof(TradeOrderRecord, sl) == 116, "");
static_assert(offsetof(TradeOrderRecord, tp) == 124, "");
static_assert(offsetof(TradeOrderRecord, price_current) == 132, "");
static_assert(offsetof(TradeOrderRecord, price_stoplimit) == 140, "");
static_assert(offsetof(TradeOrderRecord, symbol) == 148, "");
static_assert(offsetof(TradeOrderRecord, comment) == 212, "");
static_assert(offsetof(TradeOrderRecord, external_id) == 276, "");
