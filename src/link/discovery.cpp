// Finding a terminal: the data folders that name an installation and its pipe.
#include "link/discovery.h"

#include <cstring>

#include "link/launch.h"
#include "link/pipe_name.h"
#include "link/platform/platform.h"
#include "wire/text.h"

constexpr size_t kFolderUnits = 260;
constexpr size_t kExePathUnits = 261;
// "origin.txt": a byte-order mark and up to 258 units of folder.
constexpr uint32_t kOriginBytes = 518;

// folder + separator + name, cut to fit.
static void join_path(char16_t* out, size_t units, const char16_t* folder, const char16_t* name) {
    const char16_t separator[2] = {kPathSeparator, 0};
    text_copy(out, units, folder);
    text_append(out, units, separator);
    text_append(out, units, name);
}

static void folder_file(char16_t out[kFolderUnits], const char16_t* folder, const char16_t* sub,
                        const char16_t* name) {
    char16_t inner[kFolderUnits];
    join_path(inner, kFolderUnits, folder, sub);
    join_path(out, kFolderUnits, inner, name);
}

static void format_folder_error(CInterClient& link, const char* format, const char16_t* folder) {
    char narrow[kFolderUnits * 4];
    utf16_to_utf8(folder, kFolderUnits, narrow, sizeof(narrow));
    text_format(link.error_text, kErrorTextUnits, format, narrow);
}

// The installation folder named by "origin.txt", joined with the executable's
// name, when that executable exists.
static void read_origin(const uint8_t* bytes, uint32_t count, TerminalCandidate* candidate) {
    if (count < 8 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
        return;
    }
    char16_t install[kOriginBytes / 2 + 1] = {};
    uint32_t units = (count & ~1u) / 2 - 1;
    for (uint32_t i = 0; i < units; i++) {
        install[i] = (char16_t)(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
    }
    char16_t exe_path[kExePathUnits];
    join_path(exe_path, kExePathUnits, install, kTerminalExecutableName);
    if (platform_path_exists(exe_path)) {
        text_copy(candidate->exe_path, kExePathUnits, exe_path);
    }
}

bool check_data_folder(CInterClient& link, const char16_t* folder, TerminalCandidate* candidate) {
    std::memset(candidate, 0, sizeof(*candidate));
    char16_t path[kFolderUnits];
    join_path(path, kFolderUnits, folder, u"portable.txt");
    if (platform_file_time(path, &candidate->last_used)) {
        candidate->portable = 1;
    } else {
        join_path(path, kFolderUnits, folder, u"VORN");
        if (!platform_path_exists(path)) {
            format_folder_error(link, "No VORN folder in '%s'", folder);
            return false;
        }
        uint64_t time = 0;
        folder_file(path, folder, u"config", u"accounts.dat");
        if (platform_file_time(path, &time)) {
            candidate->last_used = time;
        }
        folder_file(path, folder, u"config", u"terminal.ini");
        if (platform_file_time(path, &time) && time > candidate->last_used) {
            candidate->last_used = time;
        }
    }

    join_path(path, kFolderUnits, folder, u"origin.txt");
    uint8_t bytes[kOriginBytes];
    uint32_t count = 0;
    FileReadResult read = platform_read_file_start(path, bytes, sizeof(bytes), &count);
    if (read == kFileNotOpened) {
        format_folder_error(link, "No origin.txt in '%s'", folder);
        return false;
    }
    if (read == kFileRead) {
        read_origin(bytes, count, candidate);
    }
    return candidate->exe_path[0] != 0;
}

static void parent_image_path(char16_t out[kFolderUnits + 1]) {
    out[0] = 0;
    uint32_t parent = platform_parent_process_id();
    char16_t image[kFolderUnits + 1];
    if (parent != 0 && platform_process_image(parent, image, kFolderUnits + 1)) {
        // Held to 259 units where a candidate gets 260.
        canonical_or_given(image, out, kFolderUnits);
    }
}

struct DiscoveryScan {
    CInterClient* link;
    char16_t base[kExePathUnits];
    char16_t parent_image[kFolderUnits + 1];
    TerminalCandidate current;
    TerminalCandidate best;
};

static bool visit_data_folder(const char16_t* name, bool is_directory, void* context) {
    DiscoveryScan& scan = *(DiscoveryScan*)context;
    if (!is_directory || name[0] == u'.') {
        return true;
    }
    char16_t folder[kFolderUnits];
    text_copy(folder, kFolderUnits, scan.base);
    text_append(folder, kFolderUnits, name);
    if (!check_data_folder(*scan.link, folder, &scan.current)) {
        return true;
    }
    if (scan.parent_image[0] != 0) {
        char16_t canonical[kFolderUnits + 1];
        canonical_or_given(scan.current.exe_path, canonical, kFolderUnits + 1);
        if (std::memcmp(canonical, scan.parent_image,
                        (text_length(canonical) + 1) * sizeof(char16_t)) == 0) {
            scan.best = scan.current;
            return false;
        }
    }
    // Strictly later, so that of two equal times the first folder stays.
    if (scan.best.exe_path[0] == 0 || scan.current.last_used > scan.best.last_used) {
        scan.best = scan.current;
    }
    return true;
}

// "<data folder>/Brevonix/Terminal/"; false when there is no data folder or
// the result would not fit whole, since a cut folder names another place.
static bool terminals_folder(char16_t base[kExePathUnits]) {
    char16_t data_folder[kExePathUnits];
    if (!platform_user_data_folder(data_folder, kExePathUnits)) {
        return false;
    }
    const char16_t separator[2] = {kPathSeparator, 0};
    const char16_t* parts[] = {data_folder, separator,   u"Brevonix",
                               separator,   u"Terminal", separator};
    size_t length = 0;
    base[0] = 0;
    for (const char16_t* part : parts) {
        length += text_length(part);
        text_append(base, kExePathUnits, part);
    }
    return length < kExePathUnits;
}

bool discover_terminal(CInterClient& link) {
    DiscoveryScan scan;
    std::memset(&scan, 0, sizeof(scan));
    scan.link = &link;
    // Without a usable data folder nothing can be found; the reason says so
    // rather than staying empty.
    if (terminals_folder(scan.base)) {
        parent_image_path(scan.parent_image);
        platform_list_folder(scan.base, visit_data_folder, &scan);
    }
    if (scan.best.exe_path[0] == 0) {
        text_format(link.error_text, kErrorTextUnits, "Quillmark x64 not found");
        return false;
    }
    return open_terminal(link, scan.best.exe_path, scan.best.portable != 0);
}
