// The two per-call pipe streams. Each carries its 16 KiB buffer inside the
// object, lives on the caller's stack for one message, and holds a reference
// to the client's pipe handle so that a broken pipe closes the link for the
// whole module.
#pragma once

#include <cstdint>

#include "link/platform/platform.h"

constexpr uint32_t kStreamBufferBytes = 0x4000;
// Reply fields at least this long skip the buffer.
constexpr uint32_t kDirectReadBytes = 0x2000;

class PipeWriter {
   public:
    explicit PipeWriter(PlatformHandle& pipe) : handle(pipe) {}
    // Places the 8-byte request header (length, command) at the buffer start.
    void begin(uint32_t length, uint32_t command);
    // Appends bytes to the request, writing full buffers as needed; a run that
    // still exceeds a whole buffer goes straight from the caller's memory.
    bool write(const void* bytes, uint32_t length);
    // Writes what the buffer holds; every request ends with one flush.
    bool flush();

    PlatformHandle& handle;
    uint32_t used = 0;
    uint32_t free = kStreamBufferBytes;
    uint8_t buffer[kStreamBufferBytes];

   private:
    bool send(const void* bytes, uint32_t length);
};

class PipeReader {
   public:
    explicit PipeReader(PlatformHandle& pipe) : handle(pipe) {}
    // Reads the 4-byte reply length into `remaining`, bypassing the buffer.
    bool read_length();
    // Hands out the next `length` bytes of the reply. Asking for more than the
    // reply still holds fails without touching the pipe.
    bool read(void* destination, uint32_t length);
    // The reply has been used up exactly.
    bool at_end() const { return avail == 0 && remaining == 0; }

    PlatformHandle& handle;
    uint32_t remaining = 0;  // announced bytes still in the pipe
    uint32_t pos = 0;        // next byte of `buffer` to hand out
    uint32_t avail = 0;      // bytes of `buffer` from `pos` not yet handed out
    uint8_t buffer[kStreamBufferBytes];

   private:
    bool receive(void* destination, uint32_t length);
};
