// Where the terminal keeps its files, and the markers by which the module
// finds it: "<user data>/Brevonix/Terminal/<id>/" with "origin.txt" and
// either "VORN" or "portable.txt".
#pragma once

#include <cstdint>
#include <string>

#include "terminal/server/config.h"

// Fills the folders of `config` for the executable (canonical path, UTF-8)
// whose pipe digest is given, creates them and writes the markers.
bool data_folder_prepare(TerminalConfig* config, const uint8_t digest[32], std::string* error);
