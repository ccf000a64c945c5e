// The transport between the AWK programs and /usr/bin/awk: records and values sent, results
// received and paired with the records they belong to, awk's output watched while the program
// waits for input, and the end of the exchange. What awk runs is awk_program's.
//
// Changes together with awk_program.cpp: the texts there write the frames that parse() here
// reads, and answer the flush request that this module sends. Both take the bytes from
// awk_program.h, their one home; a new frame or mark goes there and into both files at once.
//
// awk reads records from a pipe, split at the byte 0x18 (its RS; whole records also have
// their fields separated by 0x19, its FS), and writes its results, each ended by 0x18 (its
// ORS), to a second pipe: its own standard output when it gives one result per value, the
// inherited write end named "/dev/fd/N" in the program text when it streams. awk_start waits
// for awk's announcement that it is ready (0x19 alone) with SIGCHLD still blocked, so an awk
// that cannot start is recognised before any record is read, and a /usr/bin/awk that is not
// GNU awk is named as such.
//
// One result per value (the selection programs and the field rewriter), pipelined: values go
// to awk in a stream, each followed by nothing but its terminator, while the records they
// belong to wait in a queue bounded in bytes; the results come back in order on awk's own
// standard output and are paired with the records at the head of the queue. awk buffers its
// results and flushes them when asked: the exchange sends a flush request (the record 0x19 '"',
// which no value can be: a value holds no 0x19, and a record's text never has a field that is
// a lone double quote) after every batch, whenever it must wait for results, before it waits
// for more input of its own, and at the end. Every result comes back as a frame: 0x19, '=',
// the value (0x18 written as 0x1A 0x01, 0x1A as 0x1A 0x02), 0x18; a value that got no result
// (user code that ran next, or read ahead with getline) as the frame 0x19 '!' 0x18. The
// selection programs need only whether a result is true (AWK_ONE_VERDICT): a value equal to 1
// then comes back as 0x1C 0x18, one equal to 0 as 0x1D, its text and 0x18. Any byte
// outside a frame was printed by the code itself, and is reported for the record whose result
// was due.
//
// One result per value, SIGCHLD stays blocked once awk has started (libsubproc's handler is
// not used): awk's end is seen where its output ends, after every result it gave before has
// been handed over, and its exit status is collected there. An awk that failed has said why,
// and the run ends with status 1 and no word more; one that succeeded with results still due
// was stopped by the code ("invalid processed field"). Streaming, the handler ends the run.
//
// Streaming (the record rewriter): awk prints every record the code lets through, and its
// output is copied by the caller as it comes. Both sides buffer; from a pipe or a terminal,
// awk is sent the flush request before the program waits for more input, unless the code may
// read that request itself (awk_code_may_read_ahead): then awk flushes after every record.
#pragma once

#include <cstddef>
#include <cstdio>

#include "awk_program.h"

#define AWK_RESULT_MAX 8191 // bytes of one result, with its terminator

// The program's ends of the two pipes, valid after awk_start.
extern int awk_to_fd;
extern int awk_from_fd;

// Starts awk: the pipes, SIGPIPE ignored, the head and tail texts ("-e" and the tail appended),
// the child started, its pipe ends closed, and awk's announcement awaited. expr is the
// expression whose printed value is the result (AWK_ONE_RESULT; "$0" for the value as the
// code leaves it); ignored in AWK_STREAM. input is the program's input: the stream to read
// from afterwards is returned (in AWK_ONE_RESULT, one that hands over every result due before
// it waits for more input). If awk does not start, the run ends with status 1 (awk has printed
// its own diagnostic).
FILE *awk_start(awk_mode mode, const char *expr, FILE *input);
// awk_start for -Q: the header (record 1, parsed) read first and its names given to the code
// (awk_set_field_names). *header gets its text (csv_record_parse_length() bytes). An input
// without one ends the run before awk starts, as empty (or after the reader's message).
FILE *awk_start_with_names(awk_mode mode, const char *expr, FILE *input, const char *name,
                           const char **header);

// Refuses n bytes about to be sent that hold 0x18 or 0x19: they would split or join records
// or fields inside awk and misalign every later result. Fatal, naming record recnum, after
// the results due for earlier records have been written.
void awk_refuse_framing_bytes(const char *p, size_t n, int recnum);
// Refuses a field of n bytes that outgrows a field copy (MAX_FIELD_LENGTH) with the
// field-length error, after the results due for earlier records have been written.
void awk_refuse_long_field(size_t n);

// ---- AWK_ONE_RESULT ----------------------------------------------------------------------

// A record waiting for its result: its text as read (len bytes), and the span of it that the
// result replaces and the record's field count (zelk-script-column; 0 elsewhere).
struct awk_record {
    int recnum;
    const char *text;
    size_t len;
    size_t cut_at;
    size_t cut_len;
    int numfields;
};
// Called in input order with each record and its result (NUL-terminated, len bytes, NUL bytes
// included), or with a null result for a record queued by awk_submit_blank.
typedef void (*awk_result_fn)(const awk_record &rec, const char *result, int len);

// The handler, the message for a failed write to awk and the one for awk ending before a
// result. Every failure of the exchange is fatal through the child clean-up.
void awk_set_handler(awk_result_fn fn, const char *write_message, const char *eof_message);
// Queues the record (text, len bytes, copied) and sends value (n bytes) as its one value.
void awk_submit(int recnum, const char *text, size_t len, const char *value, size_t n,
                size_t cut_at = 0, size_t cut_len = 0, int numfields = 0);
// Queues a parsed record and sends it whole, the comma before each field from the second on
// becoming 0x19 on the way (the text itself is not changed). Refused if it holds 0x18 or 0x19.
void awk_submit_record(int recnum, const char *text, size_t len, char *const *fields,
                       int numfields);
// awk_submit_record, but awk is sent each field's value (awk_field_value). The record handed
// over is still the text as read.
void awk_submit_record_values(int recnum, const char *text, size_t len, char *const *fields,
                              int numfields);
// Queues a record that is not sent: the handler gets it, with a null result, in its turn.
void awk_submit_blank(int recnum);
// Hands over every result due (before a fatal error of the program, so that the records before
// it are written as they would have been).
void awk_drain(void);
// The end of the input: every result due handed over, awk's input closed, and its output read
// to the end (a print from an END rule is reported).
void awk_finish(void);
// Stops early (the -m limit): nothing more is sent or handed over; awk's input is closed and
// its output read to the end and dropped, so that it ends by itself.
void awk_abandon(void);

// ---- AWK_STREAM --------------------------------------------------------------------------

// A parsed record sent whole, fields separated by 0x19 (the text is changed in place: the
// comma before each field from the second on). Refused if it holds 0x18 or 0x19. False when
// awk has gone (errno EPIPE) or the write failed (errno set).
bool awk_send_record(char *text, size_t len, char **fields, int numfields, int recnum);
// Sends what is still buffered, then closes the to-awk pipe: awk sees the end of its input.
// False, with errno, when the last write failed.
bool awk_close_input(void);

// The value the code is given for field[0..n) with -u: a quoted field without its quotes and
// with each doubled quote single (a byte order mark before it kept in front), any other field
// as it is. Returns field itself or buf (room for n bytes: a value is never longer), with the
// length in *vlen.
const char *awk_field_value(const char *field, size_t n, char *buf, int *vlen);

// The decision rule of the selection programs: a result is false when it is empty or exactly
// "0", true otherwise (so "0.0", "00" and " " are true).
bool awk_result_is_true(const char *result, int len);
