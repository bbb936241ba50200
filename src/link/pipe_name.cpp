// A terminal's pipe name from the path of its executable.
#include "link/pipe_name.h"

#include "link/platform/platform.h"
#include "wire/text.h"

void canonical_or_given(const char16_t* path, char16_t* out, size_t units) {
    if (!platform_canonical_path(path, out, units)) {
        text_copy(out, units, path);
    }
}

void canonical_executable_path(const char16_t* path, char16_t canonical[kCanonicalPathUnits]) {
    canonical_or_given(path, canonical, kCanonicalPathUnits);
    platform_lower_case(canonical, text_length(canonical));
}

bool executable_path_digest(const char16_t* canonical, uint8_t digest[kPathDigestBytes]) {
    size_t units = text_length(canonical);
    uint8_t bytes[kCanonicalPathUnits * 2];
    for (size_t i = 0; i < units; i++) {
        bytes[2 * i] = (uint8_t)(canonical[i] & 0xFF);
        bytes[2 * i + 1] = (uint8_t)(canonical[i] >> 8);
    }
    return platform_sha256(bytes, units * 2, digest);
}

void pipe_name_from_digest(const uint8_t digest[kPathDigestBytes], char16_t name[kPipeNameUnits]) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    text_copy(name, kPipeNameUnits, u"\\\\.\\pipe\\ZRV.Terminal.");
    size_t at = text_length(name);
    for (size_t i = 0; i < kPathDigestBytes; i++) {
        name[at++] = kDigits[digest[i] >> 4];
        name[at++] = kDigits[digest[i] & 0x0F];
    }
    name[at] = 0;
}

bool pipe_name_for_path(const char16_t* path, uint8_t digest[kPathDigestBytes],
                        char16_t name[kPipeNameUnits]) {
    char16_t canonical[kCanonicalPathUnits];
    canonical_executable_path(path, canonical);
    if (!executable_path_digest(canonical, digest)) {
        return false;
    }
    pipe_name_from_digest(digest, name);
    return true;
}
