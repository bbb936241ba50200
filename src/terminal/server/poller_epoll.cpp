// The server's poller on Linux: an epoll set, level-triggered, so a client
// left with unread input is reported again on the next turn.
#include <cerrno>

#include <sys/epoll.h>
#include <unistd.h>

#include "terminal/server/poller.h"

constexpr int kMaxEventsPerWait = 256;

static int g_epoll = -1;

bool poller_open() {
    g_epoll = epoll_create1(EPOLL_CLOEXEC);
    return g_epoll >= 0;
}

void poller_close() {
    if (g_epoll >= 0) {
        close(g_epoll);
        g_epoll = -1;
    }
}

static bool watch(int fd, int operation, uint32_t events) {
    epoll_event event = {};
    event.events = events;
    event.data.fd = fd;
    return epoll_ctl(g_epoll, operation, fd, &event) == 0;
}

bool poller_add(int fd) {
    return watch(fd, EPOLL_CTL_ADD, EPOLLIN);
}

bool poller_want_output(int fd, bool output) {
    return watch(fd, EPOLL_CTL_MOD, output ? EPOLLOUT : EPOLLIN);
}

void poller_remove(int fd) {
    epoll_event ignored = {};  // kernels before 2.6.9 want one even here
    epoll_ctl(g_epoll, EPOLL_CTL_DEL, fd, &ignored);
}

int poller_wait(int timeout_ms, PollerEvent* events, size_t capacity) {
    epoll_event ready[kMaxEventsPerWait];
    int most = capacity < (size_t)kMaxEventsPerWait ? (int)capacity : kMaxEventsPerWait;
    int count = epoll_wait(g_epoll, ready, most, timeout_ms);
    if (count < 0) {
        return errno == EINTR ? 0 : -1;
    }
    for (int i = 0; i < count; i++) {
        uint32_t got = ready[i].events;
        events[i].fd = ready[i].data.fd;
        events[i].input = (got & (EPOLLIN | EPOLLHUP)) != 0;
        events[i].output = (got & EPOLLOUT) != 0;
        events[i].failed = (got & EPOLLERR) != 0;
    }
    return count;
}
