// The loop of the programs that read several CSVFILE operands in turn.
#pragma once

#include <cstddef>
#include <cstdio>

#include "cli.h"

// Runs process on each path in order, opened for reading and closed afterwards, or on
// standard input ("standard input") when there are none or for a path "-". A path that cannot be opened gets
// "ERROR: failed opening CSVFILE '%s'" and the next one is read. index counts the inputs
// opened so far, from 1. True when every input was opened and process returned true for it.
bool each_csvfile(int npaths, char *const *paths,
                  bool (*process)(FILE *fp, const char *name, int index));

// For programs that read two CSV files, CSVFILE1 and CSVFILE2, and name them so in messages.
// Opens CSVFILE<n> for reading, or gives standard input for a null path or "-"; *name gets the name
// for messages. Failure is fatal: "ERROR: failed opening CSVFILE<n> '%s'" with the system error.
FILE *open_numbered_csvfile(const char *path, int n, const char **name);
// "Warning: CSVFILE<n> '%s' is empty".
void warn_numbered_csvfile_empty(int n, const char *name);
// Reads record 1 of CSVFILE<n> as its header: parsed into *fields when fields is given (the
// parse limits apply), else as raw text. *len gets its byte count. Null on a read or syntax
// error (reported) or an empty file (warn_numbered_csvfile_empty).
const char *read_numbered_header(FILE *fp, const char *name, int n, int *numfields,
                                 char ***fields, size_t *len);
// An output record of a two-file program is built as one record (out_rec_begin): CSVFILE1's part,
// the separator given with -s, CSVFILE2's part. A part is a record's text of numfields fields
// (a blank record is one empty field); the fields it joins count as the separator's commas say.
// A part after others is written as out_rec_bytes_not_first writes it.
inline void joined_part(const char *text, size_t len, int numfields) {
    if (out_rec_ptr == out_rec_start)
        out_rec_bytes(text, len);
    else
        out_rec_bytes_not_first(text, len);
    if (numfields > 1) out_rec_add_fields(numfields - 1);
}
void joined_separator(const char *sep);
// Ends an output record of which only the first file's part was built, so that the output
// stops with a complete line.
void end_partial_record(void);
// "ERROR: CSVFILE<n> <what>record #%d: incorrect number of fields (%d vs %d in header)", where
// what is "" or a word and a blank (such as "matching ").
void error_numbered_field_count(int n, const char *what, int recnum, int numfields,
                                int headerfields);

// Reading one record from standard input and leaving the rest of it to the next process.
//
// The pipeline readers are called once per record in shell loops such as
//     while rec=$(zelk-next-row); do ...; done < file.csv
// so each run must consume exactly one record of standard input. A seekable input is read
// through the stream's buffer as usual, and the descriptor is moved back to the end of the
// record afterwards; a pipe or terminal is read without a buffer, one byte per read, so that
// no byte past the record ever leaves the pipe.
// Call before the first read of stdin: chooses the buffering and arranges for a fatal error
// to hand the input back as well.
void stdin_handoff_begin(void);
// Call once the record has been read: the descriptor of standard input is positioned just
// after the last byte the stream consumed, and the stream's buffer is emptied.
void stdin_handoff_end(void);
