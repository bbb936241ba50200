// Every operating-system call the link makes, behind one small interface with
// a Win32 and a POSIX back end. Text crosses it as NUL-terminated UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>

// A pipe or scan handle; -1 matches INVALID_HANDLE_VALUE.
typedef intptr_t PlatformHandle;
constexpr PlatformHandle kInvalidHandle = -1;

// The two system error numbers the link acts on; every other failure carries
// the system's own number (GetLastError or errno).
enum : uint32_t {
    kErrorBrokenPipe = 109,
    kErrorPipeBusy = 231,
};

// ---- Pipe client ----
// C linkage, so that a test can count these calls by interposing on them.
extern "C" {

// One attempt to open the pipe of that name ("\\.\pipe\..."). Returns the
// handle, or kInvalidHandle with *error set: kErrorPipeBusy when every
// instance is taken, else the system error. A pipe refused because it is not
// private to this user also fails, with a readable reason in `refusal`
// (UTF-8, empty otherwise).
PlatformHandle platform_pipe_open(const char16_t* name, uint32_t* error, char* refusal,
                                  size_t refusal_size);
// Blocks until an instance of a busy pipe may be free; false when waiting is
// not possible.
bool platform_pipe_wait(const char16_t* name);
// Move exactly `size` bytes unless the pipe fails. *moved is the count that
// did move; on false *error is the system error, kErrorBrokenPipe for end of
// file or a connection the peer dropped.
bool platform_pipe_read(PlatformHandle pipe, void* data, uint32_t size, uint32_t* moved,
                        uint32_t* error);
bool platform_pipe_write(PlatformHandle pipe, const void* data, uint32_t size, uint32_t* moved,
                         uint32_t* error);
void platform_pipe_close(PlatformHandle pipe);
}

// ---- Text and digests ----

// Lower-cases each UTF-16 unit in place, one unit at a time (no expansion), so
// that every side derives the same pipe name from the same path.
void platform_lower_case(char16_t* text, size_t units);
// SHA-256 of `size` bytes; false when the digest cannot be made.
bool platform_sha256(const void* data, size_t size, uint8_t digest[32]);

// ---- Files and folders ----

// The canonical form of an existing file's path (links and relative parts
// resolved). False when the file cannot be opened or the result has more than
// units - 1 units.
bool platform_canonical_path(const char16_t* path, char16_t* out, size_t units);
// The per-user folder for application data, without a trailing separator.
bool platform_user_data_folder(char16_t* out, size_t units);
// The separator between path components.
extern const char16_t kPathSeparator;
// The file name of the terminal's executable ("terminal64", "terminal64.exe").
extern const char16_t kTerminalExecutableName[];
// True when something exists at the path (file or folder).
bool platform_path_exists(const char16_t* path);
// The last-write time of an existing file as one count that compares like a
// file time; false when the file does not exist.
bool platform_file_time(const char16_t* path, uint64_t* time);

enum FileReadResult { kFileNotOpened, kFileNotRead, kFileRead };
// One read of up to `size` bytes from the start of a file.
FileReadResult platform_read_file_start(const char16_t* path, void* data, uint32_t size,
                                        uint32_t* bytes_read);

// Calls `visit` for each entry of a folder, in a stable order; the visitor
// returns false to stop early. False when the folder cannot be listed.
typedef bool (*EntryVisitor)(const char16_t* name, bool is_directory, void* context);
bool platform_list_folder(const char16_t* folder, EntryVisitor visit, void* context);

// ---- Processes ----

// The id of the process that started this one; 0 when unknown.
uint32_t platform_parent_process_id();
// The executable of a running process; false when it cannot be read or does
// not fit in `units` - 1 units.
bool platform_process_image(uint32_t process_id, char16_t* out, size_t units);
// Starts the program at exactly `path` (a relative path from the current
// folder, never a search), detached from this process: own session, no
// standard handles, nothing else inherited. With the switch "/portable" when
// asked. On true, *process_id is the started process; on false, *error is the
// system error.
bool platform_start_process(const char16_t* path, bool portable, uint32_t* process_id,
                            uint32_t* error);
// True when a process started by platform_start_process has already ended
// (and is reaped). False while it runs, and where the system cannot tell.
bool platform_started_process_ended(uint32_t process_id);
// Reaps every started process that has ended, so that none lingers as a
// zombie; cheap when there is none.
void platform_reap_started_processes();
void platform_sleep_ms(uint32_t milliseconds);
