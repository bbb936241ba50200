#include "terminal/protocol.h"
#include "terminal/terminal.h"

void handle_request(Session& session, uint32_t command, const uint8_t* payload, size_t size,
                    std::vector<uint8_t>* out) {
    RequestReader in{payload, size, true};
    ReplyWriter reply(out, command);
    if (handle_connection_command(session, command, in, reply) ||
        handle_market_command(session, command, in, reply) ||
        handle_trading_command(session, command, in, reply)) {
        return;
    }
    reply.finish(kStatusUnsupported);
}
