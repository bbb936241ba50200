// What the terminal needs at start on POSIX systems: its own path, its socket
// address, one instance per executable, and its folders.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "link/pipe_name.h"
#include "link/platform/platform.h"
#include "link/platform/posix_socket.h"
#include "terminal/app/start.h"
#include "wire/text.h"

void start_arguments(int*, char***) {}

void start_attach_console() {}

bool own_path(std::string* path) {
    static char16_t image[4096];
    static char utf8[4096 * 3];
    if (!platform_process_image((uint32_t)getpid(), image, sizeof(image) / sizeof(image[0])) ||
        !utf16_to_utf8_whole(image, sizeof(image) / sizeof(image[0]), utf8, sizeof(utf8))) {
        return false;
    }
    *path = utf8;
    return true;
}

bool server_address(const char16_t* pipe_name, std::string* address, std::string* error) {
    char socket_path[256];
    char folder[64];
    char reason[512] = "";
    if (!posix_socket_path(pipe_name, socket_path, sizeof(socket_path)) ||
        !posix_socket_folder(folder, sizeof(folder))) {
        *error = "cannot derive the pipe name";
        return false;
    }
    if (posix_make_socket_folder(folder, reason, sizeof(reason)) != kSocketFolderPrivate) {
        *error = reason;
        return false;
    }
    *address = socket_path;
    return true;
}

// The lock is held for the life of the process, so a second start can tell
// at once that the first one runs.
bool take_instance_lock(const std::string& address) {
    int fd = open((address + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
}

bool make_folder(const std::string& path) {
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}
