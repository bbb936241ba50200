// A client's byte stream cut into requests, and its reply buffer kept between
// replies.
#include <cstring>

#include "terminal/server/log.h"
#include "terminal/server/session.h"

// A connection keeps its reply buffer between replies, since allocating and
// faulting in tens of megabytes again for every large reply costs more than
// making the reply; only a buffer above this size is given back, so that one
// huge reply does not pin its memory for the rest of the connection.
constexpr size_t kKeptReplyBytes = 64u << 20;

bool serve_next_request(Session& session, bool* served) {
    *served = false;
    if (session.in.size() < 4) {
        return true;
    }
    uint32_t length;
    std::memcpy(&length, session.in.data(), 4);
    if (length < 4 || length > kMaxRequest) {
        log_line("client %d sent a request of %u bytes; dropped", session.fd, length);
        return false;
    }
    if (session.in.size() < 4 + (size_t)length) {
        return true;
    }
    uint32_t command;
    std::memcpy(&command, session.in.data() + 4, 4);
    handle_request(session, command, session.in.data() + 8, length - 4, &session.out);
    session.in.erase(session.in.begin(), session.in.begin() + 4 + length);
    *served = true;
    return true;
}

void reply_sent(Session& session) {
    session.out.clear();
    if (session.out.capacity() > kKeptReplyBytes) {
        std::vector<uint8_t>().swap(session.out);
    }
    session.out_sent = 0;
}
