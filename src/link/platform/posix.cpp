// The POSIX back end: Unix-domain sockets for pipes, OpenSSL for the digest,
// the XDG data folder, /proc for the parent process, posix_spawn to start.
#include "link/platform/platform.h"
#include "link/platform/posix_socket.h"
#include "wire/text.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <libproc.h>
#endif

extern char** environ;

const char16_t kPathSeparator = u'/';
const char16_t kTerminalExecutableName[] = u"terminal64";

// Paths reach the system as UTF-8; PATH_MAX bytes hold any path it accepts.
struct NarrowPath {
    char text[PATH_MAX * 2];
    explicit NarrowPath(const char16_t* path) { utf16_to_utf8(path, SIZE_MAX, text, sizeof(text)); }
};

// ---- Socket folder and path ----

bool posix_socket_folder(char* out, size_t size) {
    int length = std::snprintf(out, size, "/tmp/zrv-%u", (unsigned)getuid());
    return length > 0 && (size_t)length < size;
}

bool posix_socket_path(const char16_t* pipe_name, char* out, size_t size) {
    static const char16_t kPrefix[] = u"\\\\.\\pipe\\";
    size_t prefix = text_length(kPrefix);
    for (size_t i = 0; i < prefix; i++) {
        if (pipe_name[i] != kPrefix[i]) {
            return false;
        }
    }
    const char16_t* rest = pipe_name + prefix;
    if (rest[0] == 0) {
        return false;
    }
    for (const char16_t* unit = rest; *unit != 0; unit++) {
        if (*unit == u'/' || *unit == u'\\') {
            return false;
        }
    }
    char folder[64];
    char name[1024];
    if (text_length(rest) >= sizeof(name) / 4 || !posix_socket_folder(folder, sizeof(folder))) {
        return false;
    }
    utf16_to_utf8(rest, SIZE_MAX, name, sizeof(name));
    size_t limit = std::min(size, sizeof(sockaddr_un{}.sun_path));
    int length = std::snprintf(out, limit, "%s/%s", folder, name);
    return length > 0 && (size_t)length < limit;
}

SocketFolderState posix_check_socket_folder(const char* folder, char* reason, size_t size) {
    struct stat info;
    if (lstat(folder, &info) != 0) {
        if (errno == ENOENT) {
            return kSocketFolderMissing;
        }
        std::snprintf(reason, size, "cannot inspect '%s' [%d]", folder, errno);
        return kSocketFolderRefused;
    }
    if (S_ISLNK(info.st_mode)) {
        std::snprintf(reason, size, "'%s' is a symbolic link", folder);
        return kSocketFolderRefused;
    }
    if (!S_ISDIR(info.st_mode)) {
        std::snprintf(reason, size, "'%s' is not a folder", folder);
        return kSocketFolderRefused;
    }
    if (info.st_uid != getuid()) {
        std::snprintf(reason, size, "'%s' belongs to another user", folder);
        return kSocketFolderRefused;
    }
    if ((info.st_mode & 077) != 0) {
        std::snprintf(reason, size, "'%s' is open to other users (mode %03o)", folder,
                      (unsigned)(info.st_mode & 0777));
        return kSocketFolderRefused;
    }
    return kSocketFolderPrivate;
}

SocketFolderState posix_make_socket_folder(const char* folder, char* reason, size_t size) {
    if (mkdir(folder, 0700) != 0 && errno != EEXIST) {
        std::snprintf(reason, size, "cannot create '%s' [%d]", folder, errno);
        return kSocketFolderRefused;
    }
    return posix_check_socket_folder(folder, reason, size);
}

// ---- Pipe client ----

bool posix_peer_is_this_user(int fd) {
#if defined(__APPLE__)
    uid_t uid;
    gid_t gid;
    return getpeereid(fd, &uid, &gid) == 0 && uid == getuid();
#else
    struct ucred credentials;
    socklen_t length = sizeof(credentials);
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           credentials.uid == getuid();
#endif
}

// A refusal is reported as EACCES with its reason.
static PlatformHandle refuse(int fd, uint32_t* error, char* refusal, size_t size,
                             const char* reason) {
    if (fd >= 0) {
        close(fd);
    }
    std::snprintf(refusal, size, "%s", reason);
    *error = EACCES;
    return kInvalidHandle;
}

PlatformHandle platform_pipe_open(const char16_t* name, uint32_t* error, char* refusal,
                                  size_t refusal_size) {
    refusal[0] = 0;
    char folder[64];
    char path[sizeof(sockaddr_un{}.sun_path)];
    if (!posix_socket_folder(folder, sizeof(folder)) ||
        !posix_socket_path(name, path, sizeof(path))) {
        *error = ENAMETOOLONG;
        return kInvalidHandle;
    }
    char reason[512];
    switch (posix_check_socket_folder(folder, reason, sizeof(reason))) {
        case kSocketFolderMissing:
            *error = ENOENT;
            return kInvalidHandle;
        case kSocketFolderRefused:
            return refuse(-1, error, refusal, refusal_size, reason);
        case kSocketFolderPrivate:
            break;
    }

        // Non-blocking, so that a full listen queue is reported (as a busy pipe)
        // instead of blocking inside connect.
#if defined(SOCK_CLOEXEC)
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
#else
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
#endif
    if (fd < 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        *error = errno;
        if (fd >= 0) {
            close(fd);
        }
        return kInvalidHandle;
    }
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path, std::strlen(path) + 1);
    int result;
    do {
        result = connect(fd, (const sockaddr*)&address, sizeof(address));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        // A socket file without a listener (ECONNREFUSED) is a missing pipe,
        // like a missing file: the caller starts the terminal.
        *error = (errno == EAGAIN || errno == EWOULDBLOCK) ? kErrorPipeBusy : (uint32_t)errno;
        close(fd);
        return kInvalidHandle;
    }
    if (!posix_peer_is_this_user(fd)) {
        return refuse(fd, error, refusal, refusal_size, "the pipe's server runs as another user");
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *error = errno;
        close(fd);
        return kInvalidHandle;
    }
#if defined(__APPLE__)
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
#endif
    *error = 0;
    return fd;
}

bool platform_pipe_wait(const char16_t*) {
    // A Unix socket has no wait for a free instance: give the server a moment
    // to accept the queued connections, then let the caller try again.
    platform_sleep_ms(10);
    return true;
}

static uint32_t pipe_error(int code) {
    return (code == EPIPE || code == ECONNRESET) ? kErrorBrokenPipe : (uint32_t)code;
}

bool platform_pipe_read(PlatformHandle pipe, void* data, uint32_t size, uint32_t* moved,
                        uint32_t* error) {
    char* at = (char*)data;
    *moved = 0;
    *error = 0;
    while (*moved < size) {
        ssize_t count = recv((int)pipe, at + *moved, size - *moved, 0);
        if (count > 0) {
            *moved += (uint32_t)count;
        } else if (count == 0) {
            *error = kErrorBrokenPipe;
            return false;
        } else if (errno != EINTR) {
            *error = pipe_error(errno);
            return false;
        }
    }
    return true;
}

bool platform_pipe_write(PlatformHandle pipe, const void* data, uint32_t size, uint32_t* moved,
                         uint32_t* error) {
#if defined(MSG_NOSIGNAL)
    const int flags = MSG_NOSIGNAL;
#else
    const int flags = 0;  // SO_NOSIGPIPE is set on the socket instead
#endif
    const char* at = (const char*)data;
    *moved = 0;
    *error = 0;
    while (*moved < size) {
        ssize_t count = send((int)pipe, at + *moved, size - *moved, flags);
        if (count >= 0) {
            *moved += (uint32_t)count;
        } else if (errno != EINTR) {
            *error = pipe_error(errno);
            return false;
        }
    }
    return true;
}

void platform_pipe_close(PlatformHandle pipe) {
    if (pipe != kInvalidHandle) {
        close((int)pipe);
    }
}

// ---- Text and digests ----

static char16_t lower_unit(char16_t unit) {
    uint32_t c = unit;
    bool even = (c & 1) == 0;
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    if (c < 0x100)
        return c;
    if (c <= 0x137)
        return even && c != 0x130 ? c + 1 : (c == 0x130 ? u'i' : c);
    if (c >= 0x139 && c <= 0x148)
        return even ? c : c + 1;
    if (c >= 0x14A && c <= 0x177)
        return even ? c + 1 : c;
    if (c == 0x178)
        return 0xFF;
    if (c >= 0x179 && c <= 0x17E)
        return even ? c : c + 1;
    if (c == 0x386)
        return 0x3AC;
    if (c >= 0x388 && c <= 0x38A)
        return c + 37;
    if (c == 0x38C)
        return 0x3CC;
    if (c == 0x38E || c == 0x38F)
        return c + 63;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if (c >= 0x410 && c <= 0x42F)
        return c + 0x20;
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF))
        return even ? c + 1 : c;
    if (c == 0x4C0)
        return 0x4CF;
    if (c >= 0x4C1 && c <= 0x4CE)
        return even ? c : c + 1;
    if (c >= 0x4D0 && c <= 0x52F)
        return even ? c + 1 : c;
    if (c >= 0x531 && c <= 0x556)
        return c + 0x30;
    if ((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF))
        return even ? c + 1 : c;
    if (c >= 0xFF21 && c <= 0xFF3A)
        return c + 0x20;
    return c;
}

void platform_lower_case(char16_t* text, size_t units) {
    for (size_t i = 0; i < units; i++) {
        text[i] = lower_unit(text[i]);
    }
}

bool platform_sha256(const void* data, size_t size, uint8_t digest[32]) {
    unsigned int length = 0;
    return EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) == 1 && length == 32;
}

// ---- Files and folders ----

// UTF-8 to `out`, false when it does not fit whole.
static bool widen_whole(const char* text, char16_t* out, size_t units) {
    char16_t wide[PATH_MAX * 2];
    size_t length = utf8_to_utf16(text, wide, PATH_MAX * 2);
    if (length + 1 > units || length + 1 >= PATH_MAX * 2) {
        return false;
    }
    std::memcpy(out, wide, (length + 1) * sizeof(char16_t));
    return true;
}

bool platform_canonical_path(const char16_t* path, char16_t* out, size_t units) {
    NarrowPath narrow(path);
    char resolved[PATH_MAX];
    if (narrow.text[0] == 0 || realpath(narrow.text, resolved) == nullptr) {
        return false;
    }
    return widen_whole(resolved, out, units);
}

static std::string home_folder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != 0) {
        return home;
    }
    std::vector<char> scratch(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, scratch.data(), scratch.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return std::string();
}

bool platform_user_data_folder(char16_t* out, size_t units) {
    std::string folder;
    const char* data_home = std::getenv("XDG_DATA_HOME");
    if (data_home != nullptr && data_home[0] == '/') {
        folder = data_home;
    } else {
        folder = home_folder();
        if (folder.empty()) {
            return false;
        }
        if (folder.back() != '/') {
            folder += '/';
        }
        folder += ".local/share";
    }
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return widen_whole(folder.c_str(), out, units);
}

bool platform_path_exists(const char16_t* path) {
    NarrowPath narrow(path);
    struct stat info;
    return stat(narrow.text, &info) == 0;
}

bool platform_file_time(const char16_t* path, uint64_t* time) {
    NarrowPath narrow(path);
    struct stat info;
    if (stat(narrow.text, &info) != 0) {
        return false;
    }
#if defined(__APPLE__)
    const struct timespec& modified = info.st_mtimespec;
#else
    const struct timespec& modified = info.st_mtim;
#endif
    // 100-nanosecond steps since 1601, the scale of a Windows file time.
    const uint64_t kEpochOffset = 116444736000000000ULL;
    *time =
        kEpochOffset + (uint64_t)modified.tv_sec * 10000000ULL + (uint64_t)modified.tv_nsec / 100;
    return true;
}

FileReadResult platform_read_file_start(const char16_t* path, void* data, uint32_t size,
                                        uint32_t* bytes_read) {
    NarrowPath narrow(path);
    *bytes_read = 0;
    int fd = open(narrow.text, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return kFileNotOpened;
    }
    ssize_t count;
    do {
        count = read(fd, data, size);
    } while (count < 0 && errno == EINTR);
    close(fd);
    if (count < 0) {
        return kFileNotRead;
    }
    *bytes_read = (uint32_t)count;
    return kFileRead;
}

bool platform_list_folder(const char16_t* folder, EntryVisitor visit, void* context) {
    NarrowPath narrow(folder);
    DIR* scan = opendir(narrow.text);
    if (scan == nullptr) {
        return false;
    }
    // Sorted by name, so that ties between folders break the same way on
    // every run.
    std::vector<std::pair<std::string, bool>> entries;
    while (struct dirent* entry = readdir(scan)) {
        struct stat info;
        bool is_directory =
            fstatat(dirfd(scan), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        entries.emplace_back(entry->d_name, is_directory);
    }
    closedir(scan);
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        char16_t name[1024];
        utf8_to_utf16(entry.first.c_str(), name, 1024);
        if (!visit(name, entry.second, context)) {
            break;
        }
    }
    return true;
}

// ---- Processes ----

uint32_t platform_parent_process_id() {
    return (uint32_t)getppid();
}

bool platform_process_image(uint32_t process_id, char16_t* out, size_t units) {
    char image[PATH_MAX];
#if defined(__APPLE__)
    if (proc_pidpath((int)process_id, image, sizeof(image)) <= 0) {
        return false;
    }
#else
    char link[64];
    std::snprintf(link, sizeof(link), "/proc/%u/exe", process_id);
    ssize_t length = readlink(link, image, sizeof(image) - 1);
    if (length <= 0) {
        return false;
    }
    image[length] = 0;
#endif
    return widen_whole(image, out, units);
}

// Every descriptor above standard error is closed in the child, so that the
// long-lived terminal holds nothing of this process (pipes this process
// inherited itself included).
static void close_all_but_standard(posix_spawn_file_actions_t* actions, short* flags) {
#if defined(__APPLE__)
    (void)actions;
    *flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    (void)flags;
    posix_spawn_file_actions_addclosefrom_np(actions, 3);
#else
    (void)flags;
    long limit = std::min(sysconf(_SC_OPEN_MAX), 65536L);
    for (int fd = 3; fd < limit; fd++) {
        int fd_flags = fcntl(fd, F_GETFD);
        if (fd_flags >= 0 && (fd_flags & FD_CLOEXEC) == 0) {
            posix_spawn_file_actions_addclose(actions, fd);
        }
    }
#endif
}

// Started terminals stay children of this process while it lives: each one
// that ends is reaped by a non-blocking wait on the next link call. A
// terminal started beyond this many running ones is not tracked.
constexpr size_t kMaxStarted = 64;
static pid_t g_started[kMaxStarted];
static size_t g_started_count = 0;

// True when the child has ended: reaped now, or already reaped elsewhere.
static bool reap_if_ended(pid_t child) {
    int status = 0;
    pid_t result;
    do {
        result = waitpid(child, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    return result != 0;
}

void platform_reap_started_processes() {
    size_t kept = 0;
    for (size_t i = 0; i < g_started_count; i++) {
        if (!reap_if_ended(g_started[i])) {
            g_started[kept++] = g_started[i];
        }
    }
    g_started_count = kept;
}

bool platform_started_process_ended(uint32_t process_id) {
    platform_reap_started_processes();
    for (size_t i = 0; i < g_started_count; i++) {
        if (g_started[i] == (pid_t)process_id) {
            return false;
        }
    }
    return reap_if_ended((pid_t)process_id);
}

bool platform_start_process(const char16_t* path, bool portable, uint32_t* process_id,
                            uint32_t* error) {
    NarrowPath program(path);
    char portable_switch[] = "/portable";
    char* argv[] = {program.text, portable ? portable_switch : nullptr, nullptr};

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    // Whatever this process ignores (Python ignores SIGPIPE and SIGXFSZ) is
    // reset, so that the terminal starts with the default of every signal.
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    for (int fd = 0; fd <= 2; fd++) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    close_all_but_standard(&actions, &flags);
    posix_spawnattr_setflags(&attributes, flags);
    // posix_spawn, not posix_spawnp: the path is never looked up on PATH, and
    // a file that cannot be executed (missing, not executable, no "#!" line,
    // missing interpreter) is an error here, never run as a shell script.
    pid_t child = 0;
    int result = posix_spawn(&child, program.text, &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        *error = (uint32_t)result;
        return false;
    }
    platform_reap_started_processes();
    if (g_started_count < kMaxStarted) {
        g_started[g_started_count++] = child;
    }
    *process_id = (uint32_t)child;
    *error = 0;
    return true;
}

void platform_sleep_ms(uint32_t milliseconds) {
    struct timespec wait = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}
