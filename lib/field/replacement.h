// A replacement text turned, once at start-up, into a template of literal pieces and
// references to matched text, then written for each match without handing user text to
// printf (so '%' and NUL bytes in the matched text are written as they are).
//
// Without numbered references: '&' stands for the matched text (at most once); "\&" is a
// literal '&'. With numbered references: "&0" to "&9" stand for the whole match and the
// subexpressions 1 to 9, as often as wanted; "\&" is a literal '&'; any other '&' is an error.
// With back references (zelk-subst -g): '&' stands for the match and "\1" to "\9" for the
// subexpressions, as often as wanted; "\&" and "\\" are a literal '&' and '\'; any other '\'
// is an error.
#pragma once

#include <cstddef>

#include "field_loop.h"

#define REPLACEMENT_MAX_PIECES 8192

struct replacement {
    // Pieces in order: ref[i] < 0 is the literal text[start[i] .. start[i] + len[i]); ref[i]
    // 0..9 is argument ref[i] (without numbered references only argument 0 is used).
    int npieces;
    signed char ref[REPLACEMENT_MAX_PIECES];
    int start[REPLACEMENT_MAX_PIECES];
    int len[REPLACEMENT_MAX_PIECES];
    char text[8192]; // the literal bytes, back to back
};

// Converts text into r. name is the operand's name for the length message ("REPLACEMENT",
// "NEWVALUE"). Fatal errors: "ERROR: '&' appears more than once in REPLACEMENT!" (two
// references without numbering), "ERROR: & not followed by digit in REPLACEMENT" (numbered),
// and a text whose converted form would not fit the 8191-byte format buffer.
void replacement_compile(replacement *r, const char *text, bool numbered, const char *name);
// The same with back references, for a pattern of nsub subexpressions. Fatal errors:
// "ERROR: '\\' not followed by 1-9, '&' or '\\' in REPLACEMENT", "ERROR: REPLACEMENT
// refers to \N, but PATTERN has M subexpressions" and the length as above.
void replacement_compile_backrefs(replacement *r, const char *text, int nsub, const char *name);

// The replacement with args[k] (argl[k] bytes) for reference k, into buf (cap bytes); returns
// the length it needs, which may be more than cap (then only what fits is written).
size_t replacement_compose(const replacement *r, const char *const *args, const size_t *argl,
                           char *buf, size_t cap);

// args[k] (argl[k] bytes) is argument k, pointing into copy, the field's text copied with a NUL
// after it.
// Writes the record of f with its field replaced, then the output terminator, and checks the
// output. The record written is always one the readers accept: a new value that is not valid
// CSV is, when the old value was quoted and every reference in the replacement stands for the
// whole old value, built from the old value unquoted and written quoted (so 'Dr. &' on
// "Smith, John" gives "Dr. Smith, John"); otherwise the program stops with
// "ERROR: record #N: new value of FIELD #F would not be valid CSV: '...'". A record that would
// pass MAX_RECORD_LENGTH stops it too, as does one that would pass MAX_FIELDS (a new value
// can hold several fields).
void replacement_write_record(const field_span &f, const replacement *r, const char *const *args,
                              const size_t *argl, const char *copy, int recnum, int fieldnum);
