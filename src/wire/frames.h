// Requests and replies on the wire: a bounds-checked reader over one
// request's payload and a writer that frames one reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// Every read checks the bounds; once one fails the reader stays failed.
struct RequestReader {
    const uint8_t* data;
    size_t left;
    bool ok;

    bool take(void* out, size_t size) {
        if (!ok || left < size) {
            ok = false;
            return false;
        }
        std::memcpy(out, data, size);
        data += size;
        left -= size;
        return true;
    }
    uint8_t u8() {
        uint8_t v = 0;
        take(&v, 1);
        return v;
    }
    uint32_t u32() {
        uint32_t v = 0;
        take(&v, 4);
        return v;
    }
    int32_t i32() {
        int32_t v = 0;
        take(&v, 4);
        return v;
    }
    uint64_t u64() {
        uint64_t v = 0;
        take(&v, 8);
        return v;
    }
    int64_t i64() {
        int64_t v = 0;
        take(&v, 8);
        return v;
    }
    double f64() {
        double v = 0;
        take(&v, 8);
        return v;
    }
    // A counted string into `units` units (NUL-terminated); a longer one, or
    // one holding a NUL, fails the request.
    bool text(char16_t* out, size_t units);
    // The payload was used up exactly.
    bool done() const { return ok && left == 0; }
};

// Frames one reply in a connection's output buffer: length, command, status,
// payload. A failed reply carries no payload.
class ReplyWriter {
   public:
    ReplyWriter(std::vector<uint8_t>* out, uint32_t command);
    void put(const void* data, size_t size);
    void u32(uint32_t value) { put(&value, 4); }
    void f64(double value) { put(&value, 8); }
    void text(const char16_t* text);
    // A u32 count, then the records.
    void records(const void* data, size_t count, size_t size) {
        u32((uint32_t)count);
        put(data, count * size);
    }
    // Makes room for `size` more bytes at once, so that a reply of known
    // size never grows by reallocation.
    void expect(size_t size) { out_->reserve(out_->size() + size); }
    // Room for `size` bytes written in place; valid until the next put.
    uint8_t* reserve(size_t size);
    // Overwrites a u32 at `offset` bytes from the start of this reply.
    void patch_u32(size_t offset, uint32_t value);
    void finish(int32_t status);

   private:
    std::vector<uint8_t>* out_;
    size_t start_;
};
