#include "awk_exchange.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <error.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"
#include "libcsv.h"
#include "libsubproc.h"

int awk_to_fd = -1;
int awk_from_fd = -1;

namespace {

const char *alloc_msg;
arg_vector awk_args;
int head_index = -1; // index of the head text's place in awk_args

// One result: a status byte ('=' a result, '!' none), at most AWK_RESULT_MAX - 1 bytes of
// result, the terminator; and room for the NUL that replaces it.
char awkoutput[1 + AWK_RESULT_MAX + 1];

// The announcement that awk has parsed its program and is ready for records.
const char READY = AWK_FIELD_SEP;

char *alloc_or_die(size_t n) {
    char *p = (char *)calloc(n, 1);
    if (!p) fatalf(errno, "%s", alloc_msg);
    return p;
}

char *format_text(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
char *format_text(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    char *text = alloc_or_die((size_t)n + 1);
    va_start(ap, fmt);
    vsnprintf(text, (size_t)n + 1, fmt, ap);
    va_end(ap);
    return text;
}

// awk did not announce itself: it could not parse its program or read a -f file (and said
// so), or /usr/bin/awk is not an awk we can drive. SIGCHLD is still blocked here, so the
// verdict comes from collect_children and not from a race with the handler.
[[noreturn]] void awk_failed_to_start(void) {
    close(awk_to_fd);
    if (!awk_accepts_option_e(AWK_COMMAND)) {
        fatalf(0,
               "ERROR: %s is not an awk that accepts -e; install GNU awk (Debian package gawk) "
               "as %s",
               AWK_COMMAND, AWK_COMMAND);
    }
    if (!collect_children()) exit(1);
    fatalf(0, "ERROR: AWK ended before reading any record");
}

// Writes both pieces whole, resuming after short writes; false on failure (errno set).
bool write_all(struct iovec iov[2]) {
    int i = 0;
    while (i < 2) {
        ssize_t w = writev(awk_to_fd, iov + i, 2 - i);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        while (i < 2 && (size_t)w >= iov[i].iov_len) {
            w -= (ssize_t)iov[i].iov_len;
            i++;
        }
        if (i < 2) {
            iov[i].iov_base = (char *)iov[i].iov_base + w;
            iov[i].iov_len -= (size_t)w;
        }
    }
    return true;
}

} // namespace

void awk_argv_init(int max, const char *alloc_message, const char *limit_format) {
    alloc_msg = alloc_message;
    arg_vector_init(&awk_args, max, alloc_message, limit_format);
}

void awk_argv_begin(int max, const char *alloc_message, const char *limit_format,
                    const char *const *assignments) {
    awk_argv_init(max, alloc_message, limit_format);
    awk_argv_add_entry("awk");
    for (const char *const *a = assignments; *a; a++)
        awk_argv_add_entry(*a);
    awk_argv_reserve_head();
}

void awk_argv_add_entry(const char *entry) {
    arg_vector_add(&awk_args, entry);
}

void awk_argv_reserve_head(void) {
    awk_argv_add_entry("-e");
    head_index = awk_args.count;
    awk_argv_add_entry("");
}

void awk_start(awk_mode mode, const char *expr) {
    int to_awk[2], from_awk[2];
    // awk writes to from_awk[1] by its number, so that end is inherited; the read end is
    // kept out of awk, so that awk cannot hold its own output pipe open.
    if (pipe2(to_awk, O_CLOEXEC) != 0 || pipe(from_awk) != 0 ||
        fcntl(from_awk[0], F_SETFD, FD_CLOEXEC) != 0)
        fatalf(errno, "ERROR: failed creating pipes");
    signal(SIGPIPE, SIG_IGN);

    int fd = from_awk[1];
    char *head;
    char *tail;
    if (mode == AWK_ONE_RESULT) {
        // The sync rule also takes itself out of NR and FNR, so that the code sees them count
        // values. A value whose NR is not one more than the syncs seen had its sync record
        // read by getline in the code: that is reported like a skipped print.
        head = format_text("BEGIN{__zelk_out=\"/dev/fd/%d\";printf \"\\031\" > __zelk_out;"
                           "fflush(__zelk_out)}"
                           "$0==\"\\031\"{if(!__zelk_done){printf \"!\\030\" > __zelk_out;"
                           "fflush(__zelk_out)};__zelk_done=0;__zelk_n++;NR--;FNR--;next}",
                           fd);
        tail = format_text("{if(NR==__zelk_n+1){printf \"=\" > __zelk_out;"
                           "print (%s) > __zelk_out}else printf \"!\\030\" > __zelk_out;"
                           "fflush(__zelk_out);__zelk_done=1}",
                           expr);
    } else {
        head =
            format_text("BEGIN{printf \"\\031\" > \"/dev/fd/%d\";fflush(\"/dev/fd/%d\")}", fd, fd);
        tail = format_text("{print > \"/dev/fd/%d\";fflush(\"/dev/fd/%d\")}", fd, fd);
    }
    awk_args.argv[head_index] = head;
    awk_argv_add_entry("-e");
    awk_argv_add_entry(tail);

    register_sigchld_handler();
    block_sigchld_signals(0);
    run_command_in_subprocess_wpipes(AWK_COMMAND, awk_args.argv, to_awk, from_awk, 0);
    close(to_awk[0]);
    close(from_awk[1]);
    awk_to_fd = to_awk[1];
    awk_from_fd = from_awk[0];

    char c;
    ssize_t n;
    while ((n = read(awk_from_fd, &c, 1)) < 0 && errno == EINTR) {
    }
    if (n != 1 || c != READY) awk_failed_to_start();
    block_sigchld_signals(1);
}

void awk_refuse_framing_bytes(const char *p, size_t n, int recnum) {
    for (size_t i = 0; i < n; i++) {
        if (p[i] == AWK_RECORD_END || p[i] == AWK_FIELD_SEP) {
            fatalf(0,
                   "ERROR: record #%d holds the byte 0x%02X, which cannot be passed to AWK "
                   "(it delimits records and fields there)",
                   recnum, (unsigned)(unsigned char)p[i]);
        }
    }
}

bool awk_send_record(const char *p, size_t n) {
    static const char end = AWK_RECORD_END;
    struct iovec iov[2] = {{const_cast<char *>(p), n}, {const_cast<char *>(&end), 1}};
    return write_all(iov);
}

const char *awk_exchange(const char *p, size_t n, int recnum, const char *write_message,
                         const char *eof_message, int *result_len) {
    // The value, its terminator and the sync record (0x19 alone), in one write.
    static const char tail[] = {AWK_RECORD_END, AWK_FIELD_SEP, AWK_RECORD_END};
    struct iovec iov[2] = {{const_cast<char *>(p), n}, {const_cast<char *>(tail), sizeof tail}};
    if (!write_all(iov)) {
        fatalf(errno, "%s", write_message);
    }

    // The result: complete when the last byte received is the terminator.
    const size_t limit = 1 + AWK_RESULT_MAX;
    size_t got = 0;
    for (;;) {
        ssize_t r = read(awk_from_fd, awkoutput + got, limit - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            fatalf(errno, "ERROR: failed reading new field value from AWK");
        }
        if (r == 0) {
            fatalf(0, "%s", eof_message);
        }
        got += (size_t)r;
        if (awkoutput[got - 1] == AWK_RECORD_END) break;
        if (got == limit) {
            fatalf(0, "ERROR: processed field from AWK exceeds max field size");
        }
    }
    awkoutput[got - 1] = '\0';
    if (awkoutput[0] == '!' && got == 2) {
        fatalf(0,
               "ERROR: AWK gave no result for record #%d: the code must not skip the final "
               "print (no next, no getline)",
               recnum);
    }
    if (awkoutput[0] != '=') {
        fatalf(0, "%s", eof_message);
    }
    *result_len = (int)got - 2;
    return awkoutput + 1;
}

void awk_close_input(void) {
    if (awk_to_fd >= 0) close(awk_to_fd);
    awk_to_fd = -1;
}

bool awk_accepts_option_e(const char *path) {
    posix_spawn_file_actions_t fa;
    if (posix_spawn_file_actions_init(&fa) != 0) return false;
    for (int fd = 0; fd <= 2; fd++)
        posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    char *const argv[] = {const_cast<char *>("awk"), const_cast<char *>("-e"),
                          const_cast<char *>("BEGIN { exit 0 }"), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, path, &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    int st;
    while (waitpid(pid, &st, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

bool awk_result_is_true(const char *result, int len) {
    return !(len == 0 || (len == 1 && result[0] == '0'));
}

void awk_add_library(const char *path) {
    awk_argv_add_entry("-f");
    awk_argv_add_entry(path);
}

char opt_usecode;
char opt_usefile;

bool awk_code_option(int c, const char *arg) {
    switch (c) {
    case 'e':
        if (opt_usefile) fatalf(0, "Error: use only -e or -f, but not both!");
        if (!strchr(arg, '{') || !strchr(arg, '}'))
            fatalf(0, "Error: -eCODE must be a valid AWK program, i.e., rule(s): "
                      "[pattern]{actions}!");
        awk_argv_add_entry("-e");
        awk_argv_add_entry(arg);
        opt_usecode = 1;
        return true;
    case 'f':
        if (opt_usecode) fatalf(0, "Error: use only -e or -f, but not both!");
        awk_add_library(arg);
        opt_usefile = 1;
        return true;
    case 'l': awk_add_library(arg); return true;
    }
    return false;
}

void awk_require_code(void) {
    if (!opt_usecode && !opt_usefile) fatalf(0, "Error: Must supply AWK code via -e or -f option!");
}

void awk_prepare_record(char *text, size_t len, char **fields, int numfields, int recnum) {
    awk_refuse_framing_bytes(text, len, recnum);
    for (int i = 1; i < numfields; i++)
        fields[i][-1] = AWK_FIELD_SEP;
}
