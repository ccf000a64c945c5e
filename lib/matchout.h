// Writing a selected record, for the programs that select records.
#pragma once

#include <cstddef>

// The record text of n bytes (NUL bytes included) and the output terminator, prefixed with
// "NUM:" when recnum is above 0.
void print_matched_record(int recnum, const char *text, size_t n);
