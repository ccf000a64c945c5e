// The pieces every one-field program repeats around its record loop: the FIELD operand (a
// number, or a header name with -Q), the header record (read, looked up, passed through) and
// blank records passed through with -b.
#pragma once

#include <cstdio>

// FIELD as a number of at least 1, or with -Q the name kept in opt_fieldnamestr (returns 0
// until the header is read).
int field_operand(const char *arg);

// Reads record 1 as the header. With -Q sets *fieldnum from its names. Unless `write` is false,
// writes it with the output terminator and checks the output. Returns the record text, or null
// when there is none (*error tells an error from an empty input).
const char *header_pass(FILE *fp, const char *name, int *fieldnum, bool write, char *error);

// A blank record: with -b the terminator alone, checked; otherwise nothing.
void blank_record_pass(void);

// The next record to work on, parsed: blank records are passed through with blank_record_pass
// and skipped, unless -1 makes them one empty field. *recnum is the number of the last record
// read (blank ones included) and goes up by one before every read. *textlen is the record's
// byte count. Null at the end of the input or on an error (*error tells which).
const char *read_field_record(FILE *fp, const char *name, int *recnum, int *numfields,
                              char ***fields, size_t *textlen, char *error);
