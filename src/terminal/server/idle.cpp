// A server step's own work: the engine's live updates and the market's warm-up.
#include "terminal/server/idle.h"

#include "terminal/engine/engine.h"
#include "terminal/market/clock.h"
#include "terminal/market/live.h"
#include "terminal/server/log.h"

void server_idle_step(bool woken) {
    static bool told_stopped = false;
    if (!told_stopped && clock_stopped()) {
        told_stopped = true;
        log_line("virtual clock stopped at its end; still serving");
    }
    engine_update(market_now_msc());
    if (!woken) {
        live_warm_up(kServerStepMs / 2);
    }
}
