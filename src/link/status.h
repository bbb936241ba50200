// The status codes the link itself produces (the module's error table gives
// their texts).
#pragma once

#include <cstdint>

enum : int32_t {
    kLinkReady = 1,
    kLinkIncompatible = -5,
    kLinkAuthFailed = -6,
    kLinkCallFailed = -10000,
    kLinkSendFailed = -10001,
    kLinkRecvFailed = -10002,
    kLinkNoConnection = -10004,
    kLinkTimeout = -10005,
};
