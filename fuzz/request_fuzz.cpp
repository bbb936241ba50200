// libFuzzer target for the bundled terminal's request side: the bytes one
// client sends, cut into requests the way the server cuts them, each parsed
// and answered by the terminal's own dispatcher over its simulated market and
// a real account database (in a temporary folder).
//
// Every reply must be framed as the module expects it: its length covers
// exactly its bytes, it echoes the command, and a failure carries no payload.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "terminal/engine/engine.h"
#include "terminal/market/catalogue.h"
#include "terminal/market/market.h"
#include "terminal/server/config.h"
#include "terminal/server/handlers.h"
#include "terminal/server/session.h"

namespace {

std::string data_folder;

[[noreturn]] void fail(const char* what, uint32_t command) {
    std::fprintf(stderr, "request_fuzz: %s (command %u)\n", what, command);
    std::abort();
}

void check_reply(const std::vector<uint8_t>& out, uint32_t command) {
    if (out.size() < 12) {
        fail("reply shorter than its header", command);
    }
    uint32_t length = 0;
    uint32_t echoed = 0;
    int32_t status = 0;
    std::memcpy(&length, out.data(), 4);
    std::memcpy(&echoed, out.data() + 4, 4);
    std::memcpy(&status, out.data() + 8, 4);
    if ((size_t)length + 4 != out.size()) {
        fail("reply length does not cover the reply", command);
    }
    if (echoed != command) {
        fail("reply echoes another command", command);
    }
    if (status < 0 && length != 8) {
        fail("failed reply carries a payload", command);
    }
}

void remove_data_folder() {
    std::string command = "rm -rf '" + data_folder + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "request_fuzz: could not remove %s\n", data_folder.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/request_fuzz.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        fail("mkdtemp", 0);
    }
    data_folder = folder;
    std::atexit(remove_data_folder);
    TerminalConfig& config = terminal_config();
    config.data_folder = data_folder;
    config.install_folder = data_folder;
    config.common_folder = data_folder;
    config.executable = data_folder + "/terminal64";
    config.history_days = 30;
    catalogue_build(config.seed, config.symbols, config.history_days);
    std::string error;
    if (!engine_open(data_folder + "/accounts.dat", &error)) {
        std::fprintf(stderr, "request_fuzz: %s\n", error.c_str());
        std::abort();
    }
    connection_start(market_now_msc());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One client's session: its requests in order, framed by the server's own
    // code; a bad length drops the client, a short request waits for more.
    Session session;
    session.in.assign(data, data + size);
    for (;;) {
        uint32_t command = 0;
        if (session.in.size() >= 8) {
            std::memcpy(&command, session.in.data() + 4, 4);
        }
        bool served = false;
        if (!serve_next_request(session, &served) || !served) {
            break;
        }
        check_reply(session.out, command);
        reply_sent(session);
    }
    engine_update(market_now_msc());
    return 0;
}
