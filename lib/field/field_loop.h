// The pieces every one-field program repeats around its record loop: the FIELD operand (a
// number, or a header name with -Q), the header record (read, looked up, passed through) and
// blank records passed through with -b. Programs that work on a field list or convert
// delimiters use the header and blank-record parts.
#pragma once

#include <cstddef>
#include <cstdio>

// FIELD as a number of at least 1, or with -Q the name kept in opt_fieldnamestr (returns 0
// until the header is read).
int field_operand(const char *arg);
// The same for an operand named otherwise in its messages (say "SORT_FIELD").
int field_operand(const char *arg, const char *operand);

// Reads record 1 as the header. With -Q sets *fieldnum from its names. Unless `write` is false,
// writes it with the output terminator and checks the output. Returns the record text, or null
// when there is none (*error tells an error from an empty input). With -Q an empty input is
// an error: it is reported ("ERROR: CSVFILE '%s' is empty") and *error set.
const char *header_pass(FILE *fp, const char *name, int *fieldnum, bool write, char *error);
// header_pass for a program that cannot go on without a header: an empty input is reported
// ("ERROR: CSVFILE '%s' is empty"); null then as on an error.
const char *header_pass_required(FILE *fp, const char *name, int *fieldnum, bool write);
// The header of a program that looks up several fields (a field list): record 1 parsed, its
// fields in *numfields and *fields; an empty input is reported as by header_pass_required.
const char *header_fields_required(FILE *fp, const char *name, int *numfields, char ***fields);

// A blank record: with -b the terminator alone, checked; otherwise nothing.
void blank_record_pass(void);

// The next record to work on, parsed: blank records are passed through with blank_record_pass
// and skipped, unless -1 makes them one empty field. *recnum is the number of the last record
// read (blank ones included) and goes up by one before every read. *textlen is the record's
// byte count. Null at the end of the input or on an error (*error tells which).
// A program whose records wait on a child before they are written gives blank: a blank record
// to pass through (-b) is then handed to blank(recnum), to take its turn, instead of written.
const char *read_field_record(FILE *fp, const char *name, int *recnum, int *numfields,
                              char ***fields, size_t *textlen, char *error,
                              void (*blank)(int recnum) = nullptr);
// The field count of a record read_field_record gives: a blank record (under -1) is one
// empty field.
inline int field_count(int numfields) { return numfields == 0 ? 1 : numfields; }

// read_field_record for delimiter-separated input: fields separated by sep (the DSV reader).
const char *read_dsv_field_record(char sep, FILE *fp, const char *name, int *recnum,
                                  int *numfields, char ***fields, size_t *textlen, char *error);

// Rewriting one field of a parsed record: the record is written as the text before the field,
// the new value, and the text after it (from the separating comma on), so that every other
// byte of the record is kept as read.
struct field_span {
    const char *text; // the record text
    size_t textlen;   // its length (NUL bytes inside count)
    size_t start;     // offset of the field
    size_t len;       // length of the field's raw text (quotes included)
    int numfields;    // the record's fields (a blank record taken as one empty field: 1)
};

// Field fieldnum (1-based, at most numfields) of a record parsed by csv_record_read_and_parse.
// A blank record (numfields 0) taken as one empty field is passed with numfields 0 and
// fieldnum 1.
field_span field_span_of(const char *text, size_t textlen, char **fields, int numfields,
                         int fieldnum);

// Copies the field's raw text into buf (MAX_FIELD_LENGTH bytes) with a NUL after it, or ends
// the program with the field-length error (field_length_exceeded).
void field_span_copy(const field_span &f, char *buf);

// read_field_record for a program that works on a copy of FIELD fieldnum: when the record has
// the field (field_count(*numfields) >= fieldnum), its raw text is copied into buf as by
// field_span_copy and *fieldlen is its length. The reading, span and copy stay in one call.
const char *read_field_copy(FILE *fp, const char *name, int *recnum, int fieldnum, char *buf,
                            size_t *fieldlen, int *numfields, size_t *textlen, char *error);

// The record with the field's text replaced by value[0..n), which holds valuefields fields, as
// an output record (see out_rec_begin) named recnum, with the output terminator: every other byte
// of the record is kept as read.
void write_field_replaced(const field_span &f, const char *value, size_t n, int valuefields,
                          int recnum);
