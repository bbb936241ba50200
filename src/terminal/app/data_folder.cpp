// The data folder: found or made, with the files that let clients find the terminal.
#include "terminal/app/data_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/platform/platform.h"
#include "terminal/app/start.h"
#include "wire/text.h"

// The folders that the terminal reports (its data and common folders) are
// spelled the platform's way.
#if defined(_WIN32)
static const char kSeparator[] = "\\";
#else
static const char kSeparator[] = "/";
#endif

// Every ancestor first. One that cannot be made (a drive, a folder of another
// user) matters only when the folder itself then cannot be made.
static bool make_folders(const std::string& path) {
    for (size_t at = 1; at < path.size(); at++) {
        if (path[at] == '/' || path[at] == kSeparator[0]) {
            make_folder(path.substr(0, at));
        }
    }
    return make_folder(path);
}

static bool write_file(const std::string& path, const void* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

// UTF-16LE with a byte-order mark, as the module reads it.
static bool write_origin(const std::string& path, const std::string& folder) {
    char16_t wide[1024];
    size_t units = utf8_to_utf16(folder.c_str(), wide, 1024);
    std::string bytes = "\xFF\xFE";
    for (size_t i = 0; i < units; i++) {
        bytes.push_back((char)(wide[i] & 0xFF));
        bytes.push_back((char)(wide[i] >> 8));
    }
    return write_file(path, bytes.data(), bytes.size());
}

bool data_folder_prepare(TerminalConfig* config, const uint8_t digest[32], std::string* error) {
    char16_t user16[1024];
    char user[2048];
    if (!platform_user_data_folder(user16, 1024)) {
        *error = "no per-user data folder";
        return false;
    }
    utf16_to_utf8(user16, SIZE_MAX, user, sizeof(user));
    // The id is the first half of the pipe digest: stable for one path.
    char id[33];
    for (int i = 0; i < 16; i++) {
        std::snprintf(id + 2 * i, 3, "%02X", digest[i]);
    }
    std::string terminals = std::string(user) + kSeparator + "Brevonix" + kSeparator + "Terminal";
    std::string marker = terminals + kSeparator + id;
    config->common_folder = terminals + kSeparator + "Common";
    config->data_folder = config->portable ? config->install_folder : marker;
    std::string portable_txt = marker + "/portable.txt";
    bool ok = make_folders(marker) && make_folders(config->common_folder) &&
              make_folders(config->data_folder + "/config") &&
              make_folders(config->data_folder + "/logs") &&
              write_origin(marker + "/origin.txt", config->install_folder);
    if (ok && config->portable) {
        static const char kNote[] = "This terminal keeps its data in its installation folder.\n";
        ok = write_file(portable_txt, kNote, sizeof(kNote) - 1);
    } else if (ok) {
        std::remove(portable_txt.c_str());
        ok = make_folders(marker + "/VORN");
    }
    if (ok) {
        // Rewritten at every start: its time tells discovery when this
        // terminal was last used.
        char ini[256];
        int size =
            std::snprintf(ini, sizeof(ini), "[Common]\nBuild=%u\nPortable=%d\nAutoTrading=%d\n",
                          config->build, config->portable ? 1 : 0, config->no_autotrading ? 0 : 1);
        ok = write_file(config->data_folder + "/config/terminal.ini", ini, (size_t)size);
    }
    if (!ok) {
        *error = "cannot prepare the data folder " + marker + ": " + std::strerror(errno);
    }
    return ok;
}
