// Bounded UTF-16 text helpers: every copy and format into a fixed buffer is
// cut to fit and NUL-terminated.
#pragma once

#include <cstddef>

// Units up to the first NUL.
size_t text_length(const char16_t* text);
// Copies `text` into `out` of `units` units, cut to units - 1.
void text_copy(char16_t* out, size_t units, const char16_t* text);
// Appends `text` to the NUL-terminated text in `out`, cut to fit.
void text_append(char16_t* out, size_t units, const char16_t* text);
// Formats with printf rules into UTF-8 (a "%s" argument is UTF-8, see
// utf16_to_utf8), then stores the result as UTF-16 cut to fit.
void text_format(char16_t* out, size_t units, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// UTF-16 (up to `units` units or the first NUL) to NUL-terminated UTF-8 in
// `size` bytes, cut before a character that does not fit; unpaired
// surrogates become U+FFFD. Returns the bytes written, terminator excluded.
size_t utf16_to_utf8(const char16_t* text, size_t units, char* out, size_t size);
// As utf16_to_utf8, but a text that does not fit whole is not converted at
// all: `out` is left empty and the result is false.
bool utf16_to_utf8_whole(const char16_t* text, size_t units, char* out, size_t size);
// NUL-terminated UTF-8 to NUL-terminated UTF-16 in `units` units, cut before a
// character that does not fit; malformed bytes become U+FFFD. Returns the
// units written, terminator excluded.
size_t utf8_to_utf16(const char* text, char16_t* out, size_t units);
