// The work of a server step besides its clients, shared by both pipe servers.
#pragma once

// How long one step waits for clients before it does its own work.
constexpr int kServerStepMs = 50;

// The engine's live updates (stops, pending orders, rollovers), and, when no
// client woke the step, bringing the market's symbols up to date ahead of
// their first request.
void server_idle_step(bool woken);
