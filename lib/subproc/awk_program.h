// What the AWK programs ask /usr/bin/awk to run: its argument vector, the user's code given
// with -e, -f and -l, and the texts wrapped around that code. Nothing here starts awk or
// touches a pipe (that is awk_exchange).
//
// The argument vector is "awk", the program's -v assignments, "-e" and the head text (its
// place reserved by awk_argv_reserve_head), with -Q "-e" and each text of the header's names,
// the program's -f/-e pairs in command-line order, then "-e" and the tail text (both texts put in
// by awk_argv_complete, once the descriptor they may write to is known).
//
// The head text makes awk announce, from a BEGIN rule that runs once every program file has
// been read and parsed, that it is ready; so an awk that cannot start (a syntax error, an
// unreadable -f file, an awk that refuses -e) is recognised before any record is read.
//
// One result per value, the head and tail frame every result as awk_exchange parses it: the
// flush request (a record no value can be) flushes awk's output and keeps itself out of NR and
// FNR; the tail rule prints the expression's value as a result frame, escaping the bytes that
// would end it, or the no-result frame when NR is not the next value (user code that ran next,
// or read ahead with getline); so does the flush request's rule when the last value before it
// got no result (both checks are left out where the code cannot move NR or skip the tail). The
// expression stands on a line of its own in the tail text, so that awk's message for a mistake
// in it quotes the user's code alone.
//
// Streaming, the tail rule prints $0 to the result pipe by its number for every record the
// code lets through, and the head has the flush request's rule only when the transport sends
// flush requests; code that may read input itself (awk_code_may_read_ahead) could read that
// request, so for such code the tail flushes after every record instead.
#pragma once

#define AWK_COMMAND "/usr/bin/awk"

// ---- The bytes of the exchange ---------------------------------------------------------------
// The texts here write them and awk_exchange reads and sends them. Each is given once, as the
// octal number the texts spell it with: AWK_TEXT makes it the escape awk reads in a string or a
// regular expression ("\\030"), AWK_BYTE the byte itself.
#define AWK_TEXT(oct) AWK_TEXT_(oct)
#define AWK_TEXT_(oct) "\\" #oct
#define AWK_BYTE(oct) ((char)(oct))
// 030 (AWK_RS_OCT) ends every record sent and every result back (awk's RS and ORS). 031
// (AWK_FS_OCT) separates the fields of whole records sent (awk's FS), opens every frame back,
// and alone is awk's announcement that it is ready. In a result, 030 travels as 032 001, and
// 032 (AWK_ESC_OCT) as 032 002.
#define AWK_RS_OCT 030
#define AWK_FS_OCT 031
#define AWK_ESC_OCT 032
#define AWK_ESC_RS_OCT 001
#define AWK_ESC_ESC_OCT 002
// What follows AWK_FS: a frame with a result, or one for a value without, or the flush
// request, a record sent that no value can be.
#define AWK_RESULT_MARK "="
#define AWK_NO_RESULT_MARK "!"
#define AWK_FLUSH_MARK "\""
// AWK_ONE_VERDICT: a value equal to 1 comes back as 034 and 030 (the result "1", as true as
// its printed text), a value equal to 0 as 035, its text and 030 (a text equal to 0 holds no
// 030 or 032, so it is never escaped); any other value as a result frame.
#define AWK_TRUE_OCT 034
#define AWK_ZERO_OCT 035

#define AWK_RECORD_END AWK_BYTE(AWK_RS_OCT)
#define AWK_FIELD_SEP AWK_BYTE(AWK_FS_OCT)
// The -v assignments that make them awk's separators (awk reads the escapes in a value).
#define AWK_SET_RS "-vRS=" AWK_TEXT(AWK_RS_OCT)
#define AWK_SET_ORS "-vORS=" AWK_TEXT(AWK_RS_OCT)
#define AWK_SET_FS "-vFS=" AWK_TEXT(AWK_FS_OCT)

// awk's argument vector, a libsubproc arg_vector of max entries. Allocation failure is fatal
// with alloc_message and the system error; limit_format ("...(%d vs %d)") is the message of
// awk_argv_add_entry when the vector is full. The same alloc_message serves for the program
// texts and for the exchange.
void awk_argv_init(int max, const char *alloc_message, const char *limit_format);
// awk_argv_init, then "awk", the -v assignments (a null-terminated list) and the head's place.
void awk_argv_begin(int max, const char *alloc_message, const char *limit_format,
                    const char *const *assignments);
// Stores entry (not copied) at the next index; fatal when only the final null is left.
void awk_argv_add_entry(const char *entry);
// Reserves "-e" and the head text's place: call after the -v assignments, before any -f/-e.
void awk_argv_reserve_head(void);

// The alloc_message of awk_argv_init.
extern const char *awk_alloc_message;

enum awk_mode {
    AWK_ONE_RESULT,  // one result back for every value sent (awk_submit and the handler)
    AWK_ONE_VERDICT, // AWK_ONE_RESULT where only whether the result is true matters
    AWK_STREAM,      // records in, whatever the code prints out (read by the caller)
};

// The texts before and after the user's code. One result (or verdict) per value, expr is the
// expression whose printed value is the result ("$0" for the value as the code leaves it).
// Streaming, the records go to descriptor fd (the result pipe's write end, inherited by awk); with
// flush_requests the head answers the transport's flush requests (always, one result per
// value), with flush_each the tail flushes after every record.
char *awk_head_text(awk_mode mode, int fd, bool flush_requests);
char *awk_tail_text(awk_mode mode, const char *expr, int fd, bool flush_each);
// Puts the head text in its place, the field names' texts (if any) after it, and appends "-e"
// and the tail text: the vector to run awk with.
char *const *awk_argv_complete(awk_mode mode, const char *expr, int fd, bool flush_requests,
                               bool flush_each);

// -Q: the header's field names for the code, as zelk_col(NAME), the number of the field
// that NAME names (by header_field_lookup's rule: a field's bytes, or failing that its value;
// the first field of several). A name that names no field ends awk with a message rather than
// give 0, which would make $zelk_col(NAME) the whole record. The names reach awk as string
// literals in BEGIN rules of their own, each argument within the kernel's limit for one, put
// after the head text; numfields fields of a parsed header whose text ends at record_end.
void awk_set_field_names(int numfields, char *const *fields, const char *record_end);
// -u, streaming: the code is given each field's value, and fields are written back quoted
// where they need it (see awk_program.cpp). Before awk_argv_complete.
void awk_give_values(void);
// Whether the code given with -e and -f may read input itself: it names getline, or includes
// another file. A file that cannot be read whole (see every_code_text) counts as one that may.
bool awk_code_may_read_ahead(void);

// Whether the code given with -e, -f and -l and the expression expr mean the same to awk in
// any character set: ASCII that names nothing which counts or classifies characters, reads
// the environment or starts a command (see awk_program.cpp). A file that cannot be read does
// not.
bool awk_code_names_no_characters(const char *expr);
// Where the locale's characters are UTF-8 and its messages are not translated, sets this
// process's environment so that awk, started next, reads bytes as characters (LC_CTYPE=C),
// every other category unchanged, and returns true; otherwise changes nothing. awk then
// spends nothing on decoding characters that the code never looks at.
bool awk_use_byte_characters(void);

// Whether the awk at path runs a program given with -e (run with no input or output).
bool awk_accepts_option_e(const char *path);

// Appends "-f" and the library file path. A path that names standard input ("-",
// /dev/stdin, /dev/fd/0, /proc/self/fd/0, a link to one of them) is refused: awk's standard
// input is the pipe that carries the records, so awk would wait there for its program.
void awk_add_library(const char *path);

// -eCODE, -fCODE_FILE and -lLIB_FILE of the programs that run code of their own, in command-
// line order, with their checks. Returns false for any other letter.
extern char opt_usecode; // -e given
extern char opt_usefile; // -f given
bool awk_code_option(int c, const char *arg);
// After the options: "Error: Must supply AWK code via -e or -f option!" unless -e or -f.
void awk_require_code(void);
