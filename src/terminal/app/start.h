// What start-up needs from the platform: start_posix.cpp and start_windows.cpp
// each implement all of it, so that main reads the same on both.
#pragma once

#include <string>

// The command line as UTF-8 arguments. On Windows, a terminal started with no
// command line sees its bare, unquoted application name there instead, which
// may contain spaces: that whole name is the program, never options.
void start_arguments(int* argc, char*** argv);
// Lets usage and errors reach the console of the shell that started the
// program (a windowless Windows program has none of its own).
void start_attach_console();
// The full path of this program (UTF-8).
bool own_path(std::string* path);
// The address the server listens on for the pipe `pipe_name`: the named pipe
// itself on Windows, a socket in the user's private socket folder (made here)
// elsewhere. False with a reason.
bool server_address(const char16_t* pipe_name, std::string* address, std::string* error);
// True when no other terminal runs from this executable; the claim lasts as
// long as the process.
bool take_instance_lock(const std::string& address);
// Creates a folder named in UTF-8, for this user only; an existing one is fine.
bool make_folder(const std::string& path);
