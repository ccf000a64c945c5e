// Sort frames: feeding records to /usr/bin/sort and turning its output back into CSV.
#include "sort_frame.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "cli.h"
#include "datetime.h"
#include "libsubproc.h"
#include "libcsv.h"

namespace {

constexpr size_t PIPE_BUFFER = 1 << 16;
constexpr int SORT_PIPE_SIZE = 1 << 20; // fewer context switches while sort reads

} // namespace

void start_sort_child(char *const argv[], int to_sort[2], int from_sort[2]) {
    start_command_with_pipes(SORT_COMMAND, argv, to_sort, from_sort, 1);
    fcntl(to_sort[1], F_SETPIPE_SZ, SORT_PIPE_SIZE); // a hint: failure changes nothing
    fcntl(from_sort[0], F_SETPIPE_SZ, SORT_PIPE_SIZE);
}

FILE *open_sort_pipe(int fd) {
    FILE *fp = fdopen(fd, "w");
    if (!fp) {
        fatalf(errno, "ERROR: failed opening sort pipe for main process");
    }
    // (glibc ignores the size unless it is given the buffer as well, and would write the pipe
    // 4 KiB at a time.)
    static char buf[PIPE_BUFFER];
    setvbuf(fp, buf, _IOFBF, sizeof buf);
    return fp;
}

void sort_write_header(const char *text, size_t len) {
    out_record(text, len);
    fflush(stdout);
    errcheck_stdout_exit();
}

void sortframe_check_record(int recnum, const char *record, size_t len) {
    if (memchr(record, '\0', len))
        fatalf(0, "ERROR: record #%d: holds a NUL byte, which cannot be sorted", recnum);
}

void sortframe_check_key(int recnum, const char *key, size_t len, bool multikey) {
    if (memchr(key, SORT_FRAME_RECSTART, len) || (multikey && memchr(key, SORT_FRAME_KEYSEP, len)))
        fatalf(0,
               "ERROR: record #%d: sort key holds a control byte (0x01 or 0x02), which cannot "
               "be sorted",
               recnum);
}

namespace {

// Bytes into the pipe's buffer, copied in place while it has room (fwrite when full, which
// also notes a failed write for sortframe_check_pipe).
inline void pipe_bytes(FILE *pipe, const char *p, size_t n) {
    if ((size_t)(pipe->_IO_write_end - pipe->_IO_write_ptr) > n) {
        memcpy(pipe->_IO_write_ptr, p, n);
        pipe->_IO_write_ptr += n;
        return;
    }
    fwrite_unlocked(p, 1, n, pipe);
}

} // namespace

void sortframe_put_key(FILE *pipe, const char *key, size_t len) { pipe_bytes(pipe, key, len); }

void sortframe_put_record(FILE *pipe, const char *record, size_t len, bool cr) {
    putc_unlocked(SORT_FRAME_RECSTART, pipe);
    pipe_bytes(pipe, record, len);
    if (cr) putc_unlocked('\r', pipe);
    putc_unlocked('\0', pipe);
}

void sortframe_check_pipe(FILE *pipe) {
    if (ferror(pipe)) {
        fatalf(errno, "Error: failed writing output to '%s'", "pipe to sort");
    }
}

bool close_sort_pipe(FILE *pipe) {
    return fclose(pipe) == 0;
}

const char *datetime_to_utimestr(const char *key, const char *format, int recnum,
                                 const char *what) {
    // Room for any time_t: a key converted to more digits than a smaller buffer holds would
    // otherwise be cut and sort in the wrong place.
    static char utimestr[24];
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    if (!datetime_parse(key, format, &tm)) {
        fatalf(0, "ERROR: record #%d: %s was an invalid date-time: '%s'", recnum, what, key);
    }
    tm.tm_isdst = -1;
    // mktime sets tm_yday only on success, which tells a failure from the valid result -1
    // (one second before the epoch).
    tm.tm_yday = -1;
    errno = 0;
    time_t t = mktime(&tm);
    if (t == (time_t)-1 && tm.tm_yday == -1) {
        errorf(errno, "ERROR: record #%d: failed to convert date-time '%s' to utime", recnum, key);
        fatalf(0, "ERROR: record #%d: %s was an invalid date-time: '%s'", recnum, what, key);
    }
    snprintf(utimestr, sizeof utimestr, "%ld", (long)t);
    return utimestr;
}

bool reformat_sort_output(int fd) {
    static char in[MAX_RECORD_LENGTH];
    static char out[MAX_RECORD_LENGTH + 8];
    bool in_key = true;
    fflush(stdout); // the header, if any, goes first
    for (;;) {
        ssize_t n = read(fd, in, sizeof in);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        size_t o = 0;
        const char *p = in, *end = in + n;
        while (p < end) {
            if (in_key) {
                const char *start = (const char *)memchr(p, SORT_FRAME_RECSTART, (size_t)(end - p));
                if (!start) break;
                p = start + 1;
                in_key = false;
            } else {
                const char *nul = (const char *)memchr(p, '\0', (size_t)(end - p));
                const char *stop = nul ? nul : end;
                memcpy(out + o, p, (size_t)(stop - p));
                o += (size_t)(stop - p);
                p = stop;
                if (nul) {
                    out[o++] = '\n';
                    p++;
                    in_key = true;
                }
            }
        }
        if (o > 0 && !write_fd_all(STDOUT_FILENO, out, o)) {
            exit_if_output_broken(errno);
            break;
        }
    }
    errorf(errno, "ERROR: failed reformatting sort output");
    return false;
}

void print_datetime_usage(FILE *out, const char *tz_note) {
    fputs("Date-time FORMAT must be consistent with strptime(3):\n", out);
    fprintf(out, "e.g., \"%%m/%%d/%%Y %%T\" (the default) for \"1/5/2021 1:23:45\" or "
                 "\"01/05/2021 01:23:45\";\n");
    fprintf(out, "e.g., \"%%D %%R\" for \"1/5/21 1:23\" or \"01/05/21 01:23\";\n");
    fputs("Use \"man strptime\" for further info.\n\n", out);
    fputs(tz_note, out);
}
