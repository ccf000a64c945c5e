// What the two programs that select records by an AWK condition share: their options -l, -m,
// -n, -q and -v, the header, the decision on each result, and the end of the run.
#pragma once

#include <cstddef>

extern int opt_matchesnum; // -m: stop after this many selected records (-1: no limit)
extern char opt_linenums;  // -n: prefix output records with their record number
extern char opt_quiet;     // -q: write nothing for selected records or the header
extern char opt_invert;    // -v: select the records whose condition is false

// Handles -l, -m, -n, -q and -v; false for any other letter.
bool awk_select_option(int c, const char *arg);

// After awk_start: the results of the records submitted to the exchange are decided on as they
// come back: a selected record is written (a record queued blank, as its terminator alone),
// and at the -m limit the run ends. write_message is the message of a failed write to awk.
void awk_select_begin(const char *write_message);

// The header (record 1) as read, or null with the reader's error flag: null ends the run
// (status 1). Otherwise it is written, unless -o or -q, and flushed at once.
void awk_select_header(const char *text, size_t len, char error_flag);

// The end of the input (error_flag from the reader): the results still due decided on, awk's
// input closed, its status collected, and exit with status 0 only when some record was
// selected and awk succeeded.
[[noreturn]] void awk_select_exit(char error_flag);
