// The client object: the one link of the process to a terminal.
#include "link/client.h"

#include <cstring>

#include "link/call.h"
#include "link/discovery.h"
#include "link/launch.h"
#include "wire/commands.h"
#include "wire/status.h"

CInterClient client;

// The terminal's readiness states.
enum : uint32_t { kTerminalReady = 2, kTerminalAuthFailed = 3 };

void CInterClient::close() {
    platform_reap_started_processes();
    if (pipe != kInvalidHandle) {
        platform_pipe_close(pipe);
        pipe = kInvalidHandle;
    }
    std::memset(path_digest, 0, sizeof(path_digest));
    std::memset(error_text, 0, sizeof(error_text));
}

bool CInterClient::connect(const char16_t* path, bool portable) {
    if (open_terminal(*this, path, portable)) {
        return true;
    }
    if (path != nullptr && path[0] != 0) {
        return false;
    }
    return discover_terminal(*this);
}

int32_t CInterClient::wait_ready(uint32_t timeout) {
    const uint32_t kStepMs = 100;
    uint64_t limit = timeout != 0 ? timeout : 60000;
    // Only the sleeps count, so the number of polls does not depend on how
    // fast the terminal answers.
    for (uint64_t elapsed = 0; elapsed < limit; elapsed += kStepMs) {
        uint32_t state = 0;
        ReplyField reply = reply_fixed(&state, sizeof(state));
        int32_t status = client_call(kCmdReadyState, nullptr, 0, &reply, 1);
        if (status < 0) {
            return status;
        }
        if (state == kTerminalReady) {
            return kStatusSuccess;
        }
        if (state == kTerminalAuthFailed) {
            return kStatusAuthFailed;
        }
        platform_sleep_ms(kStepMs);
    }
    return kStatusIpcTimeout;
}
