// The POSIX pipe server: a Unix-domain socket served by one loop over a
// poller that reports only the clients that are ready.
#include "terminal/server/server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "link/platform/posix_socket.h"
#include "terminal/server/idle.h"
#include "terminal/server/log.h"
#include "terminal/server/poller.h"
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
    // A crowd of clients connecting at once waits in the queue rather than
    // retrying its connects.
    if (bind(fd, (sockaddr*)&address, sizeof(address)) != 0 || listen(fd, SOMAXCONN) != 0 ||
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

// The most clients served at once. Each costs a descriptor and its buffers;
// a client beyond this is closed at once.
constexpr size_t kMaxClients = 4096;
// Descriptors kept for the terminal's own files: the listener, the wake-up
// pipe, the log, the database and its journal, the spare below.
constexpr size_t kOwnDescriptors = 32;

// The open-file limit raised to its hard limit, as far as the system lets;
// returns how many clients fit under it.
static size_t client_limit() {
    rlimit limit = {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return kMaxClients;  // accept fails with EMFILE if there is no room
    }
    rlim_t wanted = std::max<rlim_t>(limit.rlim_cur, kMaxClients + kOwnDescriptors);
    for (rlim_t soft : {limit.rlim_max, std::min(wanted, limit.rlim_max)}) {
        rlimit raised = {soft, limit.rlim_max};
        if (soft > limit.rlim_cur && setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit.rlim_cur = soft;
            break;
        }
    }
    if (limit.rlim_cur <= kOwnDescriptors) {
        return 1;
    }
    return (size_t)std::min<rlim_t>(kMaxClients, limit.rlim_cur - kOwnDescriptors);
}

// Held open so that a connection can still be taken and turned away when
// every other descriptor is in use; otherwise it would stay queued and wake
// the loop again and again.
static int g_spare_fd = -1;
static size_t g_max_clients = kMaxClients;

// One log line a second at most, however many clients a crowd brings.
static void log_turned_away(const char* why) {
    static auto last = std::chrono::steady_clock::time_point();
    static unsigned long count = 0;
    count++;
    auto now = std::chrono::steady_clock::now();
    if (now - last >= std::chrono::seconds(1)) {
        log_line("%lu client(s) turned away: %s", count, why);
        last = now;
        count = 0;
    }
}

static void refuse_one(int listener) {
    close(g_spare_fd);
    int fd = accept(listener, nullptr, nullptr);
    if (fd >= 0) {
        close(fd);
    }
    g_spare_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    log_turned_away("out of file descriptors");
}

struct Client {
    Session session;
    bool awaits_output = false;  // watched for output while a reply is pending
};
typedef std::unordered_map<int, Client> Clients;

static void accept_clients(int listener, Clients* clients) {
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) {
            if ((errno == EMFILE || errno == ENFILE) && g_spare_fd >= 0) {
                refuse_one(listener);
            }
            return;
        }
        if (clients->size() >= g_max_clients) {
            close(fd);
            char why[96];
            std::snprintf(why, sizeof(why), "%zu clients are connected, the most served at once",
                          clients->size());
            log_turned_away(why);
            continue;
        }
        if (!posix_peer_is_this_user(fd) || !set_non_blocking(fd)) {
            close(fd);  // only this user's processes may drive the terminal
            continue;
        }
        if (!poller_add(fd)) {
            close(fd);
            log_turned_away(std::strerror(errno));
            continue;
        }
        (*clients)[fd].session.fd = fd;
        log_line("client %d connected", fd);
    }
}

// Moves one client forward; false when it is to be dropped.
static bool step_client(Session& session, const PollerEvent& event) {
    if (event.failed) {
        return false;
    }
    if (event.input && !read_client(session)) {
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

static void drop_client(Clients* clients, Clients::iterator it) {
    log_line("client %d disconnected", it->first);
    poller_remove(it->first);
    close(it->first);
    session_closed(it->second.session);
    clients->erase(it);
}

static void serve_client(Clients* clients, const PollerEvent& event) {
    auto it = clients->find(event.fd);
    if (it == clients->end()) {
        return;
    }
    Client& client = it->second;
    if (!step_client(client.session, event)) {
        drop_client(clients, it);
        return;
    }
    bool pending = !client.session.out.empty();
    if (pending != client.awaits_output) {
        if (!poller_want_output(event.fd, pending)) {
            drop_client(clients, it);
            return;
        }
        client.awaits_output = pending;
    }
}

// Events taken from the poller in one turn; more wait for the next turn.
constexpr size_t kEventsPerTurn = 256;

// The wake-up pipe that a stop signal writes to, the spare descriptor, the
// client limit, and the poller watching the pipe and the listener.
static bool start_serving(int listener, std::string* error) {
    if (pipe(g_wake) != 0) {
        *error = std::string("pipe failed: ") + std::strerror(errno);
        return false;
    }
    set_non_blocking(g_wake[0]);
    set_non_blocking(g_wake[1]);
    g_spare_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    g_max_clients = client_limit();
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    if (!poller_open() || !poller_add(g_wake[0]) || !poller_add(listener)) {
        *error = std::string("cannot wait for clients: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool server_run(const std::string& socket_path, std::string* error) {
    int listener = listen_at(socket_path, error);
    if (listener < 0) {
        return false;
    }
    if (!start_serving(listener, error)) {
        close(listener);
        return false;
    }
    log_line("listening at %s for up to %zu clients", socket_path.c_str(), g_max_clients);

    Clients clients;
    PollerEvent events[kEventsPerTurn];
    bool running = true;
    while (running) {
        int ready = poller_wait(kServerStepMs, events, kEventsPerTurn);
        if (ready < 0) {
            *error = std::string("waiting for clients failed: ") + std::strerror(errno);
            break;
        }
        bool connecting = false;
        for (int i = 0; i < ready; i++) {
            if (events[i].fd == g_wake[0]) {
                running = false;
            } else if (events[i].fd == listener) {
                connecting = true;
            } else {
                serve_client(&clients, events[i]);
            }
        }
        if (connecting) {
            accept_clients(listener, &clients);
        }
        server_idle_step(ready > 0);
    }
    for (auto& entry : clients) {
        close(entry.first);
    }
    poller_close();
    close(listener);
    unlink(socket_path.c_str());
    log_line("stopped");
    return error->empty();
}
