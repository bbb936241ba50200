// Text fields of wire records: fixed arrays of UTF-16LE units kept as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the text (cut to fit, always NUL-terminated) into a field of `bytes`.
void field_put(uint8_t* field, size_t bytes, const char16_t* text);
void field_put_utf8(uint8_t* field, size_t bytes, const char* text);
// The text of a field up to its first NUL.
std::u16string field_get(const uint8_t* field, size_t bytes);

#define FIELD_PUT(record_field, text) field_put(record_field, sizeof(record_field), text)
#define FIELD_GET(record_field) field_get(record_field, sizeof(record_field))
#define FIELD_PUT_UTF8(record_field, text) field_put_utf8(record_field, sizeof(record_field), text)
