// libcsv: strict byte-level reading, parsing, quoting and cleaning of RFC 4180 records.
//
// Nothing here allocates. Every text returned lives in a static buffer that belongs to the
// function (or to a small group sharing it) and stays valid until the next call that uses the
// same buffer. Flags (verbose, error, blank) are one byte each.
//
// The stream readers always describe a syntax, limit or read error (with the record and field
// numbers, then the input's name, then for a syntax or limit error where it lies when that is
// known); their verbose flag governs only the warning about a final record without a
// terminator.
#pragma once

#include <cstddef>
#include <cstdio>

#define MAX_RECORD_LENGTH 65536 // record text; at most 65535 bytes plus the NUL
#define MAX_FIELDS 512          // fields per record in the parsed and split forms
#define MAX_FIELD_LENGTH 8192   // one field copy; at most 8191 bytes plus the NUL

// A UTF-8 byte order mark, which spreadsheet exports put at the start of a file. It is data,
// kept in the first field wherever that field is written, and needs no quoting: an unquoted
// first field simply begins with it. Exporters that quote every field write it before the
// opening quote, so at the start of an input (record 1, field 1) the readers also take the
// mark followed by a quoted field as one field, the mark's bytes included; anywhere else a
// double quote after the mark is the error it always is. (Record number 0, which a program
// gives when it cannot know where in a shared stream it reads, counts as the start too.)
#define CSV_UTF8_BOM "\xEF\xBB\xBF"
#define CSV_UTF8_BOM_LEN 3

// Whether s[0..n) begins with a byte order mark and a double quote: at the start of an input,
// the mark before a quoted first field.
inline bool csv_bom_before_quote(const char *s, size_t n) {
    return n > CSV_UTF8_BOM_LEN && s[0] == '\xEF' && s[1] == '\xBB' && s[2] == '\xBF' &&
           s[3] == '"';
}

// ---- Raw record reading --------------------------------------------------------------------

// The next record, exactly as the file holds it (quotes, doubled quotes and embedded line
// breaks kept, terminator removed, NUL appended). Null at end of input (*error 0) or on a
// syntax, limit or read error (*error 1). *numfields: separators + 1, 0 for a blank record,
// -1 when no record is returned. End of input leaves the previous record text intact.
const char *csv_record_read(FILE *fp, const char *name, int recnum, char verbose, int *numfields,
                            char *error);

// ---- Where in the input: lines and bytes ----------------------------------------------------
// After a syntax or limit error the readers say where its byte lies, on a third line
// "line L, byte B" (both from 1, counted from the start of the input) after the one naming the
// input: the byte at fault (a double quote, the byte after a closing quote, a CR, the byte past
// a limit), or for a quoted field not closed the quote that opened it (the end of the input
// when the record was skipped unread). For a regular file that place is found again on the
// error path, at no cost to reading; a pipe's bytes are gone, so it is given for a pipe only
// when the readers counted the input as they went.

// The parse, split and raw readers count the lines and bytes of fp from where it stands
// (null: count nothing): at a small cost per record, for the one input of a checking program.
void csv_count_places(FILE *fp);
// After a syntax or limit error in the counted input: consumes the rest of the line the error
// lies on (nothing when its byte was a line feed), so that the next read takes what follows as
// a new record. Every error consumes at least one byte, so reading on this way ends.
void csv_record_resync(FILE *fp);

// ---- Streaming read and parse (one shared record buffer and field-start table) -------------

char *csv_record_read_and_parse(FILE *fp, const char *name, int recnum, char verbose,
                                int *numfields, char ***fields, char *error);
int csv_record_read_and_split(FILE *fp, const char *name, int recnum, char verbose,
                              char ***fields, char *error);
char *csv_record_read_and_get_field(FILE *fp, const char *name, int recnum, char verbose,
                                    int fieldnum, char **field, int *numfields, char *error);
int csv_record_read_and_skip(FILE *fp, const char *name, int recnum, char verbose, char *error);
// Skips at most max records from recnum on, at the stream's position, that the buffer holds
// whole and that need no decision but where they end (a CR only in a quoted field or before
// the LF that ends the record; every double quote opening a field or closing one, a doubled
// quote being both), many at a time; returns how many, possibly 0.
// Any other record, and the input's first, is left to csv_record_read_and_skip, which reads it
// as it always would: a caller alternates the two. Takes nothing unless the readers scan with
// AVX2.
long csv_records_skip_common(FILE *fp, const char *name, int recnum, long max);
// Skips at most max records from recnum on, the two ways alternated: returns how many, fewer
// when the input ends (*error 0) or a record is refused (*error 1, said as the reader says it).
// Record numbers past INT_MAX are said as INT_MAX.
long csv_records_skip(FILE *fp, const char *name, int recnum, long max, char *error);

// ---- Delimiter-separated input: the same reader with another separator byte ----------------

char *dsv_record_read_and_parse(char sep, FILE *fp, const char *name, int recnum, char verbose,
                                int *numfields, char ***fields, char *error);
int dsv_record_read_and_split(char sep, FILE *fp, const char *name, int recnum, char verbose,
                              char ***fields, char *error);

// ---- Parsing a record held as a string (the string is the caller's, changed in place) -----

int csv_record_string_parse(char *record, int recnum, char verbose, char ***fields, char *error,
                            char blankisfield);
int csv_record_string_split(char *record, int recnum, char verbose, char ***fields, char *error,
                            char blankisfield);
const char *csv_record_string_get_field(char *record, int recnum, char verbose, int fieldnum,
                                        char *error, char blankisfield);
const char *csv_record_parse_get_field(int fieldnum, int numfields, char **fields,
                                       char blankisfield);

// How many fields s[0..n) holds as the stream readers accept them, without a record
// terminator (unquoted fields free of double quotes, CR and LF, quoted fields closed and
// followed by a comma or the end), or 0 when it is not such text; the readers' length limit
// is not checked. With input_start, s stands at the start of an input, where the first field
// may be a byte order mark before a quoted field.
int csv_fields_count(const char *s, size_t n, bool input_start = false);
// Whether s[0..n) is such text.
inline bool csv_fields_valid(const char *s, size_t n, bool input_start = false) {
    return csv_fields_count(s, n, input_start) > 0;
}

// ---- Where records end, for cutting an input into parts ----------------------------------------

// The records that end in s[0..n): the line feeds outside double quotes (with quoted false,
// every line feed), counted from a state *inquote (outside quotes at a record's start) that is
// left as it stands after s. *last gets the offset just past the last of them, or 0 when there
// is none. For CSV as the readers take it, this is exactly where records end: a part cut after
// such a line feed starts a record; for other text, a reader of the part finds the fault.
long csv_record_ends(const char *s, size_t n, bool quoted, bool *inquote, size_t *last);

// ---- Field quoting, unquoting and cleaning -------------------------------------------------
// Unquoting and cleaning take a field that is a byte order mark before a quoted field (what
// the readers give at the start of an input) as the mark followed by the quoted field: the
// mark stays in front of the result. Quoting does not: it quotes a value.

// CSV_UTF8_BOM_LEN when field[0..len) is a byte order mark followed by a quoted field, else
// 0. A program that rewrites a field's quoting itself writes these bytes first, as they
// stand, and rewrites the rest.
inline int csv_field_bom_len(const char *field, size_t len) {
    return len >= CSV_UTF8_BOM_LEN + 2 && csv_bom_before_quote(field, len) && field[len - 1] == '"'
               ? CSV_UTF8_BOM_LEN
               : 0;
}

const char *csv_field_quote(const char *field);
const char *csv_field_unquote(const char *field, char verbose);
int csv_field_unquote_inplace(char *field, char verbose);
// The value of field[0..len) written over it, for keys compared by value; returns its length.
// A field that is not quoted, or whose quoting is invalid, stays as it is. Unlike the forms
// above it takes a length, so a NUL byte inside the field is data.
int csv_field_value_inplace(char *field, int len);
const char *csv_field_unquote_and_replace_embeds(const char *field, char verbose);
const char *csv_field_clean(const char *field, char verbose);
int csv_field_clean_inplace(char *field, char verbose);
const char *csv_field_clean_and_replace_embeds(const char *field, char verbose);

// ---- Lengths, for text that may hold NUL bytes ----------------------------------------------
// A NUL inside a record is data. These give the true byte counts so that a record or field
// can be written whole (or refused) instead of being cut at the first NUL.

// Bytes of the text last returned by csv_record_read.
int csv_record_read_length(void);
// Bytes of the text in the shared parse buffer (csv_record_read_and_parse/split/get_field).
int csv_record_parse_length(void);
// Bytes of the text in the DSV parse buffer.
int dsv_record_parse_length(void);
// Bytes of the field copy last made by csv_record_read_and_get_field.
int csv_record_get_field_length(void);
// Bytes of field fieldnum (1-based) of a parsed or split record whose text ends at record_end
// (the terminating NUL): the distance to the next field's start less the separator, or to
// record_end for the last field.
inline int csv_parsed_field_length(char *const *fields, int numfields, int fieldnum,
                                   const char *record_end) {
    if (fieldnum < numfields) return (int)(fields[fieldnum] - fields[fieldnum - 1] - 1);
    return (int)(record_end - fields[fieldnum - 1]);
}

// ---- Where the work stands -------------------------------------------------------------------
// Every stream reader notes the input's name and the record number it was given; the string
// parsers note their record number. A program that rewrites one field at a time names the
// field with csv_where_field (csv_record_read_and_get_field does so itself), so that the one
// fatal error of the library, a field that outgrows MAX_FIELD_LENGTH, can say where it arose:
// "ERROR: record #N, field #F: field length exceeded MAX_FIELD_LENGTH (8192)", then the line
// "file:  'NAME'".
void csv_where_record(int recnum);
void csv_where_field(int fieldnum);
[[noreturn]] void field_length_exceeded(void);

// Called before a stream reader (or the field-length check) describes a failure or warns about
// a record. A program that reads ahead of its output (records waiting for a child's results)
// writes what it owes for the records before first, and may end there, successfully, when the
// record reported was never needed (a match limit reached). Null (the default): nothing.
void csv_set_before_report(void (*fn)(void));

// Called when a stream reader (or csv_getc) finds an input's buffer empty, just before the
// stream refills it: the one point where reading may wait for bytes that have not arrived.
// The front end writes out standard output there when the read would wait. Null (the
// default): nothing.
void csv_set_before_refill(void (*fn)(FILE *fp));
// getc_unlocked for code that reads an input byte by byte through the stream's buffer: the
// same byte, with the hook above run before a refill.
int csv_getc_refill(FILE *fp);
inline int csv_getc(FILE *fp) {
    if (__builtin_expect(fp->_IO_read_ptr >= fp->_IO_read_end, 0)) return csv_getc_refill(fp);
    return (unsigned char)*fp->_IO_read_ptr++;
}

// ---- Messages and fatal errors ---------------------------------------------------------------

// Every message to standard error: "PROGRAM: ", the message, ": " and strerror(errnum) unless
// errnum is 0, and a newline, in one write after standard output is flushed (as error(3)).
// Arguments of %s and %c are shown with their control bytes as \ooo octal escapes (ESC as
// \033, a newline from data as \012), so that data never drives the terminal; the format's
// own text, with its newlines, is written as it is. errno is kept.
void errorf(int errnum, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// The same without "PROGRAM: " in front, for the few record warnings that have always been
// written so ("Warning: record #N is missing FIELD").
void warnf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The library's one fatal error (an overlong field) and the front end's fatal errors print
// their message and then call this function, which must not return. By default it is exit(1);
// programs that run child processes install their clean-up so that no child is left behind.
void set_fatal_exit(void (*fn)(void));
[[noreturn]] void fatal_exit(void);
// errorf(errnum, fmt, ...) followed by fatal_exit().
[[noreturn]] void fatalf(int errnum, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Called before every message, ahead of anything it writes (standard output's flush included).
// A process that works on a part of the input for another gives the part up there. Null (the
// default): nothing.
void csv_set_before_message(void (*fn)(void));
