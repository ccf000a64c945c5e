// Helpers for the tests of the programs that run awk.
#pragma once

#include <string>

// Whether a running process has an argument containing needle (seen through /proc).
bool process_with_argument_exists(const std::string &needle);
