// The Win32 back end: named pipes, CryptoAPI for the digest, the roaming
// application-data folder, the Toolhelp snapshot for the parent process and
// CreateProcessW to start a terminal.
#include "link/platform/platform.h"

#include <windows.h>

#include <shlobj.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include "wire/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 text is UTF-16");

const char16_t kPathSeparator = u'\\';
const char16_t kTerminalExecutableName[] = u"terminal64.exe";

static const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

static wchar_t* wide(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}

// Read access with read and write sharing: the way every file of a terminal
// is opened, so that a running terminal never blocks the module.
static HANDLE open_for_reading(const char16_t* path) {
    return CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// ---- Pipe client ----

PlatformHandle platform_pipe_open(const char16_t* name, uint32_t* error, char* refusal,
                                  size_t refusal_size) {
    if (refusal_size > 0) {
        refusal[0] = 0;
    }
    HANDLE pipe = CreateFileW(wide(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return kInvalidHandle;
    }
    *error = 0;
    return (PlatformHandle)pipe;
}

bool platform_pipe_wait(const char16_t* name) {
    return WaitNamedPipeW(wide(name), NMPWAIT_WAIT_FOREVER) != 0;
}

// A server that closed its end, disconnected the instance or is closing it
// has dropped the link as surely as a broken pipe: all three end it.
static uint32_t pipe_error() {
    DWORD code = GetLastError();
    if (code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED) {
        return kErrorBrokenPipe;
    }
    return code;
}

// A byte-mode pipe may hand a large reply over in pieces, so a transfer is
// repeated until every byte has moved.
bool platform_pipe_read(PlatformHandle pipe, void* data, uint32_t size, uint32_t* moved,
                        uint32_t* error) {
    char* at = (char*)data;
    *moved = 0;
    *error = 0;
    while (*moved < size) {
        DWORD count = 0;
        if (!ReadFile((HANDLE)pipe, at + *moved, size - *moved, &count, nullptr)) {
            *error = pipe_error();
            return false;
        }
        *moved += count;
    }
    return true;
}

bool platform_pipe_write(PlatformHandle pipe, const void* data, uint32_t size, uint32_t* moved,
                         uint32_t* error) {
    const char* at = (const char*)data;
    *moved = 0;
    *error = 0;
    while (*moved < size) {
        DWORD count = 0;
        if (!WriteFile((HANDLE)pipe, at + *moved, size - *moved, &count, nullptr)) {
            *error = pipe_error();
            return false;
        }
        *moved += count;
    }
    return true;
}

void platform_pipe_close(PlatformHandle pipe) {
    if (pipe != kInvalidHandle) {
        CloseHandle((HANDLE)pipe);
    }
}

// ---- Text and digests ----

void platform_lower_case(char16_t* text, size_t units) {
    if (units > 0) {
        CharLowerBuffW(wide(text), (DWORD)units);
    }
}

bool platform_sha256(const void* data, size_t size, uint8_t digest[32]) {
    if (size > MAXDWORD) {
        return false;
    }
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        return false;
    }
    HCRYPTHASH hash = 0;
    bool ok = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != 0;
    if (ok) {
        DWORD length = 32;
        ok = CryptHashData(hash, (const BYTE*)data, (DWORD)size, 0) &&
             CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == 32;
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    return ok;
}

// ---- Files and folders ----

bool platform_canonical_path(const char16_t* path, char16_t* out, size_t units) {
    if (units < 2) {
        return false;
    }
    HANDLE file = open_for_reading(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD size = (DWORD)(units - 1);
    DWORD length = GetFinalPathNameByHandleW(file, wide(out), size, 0);
    CloseHandle(file);
    return length >= 1 && length <= size;
}

bool platform_user_data_folder(char16_t* out, size_t units) {
    PWSTR folder = nullptr;
    bool ok = SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder)) &&
              folder != nullptr && folder[0] != 0;
    if (ok) {
        // Cut to fit like every other path; a cut one is simply not found.
        text_copy(out, units, reinterpret_cast<const char16_t*>(folder));
    }
    CoTaskMemFree(folder);
    return ok;
}

bool platform_path_exists(const char16_t* path) {
    return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool platform_file_time(const char16_t* path, uint64_t* time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) {
        return false;
    }
    // High half first, then low half: one unsigned 64-bit comparison.
    *time =
        ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

FileReadResult platform_read_file_start(const char16_t* path, void* data, uint32_t size,
                                        uint32_t* bytes_read) {
    *bytes_read = 0;
    HANDLE file = open_for_reading(path);
    if (file == INVALID_HANDLE_VALUE) {
        return kFileNotOpened;
    }
    DWORD count = 0;
    BOOL ok = ReadFile(file, data, size, &count, nullptr);
    CloseHandle(file);
    if (!ok) {
        return kFileNotRead;
    }
    *bytes_read = count;
    return kFileRead;
}

bool platform_list_folder(const char16_t* folder, EntryVisitor visit, void* context) {
    // Room for a 261-unit folder, a separator and the wildcard.
    char16_t pattern[264];
    text_copy(pattern, sizeof(pattern) / sizeof(pattern[0]), folder);
    size_t length = text_length(pattern);
    if (length > 0 && pattern[length - 1] != u'\\' && pattern[length - 1] != u'/') {
        text_append(pattern, sizeof(pattern) / sizeof(pattern[0]), u"\\");
    }
    text_append(pattern, sizeof(pattern) / sizeof(pattern[0]), u"*");

    WIN32_FIND_DATAW entry;
    HANDLE scan = FindFirstFileW(wide(pattern), &entry);
    if (scan == INVALID_HANDLE_VALUE) {
        return false;
    }
    // The system's own order: of two equally recent folders the one it lists
    // first is kept.
    do {
        bool is_directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!visit(reinterpret_cast<const char16_t*>(entry.cFileName), is_directory, context)) {
            break;
        }
    } while (FindNextFileW(scan, &entry));
    FindClose(scan);
    return true;
}

// ---- Processes ----

uint32_t platform_parent_process_id() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD self = GetCurrentProcessId();
    uint32_t parent = 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

bool platform_process_image(uint32_t process_id, char16_t* out, size_t units) {
    if (units < 2) {
        return false;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == nullptr) {
        return false;
    }
    DWORD size = (DWORD)(units - 1);
    BOOL ok = QueryFullProcessImageNameW(process, 0, wide(out), &size);
    CloseHandle(process);
    return ok && size > 0;
}

bool platform_start_process(const char16_t* path, bool portable, uint32_t* process_id,
                            uint32_t* error) {
    // "\"<path>\" /portable", cut to fit and always terminated.
    char16_t command[259];
    text_copy(command, 259, u"\"");
    text_append(command, 259, path);
    text_append(command, 259, u"\" /portable");

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    static_assert(sizeof(STARTUPINFOW) == 104, "start-up information of a 64-bit process");
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = INVALID_HANDLE_VALUE;
    startup.hStdError = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessW(wide(path), portable ? wide(command) : nullptr, nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        *error = GetLastError();
        return false;
    }
    // The terminal is never waited for or watched: it outlives the link.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    *process_id = process.dwProcessId;
    *error = 0;
    return true;
}

// Without its handle the process cannot be watched, and Windows leaves no
// zombie to reap.
bool platform_started_process_ended(uint32_t) {
    return false;
}

void platform_reap_started_processes() {}

void platform_sleep_ms(uint32_t milliseconds) {
    Sleep(milliseconds);
}
