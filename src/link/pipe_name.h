// The name of a terminal's pipe, derived from the path of its executable, so
// that the module and the terminal find each other with no other agreement.
#pragma once

#include <cstddef>
#include <cstdint>

// "\\.\pipe\ZRV.Terminal." and 64 hexadecimal digits: 86 units and a NUL.
constexpr size_t kPipeNameUnits = 87;
// A canonical executable path: at most 260 units and a NUL.
constexpr size_t kCanonicalPathUnits = 261;
constexpr size_t kPathDigestBytes = 32;

// The resolved path of the file when it can be resolved within `units` - 1
// units, else `path` itself cut to that.
void canonical_or_given(const char16_t* path, char16_t* out, size_t units);
// The resolved path of the file when it can be resolved within 260 units,
// else `path` itself cut to 260 units; lower-cased either way.
void canonical_executable_path(const char16_t* path, char16_t canonical[kCanonicalPathUnits]);
// SHA-256 of the canonical path's UTF-16LE units, no terminator.
bool executable_path_digest(const char16_t* canonical, uint8_t digest[kPathDigestBytes]);
// The pipe name: the digest as upper-case hexadecimal after the fixed prefix.
void pipe_name_from_digest(const uint8_t digest[kPathDigestBytes], char16_t name[kPipeNameUnits]);
// The three steps at once; false when the digest could not be made.
bool pipe_name_for_path(const char16_t* path, uint8_t digest[kPathDigestBytes],
                        char16_t name[kPipeNameUnits]);
