// The POSIX pipe server: a Unix-domain socket served by one poll loop.
#include "terminal/server/server.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <list>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "link/platform/posix_socket.h"
#include "terminal/server/idle.h"
#include "terminal/server/log.h"
#include "terminal/server/session.h"

static int g_wake[2] = {-1, -1};

static void on_stop_signal(int) {
    char byte = 1;
    ssize_t ignored = write(g_wake[1], &byte, 1);
    (void)ignored;
}

static bool set_non_blocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

static int listen_at(const std::string& path, std::string* error) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        *error = "socket path too long: " + path;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) {
        *error = std::string("socket failed: ") + std::strerror(errno);
        return -1;
    }
    unlink(path.c_str());  // a stale socket of an earlier run; the lock says none is alive
    if (bind(fd, (sockaddr*)&address, sizeof(address)) != 0 || listen(fd, 64) != 0 ||
        !set_non_blocking(fd)) {
        *error = "cannot listen at " + path + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

// False when the client is gone or misbehaved.
static bool read_client(Session& session) {
    uint8_t buffer[16384];
    for (;;) {
        ssize_t got = recv(session.fd, buffer, sizeof(buffer), 0);
        if (got > 0) {
            session.in.insert(session.in.end(), buffer, buffer + got);
            if (session.in.size() > 4 * (size_t)kMaxRequest) {
                break;  // enough for now; the rest waits for the replies to go out
            }
            continue;
        }
        if (got == 0) {
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        }
        return false;
    }
    return true;
}

static bool write_client(Session& session) {
    while (session.out_sent < session.out.size()) {
        ssize_t sent = send(session.fd, session.out.data() + session.out_sent,
                            session.out.size() - session.out_sent, MSG_NOSIGNAL);
        if (sent > 0) {
            session.out_sent += (size_t)sent;
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        return false;
    }
    reply_sent(session);
    return true;
}

// Held open so that a connection can still be taken and turned away when
// every other descriptor is in use; otherwise it would stay queued and wake
// the loop again and again.
static int g_spare_fd = -1;

static void refuse_one(int listener) {
    close(g_spare_fd);
    int fd = accept(listener, nullptr, nullptr);
    if (fd >= 0) {
        close(fd);
    }
    g_spare_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    log_line("out of file descriptors: a client was turned away");
}

static void accept_clients(int listener, std::list<Session>* sessions) {
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) {
            if ((errno == EMFILE || errno == ENFILE) && g_spare_fd >= 0) {
                refuse_one(listener);
            }
            return;
        }
        if (!posix_peer_is_this_user(fd) || !set_non_blocking(fd)) {
            close(fd);  // only this user's processes may drive the terminal
            continue;
        }
        sessions->emplace_back();
        sessions->back().fd = fd;
        log_line("client %d connected", fd);
    }
}

// Moves one client forward; false when it is to be dropped.
static bool step_client(Session& session, short events) {
    if (events & (POLLERR | POLLNVAL)) {
        return false;
    }
    if ((events & (POLLIN | POLLHUP)) && !read_client(session)) {
        return false;
    }
    if (!write_client(session)) {
        return false;
    }
    // One reply in flight at a time: a client that never reads its replies
    // cannot fill the terminal's memory with them.
    while (session.out.empty()) {
        bool served = false;
        if (!serve_next_request(session, &served)) {
            return false;
        }
        if (!served) {
            return true;
        }
        if (!write_client(session)) {
            return false;
        }
    }
    return true;
}

bool server_run(const std::string& socket_path, std::string* error) {
    int listener = listen_at(socket_path, error);
    if (listener < 0) {
        return false;
    }
    if (pipe(g_wake) != 0) {
        *error = "pipe failed";
        return false;
    }
    set_non_blocking(g_wake[0]);
    set_non_blocking(g_wake[1]);
    g_spare_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    log_line("listening at %s", socket_path.c_str());

    std::list<Session> sessions;
    std::vector<pollfd> polled;
    bool running = true;
    while (running) {
        polled.clear();
        polled.push_back(pollfd{g_wake[0], POLLIN, 0});
        polled.push_back(pollfd{listener, POLLIN, 0});
        for (Session& session : sessions) {
            short events = session.out.empty() ? POLLIN : POLLOUT;
            polled.push_back(pollfd{session.fd, events, 0});
        }
        int ready = poll(polled.data(), polled.size(), kServerStepMs);
        if (ready < 0 && errno != EINTR) {
            *error = std::string("poll failed: ") + std::strerror(errno);
            break;
        }
        if (ready > 0 && polled[0].revents != 0) {
            running = false;
        }
        size_t at = 2;
        for (auto it = sessions.begin(); it != sessions.end(); at++) {
            short events = ready > 0 ? polled[at].revents : 0;
            if (events != 0 && !step_client(*it, events)) {
                log_line("client %d disconnected", it->fd);
                close(it->fd);
                it = sessions.erase(it);
            } else {
                ++it;
            }
        }
        if (ready > 0 && polled[1].revents != 0) {
            accept_clients(listener, &sessions);
        }
        server_idle_step(ready > 0);
    }
    for (Session& session : sessions) {
        close(session.fd);
    }
    close(listener);
    unlink(socket_path.c_str());
    log_line("stopped");
    return error->empty();
}
