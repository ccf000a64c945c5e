// Rewriting one field of a parsed record: the record is written as the text before the field,
// the new value, and the text after it (from the separating comma on), so that every other
// byte of the record is kept as read.
#pragma once

#include <cstddef>

struct field_span {
    const char *text; // the record text
    size_t textlen;   // its length (NUL bytes inside count)
    size_t start;     // offset of the field
    size_t len;       // length of the field's raw text (quotes included)
};

// Field fieldnum (1-based, at most numfields) of a record parsed by csv_record_read_and_parse.
// A blank record (numfields 0) taken as one empty field is passed with numfields 0 and
// fieldnum 1.
field_span field_span_of(const char *text, size_t textlen, char **fields, int numfields,
                         int fieldnum);

// Copies the field's raw text into buf (MAX_FIELD_LENGTH bytes) with a NUL after it, or ends
// the program with "ERROR: field length (%d) exceeds the maximum allowed (%d)".
void field_span_copy(const field_span &f, char *buf);

// The record text before the field (the earlier fields with their commas).
void out_before_field(const field_span &f);
// The record text after the field (a comma and the later fields), if any.
void out_after_field(const field_span &f);
