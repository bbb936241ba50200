// The pipe server: one thread, one event loop, any number of clients.
#pragma once

#include <string>

// Binds the socket at `socket_path` (replacing a stale one) and serves until
// a stop signal arrives. False with a reason when it cannot listen.
bool server_run(const std::string& socket_path, std::string* error);
