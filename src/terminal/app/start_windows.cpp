// What the terminal needs at start on Windows: its own path and its folders.
#include "terminal/app/start.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwctype>
#include <vector>

#include "wire/text.h"

static std::u16string widen(const std::string& text) {
    std::vector<char16_t> wide(text.size() + 1);
    utf8_to_utf16(text.c_str(), wide.data(), wide.size());
    return std::u16string(wide.data());
}

static std::string narrow(const wchar_t* text) {
    const char16_t* units = reinterpret_cast<const char16_t*>(text);
    std::vector<char> bytes(text_length(units) * 3 + 1);
    utf16_to_utf8(units, SIZE_MAX, bytes.data(), bytes.size());
    return std::string(bytes.data());
}

void start_attach_console() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
}

static bool module_path(std::wstring* path) {
    wchar_t buffer[32768];
    DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    if (length == 0 || length >= 32768) {
        return false;
    }
    path->assign(buffer, length);
    return true;
}

// Where the options begin: after the quoted program, after the bare module
// path, or else after the first word.
static const wchar_t* skip_program(const wchar_t* line) {
    if (line[0] == L'"') {
        const wchar_t* end = wcschr(line + 1, L'"');
        return end != nullptr ? end + 1 : line + wcslen(line);
    }
    std::wstring module;
    size_t length = module_path(&module) ? module.size() : 0;
    if (length > 0 && wcslen(line) >= length &&
        CompareStringOrdinal(line, (int)length, module.c_str(), (int)length, TRUE) == CSTR_EQUAL &&
        (line[length] == 0 || iswspace(line[length]))) {
        return line + length;
    }
    while (*line != 0 && !iswspace(*line)) {
        line++;
    }
    return line;
}

void start_arguments(int* argc, char*** argv) {
    static std::vector<std::string> words;
    static std::vector<char*> pointers;
    std::wstring program;
    module_path(&program);
    words.push_back(narrow(program.c_str()));

    // A placeholder program name, so that the system's rules split the rest.
    std::wstring rest = std::wstring(L"x") + skip_program(GetCommandLineW());
    int count = 0;
    wchar_t** split = CommandLineToArgvW(rest.c_str(), &count);
    for (int i = 1; split != nullptr && i < count; i++) {
        words.push_back(narrow(split[i]));
    }
    LocalFree(split);
    for (std::string& word : words) {
        pointers.push_back(&word[0]);
    }
    pointers.push_back(nullptr);
    *argc = (int)words.size();
    *argv = pointers.data();
}

bool own_path(std::string* path) {
    std::wstring module;
    if (!module_path(&module)) {
        return false;
    }
    *path = narrow(module.c_str());
    return true;
}

// The named pipe itself is the server's address.
bool server_address(const char16_t* pipe_name, std::string* address, std::string*) {
    *address = narrow(reinterpret_cast<const wchar_t*>(pipe_name));
    return true;
}

bool take_instance_lock(const std::string& address) {
    // Mutex names take no backslash but the namespace's own: the part of
    // the pipe name after "\\.\pipe\" names the lock.
    size_t last = address.rfind('\\');
    std::u16string name = u"Local\\" + widen(address.substr(last + 1)) + u".lock";
    HANDLE lock = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.c_str()));
    if (lock == nullptr) {
        return false;
    }
    // Kept open for the life of the process.
    return GetLastError() != ERROR_ALREADY_EXISTS;
}

bool make_folder(const std::string& path) {
    std::u16string wide = widen(path);
    return CreateDirectoryW(reinterpret_cast<const wchar_t*>(wide.c_str()), nullptr) ||
           GetLastError() == ERROR_ALREADY_EXISTS;
}
