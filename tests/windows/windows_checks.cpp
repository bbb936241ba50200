#include "windows_checks.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "link/platform/platform.h"
#include "wire/text.h"

static int g_passed = 0;
static int g_failed = 0;

void check(bool ok, const char* format, ...) {
    char message[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", message);
    std::fflush(stdout);
    (ok ? g_passed : g_failed)++;
}

int report() {
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 && g_passed > 0 ? 0 : 1;
}

std::string narrow(const std::u16string& text) {
    std::vector<char> bytes(text.size() * 3 + 1);
    utf16_to_utf8(text.c_str(), text.size(), bytes.data(), bytes.size());
    return bytes.data();
}

std::u16string widen(const std::string& text) {
    std::vector<char16_t> units(text.size() + 1);
    utf8_to_utf16(text.c_str(), units.data(), units.size());
    return units.data();
}

static const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

bool same_file(const char16_t* a, const char16_t* b) {
    char16_t first[1024];
    char16_t second[1024];
    return platform_canonical_path(a, first, 1024) && platform_canonical_path(b, second, 1024) &&
           std::u16string(first) == second;
}

std::vector<std::u16string> folder_entries(const std::u16string& folder) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW entry;
    HANDLE scan = FindFirstFileW(wide(folder + u"\\*"), &entry);
    if (scan == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        std::u16string name = reinterpret_cast<const char16_t*>(entry.cFileName);
        if (name != u"." && name != u"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(scan, &entry));
    FindClose(scan);
    return names;
}

std::string read_text_file(const std::u16string& path) {
    std::string text;
    HANDLE file = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return text;
    }
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &count, nullptr) && count > 0) {
        text.append(buffer, count);
    }
    CloseHandle(file);
    return text;
}

void make_folder(const std::u16string& path) {
    for (size_t at = 3; at <= path.size(); at++) {
        if (at == path.size() || path[at] == u'\\') {
            CreateDirectoryW(wide(path.substr(0, at)), nullptr);
        }
    }
}

void write_file(const std::u16string& path, const std::string& bytes) {
    HANDLE file = CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

void write_origin(const std::u16string& path, const std::u16string& folder) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : folder) {
        bytes.push_back((char)(unit & 0xFF));
        bytes.push_back((char)(unit >> 8));
    }
    write_file(path, bytes);
}

void set_file_year(const std::u16string& path, int year) {
    SYSTEMTIME when = {};
    when.wYear = (WORD)year;
    when.wMonth = 1;
    when.wDay = 1;
    FILETIME time;
    SystemTimeToFileTime(&when, &time);
    HANDLE file = CreateFileW(wide(path), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}
