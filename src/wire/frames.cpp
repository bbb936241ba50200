// The terminal's side of the framing: reading a request's payload and framing a reply.
#include "wire/frames.h"

#include "wire/text.h"

bool RequestReader::text(char16_t* out, size_t units) {
    uint32_t count = u32();
    if (!ok || count >= units || left < (size_t)count * 2) {
        ok = false;
        return false;
    }
    for (uint32_t i = 0; i < count; i++) {
        out[i] = (char16_t)(data[2 * i] | (data[2 * i + 1] << 8));
        if (out[i] == 0) {
            ok = false;
            return false;
        }
    }
    out[count] = 0;
    data += (size_t)count * 2;
    left -= (size_t)count * 2;
    return true;
}

ReplyWriter::ReplyWriter(std::vector<uint8_t>* out, uint32_t command)
    : out_(out), start_(out->size()) {
    uint8_t header[12] = {};
    std::memcpy(header + 4, &command, 4);
    out_->insert(out_->end(), header, header + 12);
}

void ReplyWriter::put(const void* data, size_t size) {
    const uint8_t* bytes = (const uint8_t*)data;
    out_->insert(out_->end(), bytes, bytes + size);
}

void ReplyWriter::text(const char16_t* text) {
    uint32_t count = (uint32_t)text_length(text);
    u32(count);
    for (uint32_t i = 0; i < count; i++) {
        uint8_t unit[2] = {(uint8_t)(text[i] & 0xFF), (uint8_t)(text[i] >> 8)};
        put(unit, 2);
    }
}

uint8_t* ReplyWriter::reserve(size_t size) {
    size_t at = out_->size();
    out_->resize(at + size);
    return out_->data() + at;
}

void ReplyWriter::finish(int32_t status) {
    if (status < 0) {
        out_->resize(start_ + 12);
    }
    uint32_t length = (uint32_t)(out_->size() - start_ - 4);
    std::memcpy(out_->data() + start_, &length, 4);
    std::memcpy(out_->data() + start_ + 8, &status, 4);
}

void ReplyWriter::patch_u32(size_t offset, uint32_t value) {
    std::memcpy(out_->data() + start_ + offset, &value, 4);
}
