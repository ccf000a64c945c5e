// The exchange with /usr/bin/awk shared by the AWK programs.
//
// awk reads records from a pipe, split at the byte 0x18 (its RS; whole records also have
// their fields separated by 0x19, its FS), and writes its results to the inherited write end
// of a second pipe, named "/dev/fd/N" in the program text, each ended by 0x18 (its ORS).
//
// The argument vector is "awk", the program's -v assignments, "-e" and the exchange's head
// text (reserved by awk_argv_reserve_head, filled in by awk_start), the program's -f/-e pairs
// in command-line order, then "-e" and the exchange's tail text.
//
// The head text makes awk announce, from a BEGIN rule that runs once every program file has
// been read and parsed, that it is ready; awk_start waits for that announcement with SIGCHLD
// still blocked. So an awk that cannot start (a syntax error, an unreadable -f file, an awk
// that refuses -e) is recognised before any record is read, and a /usr/bin/awk that is not
// GNU awk is named as such.
//
// One result per value (the selection programs and the field rewriter): after each value the
// exchange sends a sync record (0x19 alone). The tail rule writes "=" and the result; the
// head's sync rule writes "!" when no result was written for the value before it (user code
// that ran next, or a library rule that did), and the tail rule writes "!" instead of a result
// when the code read the sync record itself with getline. So code that skips the final print
// or reads ahead ends the run with a clear error instead of leaving both sides waiting for
// each other or misaligning results. The sync rule keeps itself out of NR and FNR, so the code
// sees them count values as usual.
//
// Streaming (the record rewriter): no sync records; the tail rule prints $0 for every record
// the code lets through, and awk's output is copied by the caller as it comes.
#pragma once

#include <cstddef>

#define AWK_COMMAND "/usr/bin/awk"
#define AWK_RECORD_END '\x18' // ends every record sent to awk and every result back
#define AWK_FIELD_SEP '\x19'  // separates the fields of whole records sent to awk
#define AWK_RESULT_MAX 8191   // bytes of one result, with its terminator

// awk's argument vector, a libsubproc arg_vector of max entries. Allocation failure is fatal
// with alloc_message and the system error; limit_format ("...(%d vs %d)") is the message of
// awk_argv_add_entry when the vector is full. The same alloc_message serves for the program
// texts built by awk_start.
void awk_argv_init(int max, const char *alloc_message, const char *limit_format);
// awk_argv_init, then "awk", the -v assignments (a null-terminated list) and the head's place.
void awk_argv_begin(int max, const char *alloc_message, const char *limit_format,
                    const char *const *assignments);
// Stores entry (not copied) at the next index; fatal when only the final null is left.
void awk_argv_add_entry(const char *entry);
// Reserves "-e" and the head text's place: call after the -v assignments, before any -f/-e.
void awk_argv_reserve_head(void);

enum awk_mode {
    AWK_ONE_RESULT, // one result back for every value sent (awk_exchange)
    AWK_STREAM,     // records in, whatever the code prints out (read by the caller)
};

// The program's ends of the two pipes, valid after awk_start.
extern int awk_to_fd;
extern int awk_from_fd;

// Starts awk: the pipes (the from-awk write end without close-on-exec, so that awk keeps it
// under its number), SIGPIPE ignored, the head and tail texts ("-e" and the tail appended),
// the child started, its pipe ends closed, and awk's announcement awaited. expr is the
// expression whose printed value is the result (AWK_ONE_RESULT; "$0" for the value as the
// code leaves it); ignored in AWK_STREAM. If awk does not start, the run ends with status 1
// (awk has printed its own diagnostic).
void awk_start(awk_mode mode, const char *expr);

// Refuses n bytes about to be sent that hold 0x18 or 0x19: they would split or join records
// or fields inside awk and misalign every later result. Fatal, naming record recnum.
void awk_refuse_framing_bytes(const char *p, size_t n, int recnum);

// AWK_ONE_RESULT: sends the n bytes at p as one record and returns awk's result for it
// (NUL-terminated; *result_len bytes, NUL bytes included). write_message is the message for
// a failed write, eof_message the one for awk ending before its result. Every failure is
// fatal through the child clean-up.
const char *awk_exchange(const char *p, size_t n, int recnum, const char *write_message,
                         const char *eof_message, int *result_len);

// Writes the n bytes at p, then AWK_RECORD_END, to awk, whole; false on failure (errno set).
bool awk_send_record(const char *p, size_t n);

// Closes the to-awk pipe: awk sees the end of its input, finishes and ends.
void awk_close_input(void);

// Whether the awk at path runs a program given with -e (run with no input or output).
bool awk_accepts_option_e(const char *path);

// The decision rule of the selection programs: a result is false when it is empty or exactly
// "0", true otherwise (so "0.0", "00" and " " are true).
bool awk_result_is_true(const char *result, int len);

// ---- Shared by the programs ------------------------------------------------------------------

// Appends "-f" and the library file path.
void awk_add_library(const char *path);

// -eCODE, -fCODE_FILE and -lLIB_FILE of the programs that run code of their own, in command-
// line order, with their checks. Returns false for any other letter.
extern char opt_usecode; // -e given
extern char opt_usefile; // -f given
bool awk_code_option(int c, const char *arg);
// After the options: "Error: Must supply AWK code via -e or -f option!" unless -e or -f.
void awk_require_code(void);

// A parsed record (text of len bytes, numfields fields) made ready to be sent whole: refused if
// it holds a framing byte, else the comma before each field from the second on becomes 0x19
// (commas inside quoted fields stay).
void awk_prepare_record(char *text, size_t len, char **fields, int numfields, int recnum);
