// Wire record of one history deal. Packed, little-endian; text fields are
// UTF-16 units stored as bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct TradeDealRecord {
    uint64_t ticket;
    uint64_t order;
    int64_t time;
    int64_t time_msc;
    uint32_t type;
    uint32_t entry;
    uint64_t magic;
    uint64_t position_id;
    uint32_t reason;
    double volume;
    double price;
    double commission;
    double swap;
    double profit;
    double fee;
    uint8_t symbol[64];       // 32 units
    uint8_t comment[64];      // 32 units
    uint8_t external_id[64];  // 32 units
};

#pragma pack(pop)

// Where the group filter finds the symbol of each record.
constexpr size_t kDealSymbolOffset = 108;

static_assert(sizeof(TradeDealRecord) == 300, "TradeDealRecord size");
static_assert(offsetof(TradeDealRecord, ticket) == 0, "");
static_assert(offsetof(TradeDealRecord, order) == 8, "");
static_assert(offsetof(TradeDealRecord, time) == 16, "");
static_assert(offsetof(TradeDealRecord, time_msc) == 24, "");
static_assert(offsetof(TradeDealRecord, type) == 32, "");
static_assert(offsetof(TradeDealRecord, entry) == 36, "");
static_assert(offsetof(TradeDealRecord, magic) == 40, "");
static_assert(offsetof(TradeDealRecord, position_id) == 48, "");
static_assert(offsetof(TradeDealRecord, reason) == 56, "");
static_assert(offsetof(TradeDealRecord, volume) == 60, "");
static_assert(offsetof(TradeDealRecord, price) == 68, "");
static_assert(offsetof(TradeDealRecord, commission) == 76, "");
static_assert(offsetof(TradeDealRecord, swap) == 84, "");
static_assert(offsetof(TradeDealRecord, profit) == 92, "");
static_assert(offsetof(TradeDealRecord, fee) == 100, "");
static_assert(offsetof(TradeDealRecord, symbol) == 108, "");
static_assert(offsetof(TradeDealRecord, comment) == 172, "");
static_assert(offsetof(TradeDealRecord, external_id) == 236, "");
