// Finding a range of records in one input, as zelk-rows and zelk-show do: skipping to the
// first record wanted, or reading on to the last record, with the messages for short inputs.
// Records are numbered from 1 in each input, blank records included; *count is the number of
// records read from the input so far.
#pragma once

#include <cstdio>

// The FIRST_RECORD operand: "L" sets *last and gives 0; anything else must be an integer of
// at least 1. Fatal: "L" with a count other than 1 ("Error: FIRST_RECORD of 'L' not compatible
// with -nNUM > 1!"), and 1 with the header option ("Error: -h option not compatible with
// FIRST_RECORD of '1'!").
int first_record_operand(const char *arg, int num, bool header, char *last);

// Skips records until *count is first - 1. An input that ends first is reported as by
// range_ended_short; a CSV error has been reported by the reader and gets no second message.
// False in both cases.
bool skip_to_record(FILE *fp, const char *name, int first, int *count);

// The input ended after count records, taken of them from the range (blank ones included),
// before the range was complete. Says why: "Warning: CSVFILE '%s' is empty" when it held no
// record, "ERROR: less than FIRST_RECORD (%d) records in CSVFILE '%s'" when the range had not
// begun, else "Warning: less than NUM (%d) records after FIRST_RECORD (%d) in CSVFILE '%s'".
void range_ended_short(const char *name, int count, int taken, int first, int num);

// Reads the remaining records and returns the text of the last one (the reader's buffer,
// left alone at end of input), its number in *recnum and its length in *len; null when no
// record remained (*err 0) or on a CSV error (*err 1, reported by the reader).
const char *read_last_record(FILE *fp, const char *name, int *count, int *recnum, int *len,
                             char *err);

// "Warning: CSVFILE '%s' is empty", through errorf().
void warn_csvfile_empty(const char *name);
