#include "cli.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

char opt_blankrecspass;
char opt_blankrecisfield;
char opt_headerproc;
char opt_headeromit;
char opt_queryfieldname;
char opt_terminatecr;
char opt_terminatezero;
const char *opt_recterminator = "\n";
const char *opt_fieldnamestr = "";
int opt_jobs;

const char *const STDIN_NAME = "standard input";

namespace {

const cli_program *program;
bool seen[256];
int out_errno; // errno of the last failed write to standard output
void (*broken_output_fn)(void);
void flush_before_refill(FILE *fp);

// The common pairs, refused when both letters have their common meaning.
const cli_pair common_pairs[] = {{'b', '1'}, {'h', 'o'}, {'h', 'Q'}, {'t', 'z'}, {0, 0}};

bool is_common(char c) { return c != '\0' && strchr(program->common, c) != nullptr; }

[[noreturn]] void refuse_pair(const cli_pair &p) {
    if (p.message) fatalf(0, "%s", p.message);
    fatalf(0, "Error: -%c and -%c options not compatible!", p.a, p.b);
}

void check_pairs(const cli_pair *pairs, char c, bool common) {
    for (const cli_pair *p = pairs; p && p->a; p++) {
        if (common && !(is_common(p->a) && is_common(p->b))) continue;
        if (c == p->b && seen[(unsigned char)p->a]) refuse_pair(*p);
        if (!p->directed && c == p->a && seen[(unsigned char)p->b]) refuse_pair(*p);
    }
}

void set_common(char c) {
    switch (c) {
    case 'b': opt_blankrecspass = 1; break;
    case '1': opt_blankrecisfield = 1; break;
    case 'h': opt_headerproc = 1; break;
    case 'o': opt_headeromit = 1; break;
    case 'Q': opt_queryfieldname = 1; break;
    case 't':
        opt_terminatecr = 1;
        opt_recterminator = "\r\n";
        break;
    case 'z': opt_terminatezero = 1; break;
    case 'j': opt_jobs = intstrconv(optarg, "-jNUM", 1, MAX_JOBS); break;
    }
}

} // namespace

void cli_begin(const cli_program *prog, int argc, char **argv) {
    program = prog;
    opterr = 0; // cli_next_option says what is wrong with an option
    // Help asked for is the program's output, to page or to search; usage after a wrong
    // invocation (cli_usage_exit) is a message.
    if (argc > 1 && strcmp(argv[1], "--help") == 0) {
        prog->print_usage(stdout);
        cli_exit(0);
    }
    if (argc > 1 && strcmp(argv[1], "--version") == 0) {
        printf("%s (zelk) %s\n", prog->name, ZELK_VERSION);
        cli_exit(0);
    }
    // A large output buffer, unless a person is watching.
    // (glibc ignores the size unless it is given the buffer as well.)
    static char out_buffer[1 << 17];
    if (!isatty(STDOUT_FILENO)) setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    // Standard input is read in large blocks too (a pipe as much as a file); a program that
    // hands standard input on may still make it unbuffered, as nothing has been read yet.
    if (!isatty(STDIN_FILENO)) input_buffer_lend(stdin);
    csv_set_before_refill(flush_before_refill);
    // A message writes out standard output first: through the writers here, so that a failed
    // write is remembered with its reason for the output check, as any other.
    csv_set_before_message(out_flush);
}

int cli_next_option(int argc, char **argv) {
    for (;;) {
        int c = getopt(argc, argv, program->optstring);
        if (c == -1) return -1;
        if (c == '?' || c == ':') {
            // getopt's own words, but through errorf: the option letter is any byte.
            if (optopt != 0 && optopt != ':' && strchr(program->optstring, optopt))
                errorf(0, "option requires an argument -- '%c'", optopt);
            else
                errorf(0, "invalid option -- '%c'", optopt);
            cli_try_exit();
        }
        check_pairs(common_pairs, (char)c, true);
        check_pairs(program->pairs, (char)c, false);
        seen[(unsigned char)c] = true;
        if (!is_common((char)c)) return c;
        set_common((char)c);
    }
}

bool cli_seen(char c) { return seen[(unsigned char)c]; }

bool cli_option_given(int argc, char **argv, char c) {
    bool given = false;
    for (int opt; (opt = getopt(argc, argv, program->optstring)) != -1;)
        if (opt == c) given = true;
    optind = 0; // glibc's getopt starts again from the first argument
    return given;
}

void cli_usage_exit(void) {
    program->print_usage(stderr);
    exit(1);
}

void cli_try_exit(void) {
    fprintf(stderr, "Try '%s --help' for more information.\n", program->name);
    exit(1);
}

int intstrconv(const char *str, const char *name, int min, int max) {
    char reason[51] = "";
    char *end;
    errno = 0;
    long v = strtol(str, &end, 10);
    if (errno == ERANGE || (v == 0 && errno == EINVAL) || v < INT_MIN || v > INT_MAX)
        snprintf(reason, sizeof reason, "invalid/out-of-range");
    else if (end == str)
        snprintf(reason, sizeof reason, "does not represent an integer");
    else if (*end != '\0')
        snprintf(reason, sizeof reason, "includes non-digits");
    else if ((int)v < min)
        snprintf(reason, sizeof reason, "must be >= %d", min);
    else if (max != INT_MAX && (int)v > max)
        snprintf(reason, sizeof reason, "must be <= %d", max);
    if (reason[0]) fatalf(0, "Invalid value for %s: %s (%s)", name, str, reason);
    return (int)v;
}

namespace {

// Whether the value of a header field (len bytes, already without a BOM) is name: the bytes
// themselves, or those between the quotes of a quoted field with each doubled quote single.
bool header_value_is(const char *field, size_t len, const char *name, size_t namelen) {
    if (len < 2 || field[0] != '"' || field[len - 1] != '"')
        return len == namelen && memcmp(field, name, len) == 0;
    size_t j = 0;
    for (size_t i = 1; i + 1 < len; i++) {
        if (j == namelen || field[i] != name[j]) return false;
        j++;
        if (field[i] == '"') i++; // the second quote of a doubled pair
    }
    return j == namelen;
}

} // namespace

const char *header_field_skip_bom(const char *field, int *len) {
    if (*len >= CSV_UTF8_BOM_LEN && memcmp(field, CSV_UTF8_BOM, CSV_UTF8_BOM_LEN) == 0) {
        *len -= CSV_UTF8_BOM_LEN;
        return field + CSV_UTF8_BOM_LEN;
    }
    return field;
}

size_t header_field_value(const char *field, int len, int fieldnum, char *out) {
    if (fieldnum == 1) field = header_field_skip_bom(field, &len);
    if (len < 2 || field[0] != '"' || field[len - 1] != '"') {
        memcpy(out, field, (size_t)len);
        return (size_t)len;
    }
    size_t j = 0;
    for (int i = 1; i + 1 < len; i++) {
        out[j++] = field[i];
        if (field[i] == '"') i++; // the second quote of a doubled pair
    }
    return j;
}

int header_field_lookup(const char *name, int numfields, char *const *fields,
                        const char *record_end) {
    size_t namelen = strlen(name);
    for (int pass = 0; pass < 2; pass++) {
        for (int i = 1; i <= numfields; i++) {
            int len = csv_parsed_field_length(fields, numfields, i, record_end);
            const char *field = fields[i - 1];
            if (pass == 0) {
                if ((size_t)len == namelen && memcmp(field, name, namelen) == 0) return i;
                continue;
            }
            if (i == 1) field = header_field_skip_bom(field, &len);
            if (header_value_is(field, (size_t)len, name, namelen)) return i;
        }
    }
    return 0;
}

int fieldname2fieldnum(const char *name, int numfields, char **fields) {
    // The parsed form leaves the commas in place; the last field ends at the text's NUL.
    const char *end = numfields > 0 ? fields[numfields - 1] + strlen(fields[numfields - 1])
                                    : nullptr;
    int n = header_field_lookup(name, numfields, fields, end);
    if (n == 0) fatalf(0, "ERROR: FIELD name '%s' not found in header", name);
    return n;
}

void error_empty_input(const char *name) { errorf(0, "ERROR: CSVFILE '%s' is empty", name); }

bool is_stdin_operand(const char *path) { return path[0] == '-' && path[1] == '\0'; }

FILE *open_csvfile(const char *path) {
    FILE *fp = fopen(path, "r");
    if (!fp) {
        errorf(errno, "ERROR: failed opening CSVFILE '%s'", path);
        return nullptr;
    }
    input_buffer_lend(fp);
    return fp;
}

namespace {

// Buffers lent to open inputs. glibc ignores setvbuf's size unless it is given the buffer as
// well, and its own buffer for a file is one block (4 KiB): a read system call for every 4 KiB.
// Untouched slots cost no memory.
struct input_slot {
    FILE *fp;      // the input holding the buffer, or null
    bool may_wait; // it is not a regular file: a read may wait for bytes to arrive
    char buf[1 << 17];
};
input_slot input_slots[4];

// Before an input's empty buffer is refilled. Asked once a refill, and only while standard
// output holds bytes, so that a pipe kept full or a file read to its end costs no more than
// the test of a pointer; a regular file never waits, and is known as one from its slot.
void flush_before_refill(FILE *fp) {
    if (__fpending(stdout) == 0) return;
    int fd = fileno(fp);
    // A stream of the program's own making (fopencookie) waits in its own way.
    if (fd < 0) return;
    for (const input_slot &s : input_slots)
        if (s.fp == fp && !s.may_wait) return;
    out_flush_before_wait(fd);
}

} // namespace

void input_buffer_lend(FILE *fp) {
    for (input_slot &s : input_slots) {
        if (s.fp) continue;
        if (setvbuf(fp, s.buf, _IOFBF, sizeof s.buf) != 0) return;
        struct stat st;
        s.fp = fp;
        s.may_wait = fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode);
        return;
    }
}

int close_input(FILE *fp) {
    int r = fclose(fp);
    for (input_slot &s : input_slots)
        if (s.fp == fp) s.fp = nullptr;
    return r;
}

FILE *open_input_or_exit(const char *path, const char **name) {
    if (!path || is_stdin_operand(path)) {
        *name = STDIN_NAME;
        return stdin;
    }
    *name = path;
    FILE *fp = open_csvfile(path);
    if (!fp) fatal_exit();
    return fp;
}

void out_flush_before_wait(int fd) {
    if (__fpending(stdout) == 0) return;
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0) return; // bytes, the end or an error: the read will not wait
    if (fflush(stdout) != 0) out_errno = errno;
}

void out_bytes_slow(const char *p, size_t n) {
    if (fwrite_unlocked(p, 1, n, stdout) != n) out_errno = errno;
}

void out_char_slow(char c) {
    if (putc_unlocked(c, stdout) == EOF) out_errno = errno;
}

void out_int(long v) {
    char digits[24];
    char *end = digits + sizeof digits, *p = end;
    unsigned long u = v < 0 ? 0UL - (unsigned long)v : (unsigned long)v;
    do {
        *--p = (char)('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0) *--p = '-';
    out_bytes(p, (size_t)(end - p));
}

char *out_rec_start;
char *out_rec_ptr;
char *out_rec_limit;
int out_rec_nfields;
int out_rec_recnum;
bool out_rec_csv;
bool out_rec_open;

namespace {
char out_rec_staging[OUT_REC_ROOM];
} // namespace

// A fully buffered stream whose buffer holds two records of the greatest length (the output
// buffer's 128 KiB does) is flushed to make room; otherwise (a terminal, or nothing written
// yet) the record grows in its own buffer.
char *out_rec_room_slow(void) {
    FILE *f = stdout;
    // (Writing, a fully buffered stream may fill its buffer to the end; a line-buffered one
    // has no room at all, so that every byte reaches the check for a line feed.)
    if (f->_IO_write_ptr == nullptr || f->_IO_write_end != f->_IO_buf_end ||
        (size_t)(f->_IO_buf_end - f->_IO_buf_base) < 2 * MAX_RECORD_LENGTH)
        return out_rec_staging;
    if (fflush(f) != 0) out_errno = errno;
    if ((size_t)(f->_IO_write_end - f->_IO_write_ptr) >= OUT_REC_ROOM) return f->_IO_write_ptr;
    return out_rec_staging;
}

void out_rec_length_exceeded(int recnum) {
    fatalf(0, "ERROR: record #%d: output record length exceeded MAX_RECORD_LENGTH (%d)", recnum,
           MAX_RECORD_LENGTH);
}

void out_rec_fields_exceeded(int recnum) {
    fatalf(0, "ERROR: record #%d: number of output fields exceeded MAX_FIELDS (%d)", recnum,
           MAX_FIELDS);
}

void out_rec_bom_quoted_not_first(const char *p, size_t n) {
    // The readers give a mark followed by a double quote only as the start of a quoted field.
    if (csv_bom_before_quote(p, n)) {
        out_rec_char('"');
        out_rec_bytes(p, CSV_UTF8_BOM_LEN);
        p += CSV_UTF8_BOM_LEN + 1;
        n -= CSV_UTF8_BOM_LEN + 1;
    }
    out_rec_bytes(p, n);
}

// Built in the buffer of its own, or in standard output's buffer that was flushed meanwhile (a
// message to standard error flushes it first): the bytes are intact, but not in place.
void out_rec_end_slow(void) {
    size_t n = (size_t)(out_rec_ptr - out_rec_start);
    if (out_rec_start != out_rec_staging) memcpy(out_rec_staging, out_rec_start, n);
    out_bytes(out_rec_staging, n);
}

void end_by_default_signal(int sig) {
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
    raise(sig);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    _exit(128 + sig);
}

void set_broken_output_exit(void (*fn)(void)) { broken_output_fn = fn; }

void errcheck_stdout_fail(void) {
    int err = out_errno ? out_errno : errno;
    if (err == EPIPE && broken_output_fn) broken_output_fn();
    fatalf(err, "Error: failed writing output to standard output");
}

void out_flush(void) {
    if (fflush(stdout) != 0) out_errno = errno;
}

void out_bytes_direct(const char *p, size_t n) {
    out_flush();
    if (ferror(stdout) || write_fd_all(STDOUT_FILENO, p, n)) return;
    out_errno = errno;
    stdout->_flags |= _IO_ERR_SEEN;
}

void cli_exit(int status) {
    out_flush();
    errcheck_stdout_exit();
    exit(status);
}

bool write_fd_all(int fd, const char *p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= (size_t)w;
    }
    return true;
}

void print_matched_record(int recnum, const char *text, size_t n) {
    if (recnum > 0) {
        out_int(recnum);
        out_char(':');
    }
    out_record(text, n);
}
