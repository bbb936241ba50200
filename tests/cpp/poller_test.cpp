// The server's poller over real socket pairs: built once with each
// implementation, so the poll() one that other systems use is tried here too.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <vector>

#include "check.h"
#include "terminal/server/poller.h"

// `watched` is the server's end, `peer` the client's.
struct Pair {
    int watched = -1;
    int peer = -1;
    Pair() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            watched = fds[0];
            peer = fds[1];
        }
    }
    ~Pair() {
        close(watched);
        close(peer);
    }
};

static std::vector<PollerEvent> wait_events(int timeout_ms = 0, size_t capacity = 64) {
    std::vector<PollerEvent> events(capacity);
    int count = poller_wait(timeout_ms, events.data(), capacity);
    CHECK(count >= 0);
    events.resize(count < 0 ? 0 : (size_t)count);
    return events;
}

static void send_byte(int fd) {
    char byte = 'x';
    CHECK(write(fd, &byte, 1) == 1);
}

static void reports_input_until_it_is_read() {
    Pair pair;
    CHECK(poller_add(pair.watched));
    CHECK(!poller_add(pair.watched));
    CHECK(wait_events().empty());
    send_byte(pair.peer);
    for (int turn = 0; turn < 2; turn++) {
        std::vector<PollerEvent> events = wait_events(1000);
        CHECK(events.size() == 1);
        CHECK(events.size() == 1 && events[0].fd == pair.watched && events[0].input &&
              !events[0].output && !events[0].failed);
    }
    char byte;
    CHECK(read(pair.watched, &byte, 1) == 1);
    CHECK(wait_events().empty());
    poller_remove(pair.watched);
}

// While a reply is pending the client's input waits: only output is reported.
static void reports_output_only_while_asked() {
    Pair pair;
    CHECK(poller_add(pair.watched));
    send_byte(pair.peer);
    CHECK(poller_want_output(pair.watched, true));
    std::vector<PollerEvent> events = wait_events();
    CHECK(events.size() == 1 && events[0].output && !events[0].input);
    CHECK(poller_want_output(pair.watched, false));
    events = wait_events();
    CHECK(events.size() == 1 && events[0].input && !events[0].output);
    poller_remove(pair.watched);
    CHECK(wait_events().empty());
    CHECK(!poller_want_output(pair.watched, true));
}

static void reports_a_hang_up() {
    Pair pair;
    CHECK(poller_add(pair.watched));
    CHECK(poller_want_output(pair.watched, true));
    shutdown(pair.peer, SHUT_RDWR);
    std::vector<PollerEvent> events = wait_events(1000);
    CHECK(events.size() == 1 && (events[0].input || events[0].failed));
    poller_remove(pair.watched);
}

// More ready clients than one wait takes: the next wait reports the others.
static void serves_every_ready_client_in_turn() {
    std::vector<Pair> pairs(300);
    for (Pair& pair : pairs) {
        CHECK(poller_add(pair.watched));
        send_byte(pair.peer);
    }
    std::set<int> seen;
    for (int turn = 0; turn < 2; turn++) {
        std::vector<PollerEvent> events = wait_events(1000, 256);
        CHECK(events.size() <= 256);
        for (const PollerEvent& event : events) {
            seen.insert(event.fd);
        }
    }
    CHECK(seen.size() == pairs.size());
    for (size_t i = 0; i < pairs.size(); i += 2) {
        poller_remove(pairs[i].watched);
    }
    CHECK(wait_events(1000, 512).size() == pairs.size() / 2);
    for (size_t i = 1; i < pairs.size(); i += 2) {
        poller_remove(pairs[i].watched);
    }
    CHECK(wait_events().empty());
}

int main() {
    if (!poller_open()) {
        std::fprintf(stderr, "no poller\n");
        return 1;
    }
    reports_input_until_it_is_read();
    reports_output_only_while_asked();
    reports_a_hang_up();
    serves_every_ready_client_in_turn();
    poller_close();
    std::printf("%d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
