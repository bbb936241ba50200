// Wire record of one depth-of-market entry. Packed, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct BookInfoRecord {
    uint32_t type;
    double price;
    uint64_t volume;
    double volume_dbl;
};

#pragma pack(pop)

static_assert(sizeof(BookInfoRecord) == 28, "BookInfoRecord size");
static_assert(offsetof(BookInfoRecord, type) == 0, "");
static_assert(offsetof(BookInfoRecord, price) == 4, "");
static_assert(offsetof(BookInfoRecord, volume) == 12, "");
static_assert(offsetof(BookInfoRecord, volume_dbl) == 20, "");
