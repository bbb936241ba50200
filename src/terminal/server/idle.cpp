// A server step's own work: the engine's live updates and the market's warm-up.
#include "terminal/server/idle.h"

#include "terminal/engine/engine.h"
#include "terminal/market/clock.h"
#include "terminal/market/live.h"

void server_idle_step(bool woken) {
    engine_update(market_now_msc());
    if (!woken) {
        live_warm_up(kServerStepMs / 2);
    }
}
