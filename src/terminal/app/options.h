// The command line: an optional "/portable", then options.
#pragma once

#include <string>

#include "terminal/engine/engine.h"
#include "terminal/server/config.h"

extern const char kUsage[];

// False with a message for an unknown option or a bad value.
bool parse_options(int argc, char** argv, TerminalConfig* config, std::string* error);
// login:password:server:currency:balance:leverage:hedging|netting[:otp]
bool parse_account(const std::string& text, AccountSettings* account);
