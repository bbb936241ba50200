// What the terminal needs from Windows before it can serve: its own path, its
// arguments, one instance per executable, and folders and files named in
// UTF-8.
#pragma once

#include <string>

// The command line as UTF-8 arguments. When the terminal is started with no
// command line it sees its bare, unquoted application name there instead,
// which may contain spaces: that whole name is the program, never options.
void windows_arguments(int* argc, char*** argv);
// A windowless program has no console: its usage and errors go to the
// console of the shell that started it, unless its output is redirected.
void windows_attach_console();
// The full path of this program (UTF-8).
bool own_path(std::string* path);
// True when no other terminal runs from this executable; the claim lasts as
// long as the process. `address` is the pipe name the terminal serves.
bool take_instance_lock(const std::string& address);
// Creates a folder named in UTF-8; an existing one is fine.
bool windows_make_folder(const std::string& path);
