// For programs that read two CSV files, CSVFILE1 and CSVFILE2, and name them so in messages.
#pragma once

#include <cstdio>

// Opens CSVFILE<n> for reading, or gives standard input for a null path; *name gets the name
// for messages. Failure is fatal: "ERROR: failed opening CSVFILE<n> '%s'" with the system error.
FILE *open_numbered_csvfile(const char *path, int n, const char **name);
// "Warning: CSVFILE<n> '%s' is empty".
void warn_numbered_csvfile_empty(int n, const char *name);
// "ERROR: CSVFILE<n> <what>record #%d: incorrect number of fields (%d vs %d in header)", where
// what is "" or a word and a blank (such as "matching ").
void error_numbered_field_count(int n, const char *what, int recnum, int numfields,
                                int headerfields);
