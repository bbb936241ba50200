// The two pipe streams: whole reads and writes over the platform's pipe calls.
#include "link/stream.h"

#include <cstring>

// After a failed or short transfer: a broken pipe ends the link for everyone;
// any other error leaves it open for the next call.
static bool stream_failed(PlatformHandle& handle, uint32_t error) {
    if (error == kErrorBrokenPipe) {
        platform_pipe_close(handle);
        handle = kInvalidHandle;
    }
    return false;
}

void PipeWriter::begin(uint32_t length, uint32_t command) {
    std::memcpy(buffer, &length, 4);
    std::memcpy(buffer + 4, &command, 4);
    used = 8;
    free = kStreamBufferBytes - 8;
}

bool PipeWriter::send(const void* bytes, uint32_t length) {
    uint32_t moved = 0;
    uint32_t error = 0;
    if (!platform_pipe_write(handle, bytes, length, &moved, &error) || moved != length) {
        return stream_failed(handle, error);
    }
    return true;
}

bool PipeWriter::write(const void* bytes, uint32_t length) {
    const uint8_t* from = (const uint8_t*)bytes;
    if (length == 0) {
        return true;
    }
    if (length <= free) {
        std::memcpy(buffer + used, from, length);
        used += length;
        free -= length;
        return true;
    }
    uint32_t head = free;
    if (head > 0) {
        std::memcpy(buffer + used, from, head);
    }
    from += head;
    length -= head;
    used = 0;
    free = kStreamBufferBytes;
    if (!send(buffer, kStreamBufferBytes)) {
        return false;
    }
    if (length > kStreamBufferBytes) {
        return send(from, length);
    }
    std::memcpy(buffer, from, length);
    used = length;
    free = kStreamBufferBytes - length;
    return true;
}

bool PipeWriter::flush() {
    return send(buffer, used);
}

bool PipeReader::receive(void* destination, uint32_t length) {
    uint32_t moved = 0;
    uint32_t error = 0;
    if (!platform_pipe_read(handle, destination, length, &moved, &error) || moved != length) {
        return stream_failed(handle, error);
    }
    return true;
}

bool PipeReader::read_length() {
    return receive(&remaining, 4);
}

bool PipeReader::read(void* destination, uint32_t length) {
    uint8_t* to = (uint8_t*)destination;
    if (length == 0) {
        return true;
    }
    if (length <= avail) {
        std::memcpy(to, buffer + pos, length);
        pos += length;
        avail -= length;
        return true;
    }
    if (avail > 0) {
        std::memcpy(to, buffer + pos, avail);
        to += avail;
        length -= avail;
    }
    avail = 0;
    pos = 0;
    if (length > remaining) {
        return false;
    }
    if (length >= kDirectReadBytes || length == remaining) {
        if (!receive(to, length)) {
            return false;
        }
        remaining -= length;
        return true;
    }
    uint32_t chunk = remaining < kStreamBufferBytes ? remaining : kStreamBufferBytes;
    if (!receive(buffer, chunk)) {
        return false;
    }
    std::memcpy(to, buffer, length);
    pos = length;
    avail = chunk - length;
    remaining -= chunk;
    return true;
}
