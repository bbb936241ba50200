// Which client sockets the server waits on, and for what: one set kept
// between turns, so that a turn costs the clients that are ready rather than
// every client connected. epoll on Linux, poll() on other POSIX systems.
#pragma once

#include <cstddef>

struct PollerEvent {
    int fd;
    bool input;   // readable, or the peer hung up: a read says which
    bool output;  // writable
    bool failed;  // an error on the socket, or not a socket any more
};

// False when the system will not give a poller.
bool poller_open();
void poller_close();

// Starts watching `fd` for input. False when the system refuses it.
bool poller_add(int fd);
// Watches `fd` for output instead of input while a reply waits to go out, and
// for input again once it has gone: a client is read only between replies.
bool poller_want_output(int fd, bool output);
// Stops watching `fd`; done before it is closed.
void poller_remove(int fd);

// Waits up to `timeout_ms` and fills at most `capacity` events; returns how
// many, 0 on a timeout or an interrupting signal, -1 on a failure.
int poller_wait(int timeout_ms, PollerEvent* events, size_t capacity);
