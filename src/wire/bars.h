// Wire record of one bar; it is also the element layout of the bar arrays,
// so real_volume stays unaligned at offset 52. Packed, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct RateRecord {
    int64_t time;
    double open;
    double high;
    double low;
    double close;
    uint64_t tick_volume;
    int32_t spread;
    uint64_t real_volume;
};

#pragma pack(pop)

static_assert(sizeof(RateRecord) == 60, "RateRecord size");
static_assert(offsetof(RateRecord, time) == 0, "");
static_assert(offsetof(RateRecord, open) == 8, "");
static_assert(offsetof(RateRecord, high) == 16, "");
static_assert(offsetof(RateRecord, low) == 24, "");
static_assert(offsetof(RateRecord, close) == 32, "");
static_assert(offsetof(RateRecord, tick_volume) == 40, "");
static_assert(offsetof(RateRecord, spread) == 48, "");
static_assert(offsetof(RateRecord, real_volume) == 52, "");
