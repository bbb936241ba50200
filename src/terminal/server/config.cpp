// The one settings object of the program.
#include "terminal/server/config.h"

TerminalConfig& terminal_config() {
    static TerminalConfig config;
    return config;
}
