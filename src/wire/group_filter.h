// Group masks: comma-separated wildcard patterns that select records by
// symbol name, "!" patterns taking symbols out again. Plain C++ so that the
// bundled terminal can apply the same rules as the module.
#pragma once

#include <cstddef>
#include <cstdint>

// Every filtered wire record keeps its symbol in a text field of 32 units.
constexpr size_t kRecordSymbolUnits = 32;

// Longest pattern kept from a mask; the rest of a longer one is skipped up to
// the next comma.
constexpr size_t kGroupPatternUnits = 255;

// True when the symbol passes the mask: some inclusion pattern matches it and
// no exclusion pattern does. Both texts are NUL-terminated; a null one gives
// false.
bool group_mask_match(const char16_t* mask, const char16_t* symbol);

// True when the symbol matches one pattern (leading "!" ignored). "*" matches
// any run of units; everything else stands for itself. The match is one
// forward pass that never moves back in the symbol, so "*AB" matches "AAB"
// but "*AA" does not match "AAA".
bool group_pattern_match(const char16_t* pattern, const char16_t* symbol);

// Keeps, at the front of the array of `*count` records and in their order,
// the records whose symbol (at `symbol_offset`) passes the mask, and sets
// `*count` to their number. The array stays where it is and keeps its size;
// it needs no memory, so it cannot fail.
void filter_by_group(const char16_t* mask, void* records, uint32_t* count, size_t record_size,
                     size_t symbol_offset);
