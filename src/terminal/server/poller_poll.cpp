// The server's poller where there is no epoll (macOS and other POSIX
// systems): one pollfd array kept between turns, each descriptor's slot found
// through a table indexed by descriptor.
#include <cerrno>
#include <vector>

#include <poll.h>

#include "terminal/server/poller.h"

static std::vector<pollfd> g_polled;
static std::vector<int> g_slot_of_fd;  // -1 where a descriptor is not watched
static size_t g_first_slot = 0;        // where the next wait starts reporting

bool poller_open() {
    g_polled.clear();
    g_slot_of_fd.clear();
    g_first_slot = 0;
    return true;
}

void poller_close() {
    poller_open();
}

static int slot_of(int fd) {
    return fd >= 0 && (size_t)fd < g_slot_of_fd.size() ? g_slot_of_fd[fd] : -1;
}

bool poller_add(int fd) {
    if (fd < 0 || slot_of(fd) >= 0) {
        return false;
    }
    if ((size_t)fd >= g_slot_of_fd.size()) {
        g_slot_of_fd.resize((size_t)fd + 1, -1);
    }
    g_slot_of_fd[fd] = (int)g_polled.size();
    g_polled.push_back(pollfd{fd, POLLIN, 0});
    return true;
}

bool poller_want_output(int fd, bool output) {
    int slot = slot_of(fd);
    if (slot < 0) {
        return false;
    }
    g_polled[slot].events = output ? POLLOUT : POLLIN;
    return true;
}

void poller_remove(int fd) {
    int slot = slot_of(fd);
    if (slot < 0) {
        return;
    }
    // The last slot moves into the freed one, so the array stays dense.
    g_polled[slot] = g_polled.back();
    g_slot_of_fd[g_polled[slot].fd] = slot;
    g_polled.pop_back();
    g_slot_of_fd[fd] = -1;
}

int poller_wait(int timeout_ms, PollerEvent* events, size_t capacity) {
    int ready = poll(g_polled.data(), g_polled.size(), timeout_ms);
    if (ready <= 0) {
        return ready < 0 && errno != EINTR ? -1 : 0;
    }
    // Each wait starts where the last one stopped, so that when more
    // clients are ready than fit, the same ones are not always served first.
    size_t count = 0;
    size_t next_slot = g_first_slot;
    size_t size = g_polled.size();
    for (size_t step = 0; step < size && count < capacity; step++) {
        size_t slot = (g_first_slot + step) % size;
        const pollfd& polled = g_polled[slot];
        if (polled.revents == 0) {
            continue;
        }
        next_slot = slot + 1;
        events[count].fd = polled.fd;
        events[count].input = (polled.revents & (POLLIN | POLLHUP)) != 0;
        events[count].output = (polled.revents & POLLOUT) != 0;
        events[count].failed = (polled.revents & (POLLERR | POLLNVAL)) != 0;
        count++;
    }
    g_first_slot = next_slot % size;
    return (int)count;
}
