// Opening a terminal's pipe, starting the terminal when it is not running.
#pragma once

#include "link/client.h"

// Opens the pipe of the terminal at `path` (UTF-16, NUL-terminated), starting
// the terminal (with "/portable" when asked) and waiting up to 60 s for its
// pipe. False with `error_text` set, except for an empty path, which fails
// with `error_text` untouched.
bool open_terminal(CInterClient& link, const char16_t* path, bool portable);
// One attempt to open a named pipe into `link.pipe`, waiting while it is
// busy.
bool open_pipe(CInterClient& link, const char16_t* name);
