// The process's one link to a terminal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/platform/platform.h"

constexpr size_t kErrorTextUnits = 2048;

class CInterClient {
   public:
    ~CInterClient() { close(); }

    // Drops the link. The build of the last handshake is kept.
    void close();
    // Opens the pipe of the terminal at `path`, starting it when needed; with
    // an empty path, finds an installed terminal first. On false,
    // `error_text` says why.
    bool connect(const char16_t* path, bool portable);
    // Polls the terminal's readiness every 100 ms for `timeout` ms (60 s when
    // 0): 1 when ready, -6 when its authorization failed, -10005 on timeout,
    // or the failing call's status.
    int32_t wait_ready(uint32_t timeout);

    PlatformHandle pipe = kInvalidHandle;
    uint8_t path_digest[32] = {};
    char16_t error_text[kErrorTextUnits] = {};
    uint32_t terminal_build = 0;
};

// Static, so that the link is closed by the library's own teardown at exit.
extern CInterClient client;
