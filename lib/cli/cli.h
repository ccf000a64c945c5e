// The command-line front end shared by every program: "--help", option parsing with the "Try"
// line, exclusive option pairs, the common option letters, integer operands, header field
// names, opening inputs, writing records, the final output check and descriptor writes.
//
// A program declares a cli_program (its name, option letters, which letters have the common
// meaning, its own exclusive pairs and its print_usage), then:
//
//     cli_begin(&prog, argc, argv);
//     int c;
//     while ((c = cli_next_option(argc, argv)) != -1)
//         switch (c) { ...its own letters... }
//     ...operands from optind...
//     cli_exit(status);
#pragma once

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <getopt.h> // optind, optarg for the programs

#include "libcsv.h"

// Two options that exclude each other. The message defaults to
// "Error: -A and -B options not compatible!". With directed set, the pair is refused only when
// b comes after a (for programs that give a pair two messages, one per order).
struct cli_pair {
    char a;
    char b;
    const char *message = nullptr;
    bool directed = false;
};

struct cli_program {
    const char *name;      // fixed program name, used in the "Try" line
    const char *optstring; // getopt letters
    const char *common;    // letters among "b1hjoQtz" that have their common meaning
    const cli_pair *pairs; // the program's own exclusive pairs, ending with {0, 0}; may be null
    void (*print_usage)(FILE *out);
};

// Options with their common meaning (set by cli_next_option for letters in `common`).
extern char opt_blankrecspass;        // -b: blank records written as empty records
extern char opt_blankrecisfield;      // -1: a blank record is one empty field
extern char opt_headerproc;           // -h: the first record is processed like the others
extern char opt_headeromit;           // -o: the first record is neither processed nor written
extern char opt_queryfieldname;       // -Q: the FIELD operand is a header field name
extern char opt_terminatecr;          // -t: output records end with CR LF
extern char opt_terminatezero;        // -z: output records end with a NUL byte
extern const char *opt_recterminator; // "\n", or "\r\n" after -t
extern const char *opt_fieldnamestr;  // the -Q field name ("" until set)
extern int opt_jobs;                  // -jNUM: workers for the record loop (0 until set)
constexpr int MAX_JOBS = 256;         // the most workers -j or ZELK_JOBS may ask for

extern const char *const STDIN_NAME; // "standard input"

// "--help" as the first argument: the usage text on standard output, exit 0 (1, with the
// output check's message, when it cannot be written); "--version": "zelk-NAME (zelk) X.Y.Z"
// on standard output, exit 0. Also sets up the output buffer.
void cli_begin(const cli_program *prog, int argc, char **argv);
// The next option letter that is the program's own, or -1 at the end of the options. Unknown
// letters and missing arguments end the program with the "Try" line; exclusive pairs end it
// with their message; common letters are handled here and not returned.
int cli_next_option(int argc, char **argv);
// Whether option letter c has been seen so far.
bool cli_seen(char c);
// Whether option letter c is anywhere among the options, asked before they are read (for a
// program that reads an earlier option by a later one); reading them starts afresh after.
bool cli_option_given(int argc, char **argv, char c);
// The usage text on standard error, then exit 1 (a wrong number of operands).
[[noreturn]] void cli_usage_exit(void);
// The "Try" line, then exit 1.
[[noreturn]] void cli_try_exit(void);

// strtol-based integer argument check: "Invalid value for NAME: TEXT (reason)" on failure.
// max INT_MAX means no upper bound. Values outside int are "invalid/out-of-range".
int intstrconv(const char *str, const char *name, int min = 1, int max = INT_MAX);
// Header field names. A name given on the command line names a header field when it equals
// the field's bytes, or failing that (no field's bytes equal it) the field's value: without
// its quotes (doubled quotes made single) and, in field 1, without a leading UTF-8 byte order
// mark, which spreadsheet exports put there and a user does not type. A name held by several
// fields names the first of them, in every program.
//
// The 1-based number of the header field that name names, or 0; fields are a parsed or split
// header of numfields fields whose text ends at record_end.
int header_field_lookup(const char *name, int numfields, char *const *fields,
                        const char *record_end);
// The bytes of a header field with a leading UTF-8 byte order mark left out (*len adjusted).
const char *header_field_skip_bom(const char *field, int *len);
// The value of header field fieldnum (len bytes), the name it has when none of the fields'
// bytes is that name, written to out (room for len bytes); returns its length.
size_t header_field_value(const char *field, int len, int fieldnum, char *out);
// header_field_lookup on a parsed header, or "ERROR: FIELD name '%s' not found in header".
int fieldname2fieldnum(const char *name, int numfields, char **fields);

// Whether a file operand names standard input ("-").
bool is_stdin_operand(const char *path);
// "ERROR: CSVFILE '%s' is empty", for programs that fail on an input without a header.
void error_empty_input(const char *name);
// Opens a CSVFILE operand for reading, with an input buffer lent to it; on failure prints
// "ERROR: failed opening CSVFILE '%s'" with the system error and returns null.
FILE *open_csvfile(const char *path);
// Gives an input just opened (nothing read yet) one of a few large static buffers, so that it
// is read 128 KiB at a time; when all are lent, the stream keeps its own. close_input closes
// the stream and takes its buffer back (an input never closed keeps it to the end).
void input_buffer_lend(FILE *fp);
int close_input(FILE *fp);
// open_csvfile, or standard input for a null path or "-"; failure is fatal. *name gets the name
// to use in messages.
FILE *open_input_or_exit(const char *path, const char **name);

// Output through standard output's buffer. The writers remember the error of a failed write
// for the output check. While the buffer has room the bytes are copied straight into it, as
// putc does; a full buffer, or a stream that is not fully buffered (a terminal), takes fwrite.
void out_bytes_slow(const char *p, size_t n);
inline void out_bytes(const char *p, size_t n) {
    FILE *f = stdout;
    if (n == 0) return; // (fwrite would do nothing either)
    if ((size_t)(f->_IO_write_end - f->_IO_write_ptr) >= n) {
        memcpy(f->_IO_write_ptr, p, n);
        f->_IO_write_ptr += n;
        return;
    }
    out_bytes_slow(p, n);
}
inline void out_str(const char *s) { out_bytes(s, strlen(s)); }
void out_char_slow(char c);
inline void out_char(char c) {
    FILE *f = stdout;
    if (f->_IO_write_ptr < f->_IO_write_end)
        *f->_IO_write_ptr++ = c;
    else
        out_char_slow(c);
}
// A number in decimal, as printf's %d writes it.
void out_int(long v);
// The record terminator: a NUL under -z, else opt_recterminator.
inline void out_terminator(void) {
    if (opt_terminatezero)
        out_char('\0');
    else if (opt_terminatecr)
        out_bytes("\r\n", 2);
    else
        out_char('\n');
}
// A record text of n bytes (NUL bytes included) and its terminator.
inline void out_record(const char *text, size_t n) {
    out_bytes(text, n);
    out_terminator();
}

// ---- Records built from fields ----------------------------------------------------------------
// A program that puts a record together from fields (rather than copying one whole as read)
// builds it with these calls, so that every record it writes reads back as written:
//  - a record of one empty field is written "" (an empty line would read back as a blank
//    record, and be dropped);
//  - a record that would pass MAX_RECORD_LENGTH - 1 bytes or MAX_FIELDS fields, which no reader
//    takes, ends the program before any of it is written:
//        "ERROR: record #N: output record length exceeded MAX_RECORD_LENGTH (65536)"
//        "ERROR: record #N: number of output fields exceeded MAX_FIELDS (512)"
//    The records written before it stay.
// The bounds are checked as the record is written, never by a second pass. The record grows
// in standard output's buffer, past the bytes written so far, when the whole of it fits there
// (else in a buffer of its own), and out_rec_end makes it part of the output, with the output
// terminator. Nothing else is written to standard output between out_rec_begin and
// out_rec_end.
extern char *out_rec_start; // where the record's text begins
extern char *out_rec_ptr;   // where its next byte goes
extern char *out_rec_limit; // out_rec_start + MAX_RECORD_LENGTH - 1
extern int out_rec_nfields; // fields begun so far
extern int out_rec_recnum;  // the record's number for the messages
extern bool out_rec_csv;    // a record of one empty field is written ""
extern bool out_rec_open;   // between out_rec_begin and out_rec_end
// A record with its terminator: MAX_RECORD_LENGTH - 1 bytes, then at most CR LF.
constexpr size_t OUT_REC_ROOM = MAX_RECORD_LENGTH + 1;
char *out_rec_room_slow(void);
// The two messages above, for record recnum, and the fatal exit. A program that checks records
// it writes by other means (zelk-script-rows, copying awk's output) ends with them too.
[[noreturn]] void out_rec_length_exceeded(int recnum);
[[noreturn]] void out_rec_fields_exceeded(int recnum);
// Starts a record, to be named recnum in the messages. With csv false the output is delimited
// text that is not CSV, whose one empty field stays an empty line.
inline void out_rec_begin(int recnum, bool csv = true) {
    FILE *f = stdout;
    char *p = f->_IO_write_ptr;
    if ((size_t)(f->_IO_write_end - p) < OUT_REC_ROOM) p = out_rec_room_slow();
    out_rec_start = out_rec_ptr = p;
    out_rec_limit = p + MAX_RECORD_LENGTH - 1;
    out_rec_nfields = 1;
    out_rec_recnum = recnum;
    out_rec_csv = csv;
    out_rec_open = true;
}
inline void out_rec_bytes(const char *p, size_t n) {
    if (n > (size_t)(out_rec_limit - out_rec_ptr)) out_rec_length_exceeded(out_rec_recnum);
    if (n) memcpy(out_rec_ptr, p, n);
    out_rec_ptr += n;
}
inline void out_rec_char(char c) {
    if (out_rec_ptr == out_rec_limit) out_rec_length_exceeded(out_rec_recnum);
    *out_rec_ptr++ = c;
}
// n more fields begin (each after a separator the caller writes, whether one at a time or
// within a run of fields copied as they stand).
inline void out_rec_add_fields(int n) {
    out_rec_nfields += n;
    if (out_rec_nfields > MAX_FIELDS) out_rec_fields_exceeded(out_rec_recnum);
}
// Bytes that follow others in the record: a second input's record after a first one's, or a
// first field after other fields. A byte order mark before a quoted field, which may stand only
// at the start of a file, goes inside the quotes there: the field keeps its value and the
// output stays CSV. Anything else is written as it stands.
void out_rec_bom_quoted_not_first(const char *p, size_t n);
inline void out_rec_bytes_not_first(const char *p, size_t n) {
    if (n > 0 && (unsigned char)p[0] == 0xEF) // a mark's first byte: rare
        out_rec_bom_quoted_not_first(p, n);
    else
        out_rec_bytes(p, n);
}
// A separator of n bytes and the field after it.
inline void out_rec_separator(const char *p, size_t n) {
    out_rec_add_fields(1);
    out_rec_bytes(p, n);
}
// Whether a record has been begun and not yet ended.
inline bool out_rec_is_open(void) { return out_rec_open; }
// Writes the record (one empty field as "") and the output terminator; the record is then
// closed.
void out_rec_end_slow(void);
inline void out_rec_end(void) {
    out_rec_open = false;
    if (out_rec_ptr == out_rec_start && out_rec_nfields == 1 && out_rec_csv) {
        memcpy(out_rec_ptr, "\"\"", 2);
        out_rec_ptr += 2;
    }
    if (opt_terminatezero) {
        *out_rec_ptr++ = '\0';
    } else {
        if (opt_terminatecr) *out_rec_ptr++ = '\r';
        *out_rec_ptr++ = '\n';
    }
    FILE *f = stdout;
    if (out_rec_start == f->_IO_write_ptr)
        f->_IO_write_ptr = out_rec_ptr;
    else
        out_rec_end_slow();
}

// "Error: failed writing output to standard output" and a fatal exit when standard output
// has an error. Called once a record: the test is the stream's error flag read in place. Once
// a child runs, the fatal exit ends the children first (libsubproc.h).
[[noreturn]] void errcheck_stdout_fail(void);
inline void errcheck_stdout_exit(void) {
    if (stdout->_flags & _IO_ERR_SEEN) errcheck_stdout_fail();
}
// Ends the process by sig as the signal's default action would: restored, raised and unblocked
// (pending until then when it is blocked, in its own handler say). Async-signal-safe.
[[noreturn]] void end_by_default_signal(int sig);
// What ends the program, quietly, when standard output is broken (EPIPE: its reader has gone).
// A program that ignores SIGPIPE to run children sets it; without it the error is reported as
// any other.
void set_broken_output_exit(void (*fn)(void));
// Writes out standard output's buffer, remembering a failed write for the output check.
void out_flush(void);
// n bytes written to standard output's descriptor at once, past its buffer (written out first):
// for output already gathered elsewhere, with a failure remembered for the output check as
// out_bytes would remember it.
void out_bytes_direct(const char *p, size_t n);
// Flush standard output, check it, and exit with status (1 if the output failed).
[[noreturn]] void cli_exit(int status);

// Before a read from fd that may wait (a pipe, a terminal, a socket): when standard output
// holds bytes and fd has none ready, they are written out first, so that whoever reads the
// output sees every record the input has given so far. Every stream reader does this at
// each refill of an input's buffer (cli_begin sets it up); code that reads a descriptor
// itself calls it. A failed write is remembered for the output check.
void out_flush_before_wait(int fd);

// Writing to a file descriptor directly, past the stdio buffers.
// Writes all n bytes to fd, resuming after short writes and interrupted calls. False on
// failure, with errno set.
bool write_fd_all(int fd, const char *p, size_t n);

// Writing a selected record, for the programs that select records.
// The record text of n bytes (NUL bytes included) and the output terminator, prefixed with
// "NUM:" when recnum is above 0.
void print_matched_record(int recnum, const char *text, size_t n);
