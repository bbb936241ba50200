// One call: a request written to the pipe, one reply read back, one status.
#pragma once

#include <cstddef>
#include <cstdint>

// A piece of a request payload, written in order after the command id.
struct RequestField {
    const void* data;
    uint32_t size;        // bytes; for a counted string, UTF-16 units
    bool counted_string;  // u32 count, then the units (no terminator)
};

inline RequestField request_bytes(const void* data, uint32_t size) {
    return RequestField{data, size, false};
}
// The units of a NUL-terminated UTF-16 text up to its first NUL.
RequestField request_text(const char16_t* text);

typedef void* (*ReplyAllocator)(size_t bytes);
typedef void (*ReplyRelease)(void* storage);

// A piece of a reply payload, read in order after the status.
//   fixed: `size` bytes into `data`;
//   array: a u32 count into *count, then count * size bytes into storage from
//          `allocate` stored in *storage (nothing is allocated for a count of 0).
//          A counted string is an array of 2-byte records.
struct ReplyField {
    void* data;
    uint32_t size;
    void** storage;
    uint32_t* count;
    ReplyAllocator allocate;
    ReplyRelease release;
};

inline ReplyField reply_fixed(void* data, uint32_t size) {
    return ReplyField{data, size, nullptr, nullptr, nullptr, nullptr};
}
ReplyField reply_array(void** storage, uint32_t* count, uint32_t record_size);  // malloc/free
inline ReplyField reply_array_with(void** storage, uint32_t* count, uint32_t record_size,
                                   ReplyAllocator allocate, ReplyRelease release) {
    return ReplyField{nullptr, record_size, storage, count, allocate, release};
}

// Runs the call procedure on the process's one link and returns its status:
// -5 for commands 173 to 175 against an older build (before the link test),
// -10004 without a link, -10001 on a failed write, the negative status already
// read or else -10002 on a failed or inexact read, -10000 on a wrong echo,
// otherwise the reply's status. The caller records a negative status.
// On success the caller owns array storage; on failure it has been released
// and set to null.
int32_t client_call(uint32_t command, const RequestField* request, size_t request_count,
                    ReplyField* reply, size_t reply_count);
