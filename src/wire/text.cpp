// Bounded UTF-16 text: copies, formatting and the UTF-8 conversions.
#include "wire/text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

size_t text_length(const char16_t* text) {
    size_t length = 0;
    while (text[length] != 0) {
        length++;
    }
    return length;
}

void text_copy(char16_t* out, size_t units, const char16_t* text) {
    if (units == 0) {
        return;
    }
    out[0] = 0;
    text_append(out, units, text);
}

void text_append(char16_t* out, size_t units, const char16_t* text) {
    if (units == 0) {
        return;
    }
    size_t at = text_length(out);
    while (at + 1 < units && *text != 0) {
        out[at++] = *text++;
    }
    out[at] = 0;
}

void text_format(char16_t* out, size_t units, const char* format, ...) {
    char narrow[8192];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(narrow, sizeof(narrow), format, args);
    va_end(args);
    if (length < 0) {
        narrow[0] = 0;
    }
    utf8_to_utf16(narrow, out, units);
}

// The code point starting at text[*at], advancing *at past it.
static uint32_t next_code_point(const char16_t* text, size_t units, size_t* at) {
    uint32_t unit = text[(*at)++];
    if (unit < 0xD800 || unit > 0xDFFF) {
        return unit;
    }
    if (unit <= 0xDBFF && *at < units) {
        uint32_t low = text[*at];
        if (low >= 0xDC00 && low <= 0xDFFF) {
            (*at)++;
            return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return 0xFFFD;
}

static size_t encode_utf8(uint32_t code, unsigned char* bytes) {
    if (code < 0x80) {
        bytes[0] = (unsigned char)code;
        return 1;
    }
    if (code < 0x800) {
        bytes[0] = (unsigned char)(0xC0 | (code >> 6));
        bytes[1] = (unsigned char)(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        bytes[0] = (unsigned char)(0xE0 | (code >> 12));
        bytes[1] = (unsigned char)(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = (unsigned char)(0x80 | (code & 0x3F));
        return 3;
    }
    bytes[0] = (unsigned char)(0xF0 | (code >> 18));
    bytes[1] = (unsigned char)(0x80 | ((code >> 12) & 0x3F));
    bytes[2] = (unsigned char)(0x80 | ((code >> 6) & 0x3F));
    bytes[3] = (unsigned char)(0x80 | (code & 0x3F));
    return 4;
}

// The conversion of utf16_to_utf8; *whole tells whether all of the text fitted.
static size_t convert_to_utf8(const char16_t* text, size_t units, char* out, size_t size,
                              bool* whole) {
    *whole = false;
    if (size == 0) {
        return 0;
    }
    size_t written = 0;
    size_t at = 0;
    while (at < units && text[at] != 0) {
        unsigned char bytes[4];
        size_t count = encode_utf8(next_code_point(text, units, &at), bytes);
        if (written + count > size - 1) {
            out[written] = 0;
            return written;
        }
        for (size_t i = 0; i < count; i++) {
            out[written++] = (char)bytes[i];
        }
    }
    out[written] = 0;
    *whole = true;
    return written;
}

size_t utf16_to_utf8(const char16_t* text, size_t units, char* out, size_t size) {
    bool whole;
    return convert_to_utf8(text, units, out, size, &whole);
}

bool utf16_to_utf8_whole(const char16_t* text, size_t units, char* out, size_t size) {
    bool whole;
    convert_to_utf8(text, units, out, size, &whole);
    if (!whole && size > 0) {
        out[0] = 0;
    }
    return whole;
}

// The code point starting at text[*at], advancing *at past it; malformed or
// overlong sequences give U+FFFD and advance by one byte.
static uint32_t decode_utf8(const unsigned char* text, size_t* at) {
    uint32_t lead = text[*at];
    size_t extra = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if (lead < 0x80) {
        (*at)++;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, code = lead & 0x07, least = 0x10000;
    } else {
        (*at)++;
        return 0xFFFD;
    }
    for (size_t i = 1; i <= extra; i++) {
        unsigned char next = text[*at + i];
        if ((next & 0xC0) != 0x80) {
            (*at)++;
            return 0xFFFD;
        }
        code = (code << 6) | (next & 0x3F);
    }
    *at += extra + 1;
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0xFFFD;
    }
    return code;
}

size_t utf8_to_utf16(const char* text, char16_t* out, size_t units) {
    if (units == 0) {
        return 0;
    }
    const unsigned char* bytes = (const unsigned char*)text;
    size_t written = 0;
    size_t at = 0;
    while (bytes[at] != 0) {
        uint32_t code = decode_utf8(bytes, &at);
        size_t count = code >= 0x10000 ? 2 : 1;
        if (written + count > units - 1) {
            break;
        }
        if (count == 2) {
            out[written++] = (char16_t)(0xD800 + ((code - 0x10000) >> 10));
            out[written++] = (char16_t)(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out[written++] = (char16_t)code;
        }
    }
    out[written] = 0;
    return written;
}
