// Group masks as the terminal defines them; see group_filter.h.
#include "wire/group_filter.h"

#include <cstring>

namespace {

// Copies the next pattern from `scan` into `pattern` (NUL-terminated, trailing
// spaces removed) and returns where the scan goes on: at the comma that ended
// the pattern, or at the end of the mask. Units beyond the pattern limit are
// skipped so that the next pattern still starts after a comma.
const char16_t* take_pattern(const char16_t* scan, char16_t* pattern) {
    size_t length = 0;
    while (*scan != 0 && *scan != u',' && length < kGroupPatternUnits) {
        pattern[length++] = *scan++;
    }
    while (*scan != 0 && *scan != u',') {
        ++scan;
    }
    while (length > 0 && pattern[length - 1] == u' ') {
        --length;
    }
    pattern[length] = 0;
    return scan;
}

}  // namespace

bool group_pattern_match(const char16_t* pattern, const char16_t* symbol) {
    if (pattern == nullptr || symbol == nullptr) {
        return false;
    }
    while (*pattern == u'!') {
        ++pattern;
    }
    if (*pattern == 0) {
        return true;
    }
    const char16_t* p = pattern;
    const char16_t* s = symbol;
    const char16_t* restart = nullptr;  // first unit after the latest run of "*"
    for (;;) {
        if (*p == u'*') {
            while (*p == u'*') {
                ++p;
            }
            if (*p == 0) {
                return true;
            }
            restart = p;
        }
        if (*s == 0) {
            return *p == 0;
        }
        if (*p == 0) {
            if (restart == nullptr) {
                return false;
            }
            p = restart;
            continue;
        }
        if (*p == *s) {
            ++p;
            ++s;
            continue;
        }
        if (restart == nullptr) {
            return false;
        }
        // The symbol never moves back: a failed attempt resumes at the unit
        // that failed, not one past where the attempt began.
        if (p == restart) {
            ++s;
        } else {
            p = restart;
        }
    }
}

bool group_mask_match(const char16_t* mask, const char16_t* symbol) {
    if (mask == nullptr || symbol == nullptr) {
        return false;
    }
    char16_t pattern[kGroupPatternUnits + 1];
    bool passes = false;
    const char16_t* scan = mask;
    while (*scan != 0) {
        if (*scan == u' ' || *scan == u',') {
            ++scan;
            continue;
        }
        scan = take_pattern(scan, pattern);
        if (group_pattern_match(pattern, symbol)) {
            if (pattern[0] == u'!') {
                return false;
            }
            passes = true;
        }
        if (*scan == u',') {
            ++scan;
        }
    }
    return passes;
}

void filter_by_group(const char16_t* mask, void* records, uint32_t* count, size_t record_size,
                     size_t symbol_offset) {
    if (*count == 0 || records == nullptr) {
        return;
    }
    // Kept records move forward within the same storage: a second array of
    // the same size would cost an allocation and a page fault per 4 KiB
    // (a tenth of a call over 100,000 positions), and when every record
    // passes nothing moves at all.
    uint8_t* storage = static_cast<uint8_t*>(records);
    uint32_t kept_count = 0;
    for (uint32_t i = 0; i < *count; ++i) {
        const uint8_t* record = storage + static_cast<size_t>(i) * record_size;
        // The field need not hold a NUL; a local copy bounds the symbol to it.
        char16_t symbol[kRecordSymbolUnits + 1];
        std::memcpy(symbol, record + symbol_offset, kRecordSymbolUnits * sizeof(char16_t));
        symbol[kRecordSymbolUnits] = 0;
        if (group_mask_match(mask, symbol)) {
            if (kept_count != i) {
                // kept_count < i: the two records never overlap.
                std::memcpy(storage + static_cast<size_t>(kept_count) * record_size, record,
                            record_size);
            }
            ++kept_count;
        }
    }
    *count = kept_count;
}
