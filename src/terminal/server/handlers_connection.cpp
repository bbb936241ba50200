// Handshake, version, login, readiness, terminal and account information, and
// the test-only price control.
#include <cstring>

#include "terminal/engine/engine.h"
#include "terminal/market/bars.h"
#include "terminal/market/catalogue.h"
#include "terminal/market/live.h"
#include "terminal/market/market.h"
#include "terminal/server/config.h"
#include "terminal/server/handlers.h"
#include "terminal/server/log.h"
#include "terminal/server/session.h"
#include "wire/commands.h"
#include "wire/enums.h"
#include "wire/fields.h"
#include "wire/frames.h"
#include "wire/status.h"
#include "wire/terminal.h"
#include "wire/text.h"

// How long "connecting" lasts after start-up and after each login.
constexpr int64_t kConnectingMs = 250;
constexpr char16_t kReleaseDate[] = u"01 Dec 2026";
constexpr uint32_t kVersionMajor = 500;

static uint32_t g_state = kTerminalConnecting;
static int64_t g_state_since = 0;

void connection_start(int64_t now_msc) {
    g_state = kTerminalConnecting;
    g_state_since = now_msc;
}

uint32_t connection_state(int64_t now_msc) {
    if (g_state == kTerminalConnecting && now_msc - g_state_since >= kConnectingMs) {
        g_state = kTerminalReady;
    }
    return g_state;
}

void serve_handshake(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    char16_t client[64];
    in.u32();
    if (!in.text(client, 64) || !in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    char name[128];
    utf16_to_utf8(client, 64, name, sizeof(name));
    log_line("client introduced itself as '%s'", name);
    reply.u32(terminal_config().build);
    reply.finish(kStatusOk);
}

void serve_version(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    in.u32();
    if (!in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    reply.u32(kVersionMajor);
    reply.u32(terminal_config().build);
    reply.text(kReleaseDate);
    reply.finish(1);  // a status of 0 would tell the module there is no version
}

void serve_login(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    char16_t password[256], server[256];
    in.u32();
    uint64_t account = in.u64();
    if (!in.text(password, 256) || !in.text(server, 256) || !in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    int64_t now = market_now_msc();
    switch (engine_login(account, password, server)) {
        case kLoginAccepted:
            log_line("login %llu accepted", (unsigned long long)account);
            connection_start(now);
            reply.finish(kStatusOk);
            return;
        case kLoginRejected:
            log_line("login %llu refused", (unsigned long long)account);
            g_state = kTerminalAuthFailed;
            g_state_since = now;
            reply.finish(kStatusOk);
            return;
        case kLoginNeedsOtp:
            log_line("login %llu needs a one-time password", (unsigned long long)account);
            reply.finish(kStatusUnsupported);
            return;
    }
}

void serve_ready_state(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    if (!in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    reply.u32(connection_state(market_now_msc()));
    reply.finish(kStatusOk);
}

void serve_terminal_info(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    if (!in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    const TerminalConfig& config = terminal_config();
    TerminalInfoRecord r;
    std::memset(&r, 0, sizeof(r));
    r.build = config.build;
    r.connected = connection_state(market_now_msc()) == kTerminalReady;
    r.trade_allowed = !config.no_autotrading;
    r.tradeapi_disabled = config.no_autotrading;
    r.maxbars = kMaxBars;
    r.codepage = 65001;                    // UTF-8
    r.ping_last = r.connected ? 1200 : 0;  // microseconds to the (local) server
    FIELD_PUT_UTF8(r.company, "Quillmark Software");
    FIELD_PUT_UTF8(r.name, "Quillmark Terminal");
    FIELD_PUT_UTF8(r.language, "English");
    FIELD_PUT_UTF8(r.path, config.install_folder.c_str());
    FIELD_PUT_UTF8(r.data_path, config.data_folder.c_str());
    FIELD_PUT_UTF8(r.commondata_path, config.common_folder.c_str());
    reply.put(&r, sizeof(r));
    reply.finish(kStatusOk);
}

void serve_account_info(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    if (!in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    AccountInfoRecord r;
    std::memset(&r, 0, sizeof(r));
    engine_account_info(&r);
    reply.put(&r, sizeof(r));
    reply.finish(kStatusOk);
}

void serve_set_price(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    char16_t name[32];
    in.text(name, 32);
    double bid = in.f64();
    double ask = in.f64();
    Symbol* symbol = known_symbol(name, in.done(), reply);
    if (symbol == nullptr) {
        return;
    }
    int64_t now = market_now_msc();
    if (!live_force_price(*symbol, bid, ask, now)) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    engine_update(now);
    reply.finish(kStatusOk);
}

void serve_run_rollover(Session&, uint32_t, RequestReader& in, ReplyWriter& reply) {
    int64_t time_msc = in.i64();
    if (!in.done()) {
        reply.finish(kStatusInvalidParams);
        return;
    }
    reply.u32((uint32_t)engine_rollover(time_msc));
    reply.finish(kStatusOk);
}
