// What the whole terminal program shares: its settings from the command line,
// its folders, its connection state and the sessions of its clients.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "wire/status.h"
#include "terminal/engine.h"

struct TerminalConfig {
    uint32_t build = 4000;
    bool portable = false;
    bool no_autotrading = false;
    bool test_controls = false;
    bool show_help = false;
    uint32_t symbols = 0;
    uint32_t history_days = 0;  // 0: history from 2010-01-01
    uint64_t seed = 1;
    uint32_t positions = 0;
    std::vector<std::string> import_bars;   // SYMBOL=FILE
    std::vector<std::string> import_ticks;  // SYMBOL=FILE
    std::vector<AccountSettings> accounts;  // from --add-account
    // Filled at start-up.
    std::string executable;  // canonical path of this program
    std::string install_folder;
    std::string data_folder;  // config, logs and the account database live here
    std::string common_folder;
};

TerminalConfig& terminal_config();

// One connected client.
struct Session {
    int fd = -1;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    size_t out_sent = 0;
    std::set<std::u16string> books;  // depth of market opened by this client
};

// Answers one complete request by appending exactly one reply to `out`.
void handle_request(Session& session, uint32_t command, const uint8_t* payload, size_t size,
                    std::vector<uint8_t>* out);

// A request longer than this is not one the protocol knows: its client is
// dropped instead of being buffered.
constexpr uint32_t kMaxRequest = 64 * 1024;

// Answers the next complete request in the session's input, if there is one,
// into its output. False when the client sent something that is not a
// request.
bool serve_next_request(Session& session, bool* served);
// Readies the session's output for the next reply once this one has gone out.
void reply_sent(Session& session);

// The handlers of one group of commands; false when the command is not theirs.
struct RequestReader;
class ReplyWriter;
bool handle_connection_command(Session& session, uint32_t command, RequestReader& in,
                               ReplyWriter& reply);
bool handle_market_command(Session& session, uint32_t command, RequestReader& in,
                           ReplyWriter& reply);
bool handle_trading_command(Session& session, uint32_t command, RequestReader& in,
                            ReplyWriter& reply);

// Connection to the (simulated) trade server: connecting for a moment after
// start and after each login, then ready, or refused after a bad password.
void connection_start(int64_t now_msc);
uint32_t connection_state(int64_t now_msc);

// A test-only command (enabled by --test-controls): u16 text symbol, f64 bid,
// f64 ask; forces the symbol's prices from now on, bid = ask = 0 releases it.
constexpr uint32_t kCmdTestSetPrice = 60001;
// A test-only command (--test-controls): i64 time in milliseconds since 1970;
// charges the swaps of every midnight up to that time as if the clock had
// reached it, and answers the u32 count of midnights passed. Real time then
// charges nothing until it passes that day.
constexpr uint32_t kCmdTestRollover = 60002;

void log_line(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
bool log_open(const std::string& path);
