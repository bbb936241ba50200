// Text fields of wire records: writing a text into a fixed field and reading it back.
#include "wire/fields.h"

#include <cstring>

#include "wire/text.h"

void field_put(uint8_t* field, size_t bytes, const char16_t* text) {
    std::memset(field, 0, bytes);
    size_t units = bytes / 2;
    for (size_t i = 0; i + 1 < units && text[i] != 0; i++) {
        field[2 * i] = (uint8_t)(text[i] & 0xFF);
        field[2 * i + 1] = (uint8_t)(text[i] >> 8);
    }
}

void field_put_utf8(uint8_t* field, size_t bytes, const char* text) {
    char16_t wide[512];
    utf8_to_utf16(text, wide, sizeof(wide) / sizeof(wide[0]));
    field_put(field, bytes, wide);
}

std::u16string field_get(const uint8_t* field, size_t bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        char16_t unit = (char16_t)(field[i] | (field[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return text;
}
