// One connected client and the framing of its byte stream into requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct Session {
    int fd = -1;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    size_t out_sent = 0;
    std::set<std::u16string> depth_symbols;  // depth of market opened by this client
};

// A request longer than this is not one the protocol knows: its client is
// dropped instead of being buffered.
constexpr uint32_t kMaxRequest = 64 * 1024;

// Answers one complete request by appending exactly one reply to `out`.
void handle_request(Session& session, uint32_t command, const uint8_t* payload, size_t size,
                    std::vector<uint8_t>* out);

// Answers the next complete request in the session's input, if there is one,
// into its output. False when the client sent something that is not a
// request.
bool serve_next_request(Session& session, bool* served);
// Readies the session's output for the next reply once this one has gone out.
void reply_sent(Session& session);
