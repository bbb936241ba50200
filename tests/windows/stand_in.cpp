// A stand-in terminal for the Python tests on Windows: a program file that
// the module can start like terminal64.exe. It runs the tests' fake peer
// (the Python and the script named on the two lines of "stand_in.txt"
// beside it) and tells it this program's path, its command line and whether
// it was given standard handles, then ends when the peer ends.
#include <windows.h>

#include <cstdio>
#include <string>

static std::wstring widen(const std::string& text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(units > 0 ? units - 1 : 0, L'\0');
    if (units > 1) {
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], units);
    }
    return wide;
}

// The two lines of "stand_in.txt": the Python program and the script.
static bool read_setup(const std::wstring& folder, std::wstring* python, std::wstring* script) {
    FILE* file = _wfopen((folder + L"stand_in.txt").c_str(), L"rb");
    if (file == nullptr) {
        return false;
    }
    char line[4096];
    std::string lines[2];
    for (std::string& text : lines) {
        if (std::fgets(line, sizeof line, file) == nullptr) {
            break;
        }
        text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
    }
    std::fclose(file);
    *python = widen(lines[0]);
    *script = widen(lines[1]);
    return !python->empty() && !script->empty();
}

static bool has_std_handles() {
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            return true;
        }
    }
    return false;
}

int wmain() {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 2;
    }
    std::wstring folder(self, length);
    folder.erase(folder.find_last_of(L'\\') + 1);
    std::wstring python, script;
    if (!read_setup(folder, &python, &script)) {
        return 3;
    }
    SetEnvironmentVariableW(L"QUILLMARK_STAND_IN_PATH", self);
    SetEnvironmentVariableW(L"QUILLMARK_STAND_IN_COMMAND_LINE", GetCommandLineW());
    SetEnvironmentVariableW(L"QUILLMARK_STAND_IN_HANDLES", has_std_handles() ? L"given" : L"none");

    // The terminal may have been started without standard handles; Python
    // cannot start without them, so it gets the null device.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE null =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null;
    std::wstring command = L"\"" + python + L"\" -S \"" + script + L"\" --launched";
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(python.c_str(), &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return 4;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(null);
    return static_cast<int>(code);
}
