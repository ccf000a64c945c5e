// What the two delimiter converters share: the DSV_DELIMITER_CHAR operand, the field
// procedures that rewrite each field for the output separator, and the record loop.
#pragma once

#include <cstdio>

// The delimiter byte named by the operand: one character, a backslash and one of
// \ a b e f n r t v, or a numeric escape (\xH, \xHH, or one to three octal digits up to \377,
// \0 being NUL). Otherwise fatal: "ERROR: DSV_DELIMITER_CHAR must be a single char" or
// "ERROR: DSV_DELIMITER_CHAR is invalid C-style escape-sequence".
char dsv_delimiter_arg(const char *arg);

// The operand note and option lines that end both converters' usage texts: the head, the
// lines of zelk-from-delim's own options, the rest.
#define DSV_CONVERTER_USAGE_HEAD                                                               \
    "(DSV_DELIMITER_CHAR can use C-style escape-sequence if quoted: e.g., \"\\t\")\n\n"          \
    "Options:\n"                                                                               \
    "  -b -- blank records passed through (removed by default)\n"
#define DSV_CONVERTER_USAGE_REST                                                               \
    "  -r -- replace embedded CR (\\r) and LF (\\n) characters with text\n"                    \
    "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"               \
    "  -u -- unquote quoted fields that can be unquoted with delimiter change\n"

struct field_rewrite;

// A field procedure: the field field[0..len) as split by the reader (quotes kept) and the
// loop's rewrite (its buffer and the output separator). Returns the text to write (the field
// itself, a part of it, or the buffer) and its length in *outlen.
typedef const char *(*dsv_field_proc)(field_rewrite &rw, const char *field, int len, int *outlen);

// The procedure for the -u and -r options.
dsv_field_proc dsv_choose_field_proc(bool unquote, bool replace_embeds);

// Which reader the loop uses. DSV_INPUT_UNQUOTED is delimited text without any quoting, as
// tab-separated values are registered: a double quote is a byte like any other, a field holds
// no line break, and each field is written as its value, quoted where CSV needs it.
enum dsv_input_kind { DSV_INPUT_CSV, DSV_INPUT_DSV, DSV_INPUT_UNQUOTED };

// Converts every record of fp: reads with the CSV reader or with the DSV reader on in_sep,
// writes each field through proc with out_sep between fields and after each record the
// terminator, as an output record (out_rec_begin: checked against the limits; in CSV output
// one empty field is written ""). Blank records are dropped unless opt_blankrecspass (then an
// empty record is written). Records whose field count differs from record 1's are written as they
// are with a warning. The records after the first go through run_record_loop (parallel.h), on
// the cores opt_jobs asks for. Returns false when the reader reported an error.
bool dsv_convert_stream(FILE *fp, const char *name, dsv_input_kind kind, char in_sep,
                        char out_sep, dsv_field_proc proc);

// A converter's command line after cli_begin: the options -b -r -t -u (and -q, which makes
// DSV input DSV_INPUT_UNQUOTED), the DSV_DELIMITER_CHAR operand and an optional input file
// (DSVFILE for DSV input, CSVFILE for CSV input), then the conversion; exits with its status.
// The delimiter is the input's separator for DSV input and the output's for CSV input.
[[noreturn]] void dsv_converter_main(int argc, char **argv, dsv_input_kind kind);
