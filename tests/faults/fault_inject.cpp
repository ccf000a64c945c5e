// A preloaded library that makes one call fail: the Nth call (counted from the program's start,
// in all its threads) of the functions of one class, chosen by the environment:
//
//   ZELK_FAULT_MODE   read-eio      read, __uflow, fread, fread_unlocked, fgets, getdelim: EIO
//                     read-eintr    read: EINTR, nothing read
//                     read-short    read: at most half the bytes asked for
//                     write-enospc  write, fwrite, fwrite_unlocked, fputs, fputc, putc,
//                                   __overflow, puts, printf, fprintf, vfprintf: ENOSPC
//                     write-eintr   write: EINTR, nothing written
//                     write-short   write: half the bytes written
//                     open-eacces   open, open64, openat, fopen, fopen64, fdopen: EACCES
//                     fork-eagain   fork: EAGAIN
//                     pipe-emfile   pipe, pipe2: EMFILE
//                     flush-enospc  fflush, fclose: ENOSPC (fclose still closes)
//                     malloc-enomem malloc, calloc, realloc: ENOMEM
//                     seek-eio      fseeko, fseek, lseek: EIO
//   ZELK_FAULT_N      which call (1-based)
//   ZELK_FAULT_REPORT a file to which a line naming the function is appended when it fires
//
// Standard error is never touched, so the program's messages can be checked. A child keeps no
// fault (it is disarmed after fork), and the variables are removed from the environment at
// start-up, so programs run by the program (sort, awk) run untouched.
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

enum Mode {
    NONE, READ_EIO, READ_EINTR, READ_SHORT, WRITE_ENOSPC, WRITE_EINTR, WRITE_SHORT, OPEN_EACCES,
    FORK_EAGAIN, PIPE_EMFILE, FLUSH_ENOSPC, MALLOC_ENOMEM, SEEK_EIO
};

const char *const mode_names[] = {"", "read-eio", "read-eintr", "read-short", "write-enospc",
                                  "write-eintr", "write-short", "open-eacces", "fork-eagain",
                                  "pipe-emfile", "flush-enospc", "malloc-enomem", "seek-eio"};

Mode mode = NONE;
long target;
char report[4096];
std::atomic<long> calls;
std::atomic<bool> armed;

const int IO_ERR_SEEN = 0x20; // the error indicator bit of a glibc FILE

__attribute__((constructor)) void start() {
    const char *m = getenv("ZELK_FAULT_MODE");
    const char *n = getenv("ZELK_FAULT_N");
    const char *r = getenv("ZELK_FAULT_REPORT");
    if (m)
        for (int i = 1; i < (int)(sizeof mode_names / sizeof *mode_names); i++)
            if (strcmp(m, mode_names[i]) == 0) mode = (Mode)i;
    target = n ? atol(n) : 0;
    if (r) snprintf(report, sizeof report, "%s", r);
    unsetenv("LD_PRELOAD");
    unsetenv("ZELK_FAULT_MODE");
    unsetenv("ZELK_FAULT_N");
    unsetenv("ZELK_FAULT_REPORT");
    armed = mode != NONE && target > 0;
}

// True when this call, of a function of class m, is the one to fail; notes it in the report.
bool fires(Mode m, const char *fn) {
    if (mode != m || !armed.load(std::memory_order_relaxed)) return false;
    if (calls.fetch_add(1) + 1 != target) return false;
    armed = false;
    if (report[0]) {
        int fd = (int)syscall(SYS_openat, AT_FDCWD, report, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char line[128];
            int len = snprintf(line, sizeof line, "%s %ld %s\n", mode_names[m], target, fn);
            syscall(SYS_write, fd, line, (size_t)len);
            syscall(SYS_close, fd);
        }
    }
    return true;
}

bool is_stderr(FILE *fp) { return fp == stderr || (fp && fileno(fp) == 2); }

void fail_stream(FILE *fp, int err) {
    if (fp) fp->_flags |= IO_ERR_SEEN;
    errno = err;
}

template <class F> F next(const char *name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

#define REAL(name) static auto real = next<decltype(&::name)>(#name)

} // namespace

extern "C" {

ssize_t read(int fd, void *buf, size_t n) {
    REAL(read);
    if (fires(READ_EIO, "read")) return errno = EIO, -1;
    if (fires(READ_EINTR, "read")) return errno = EINTR, -1;
    if (n > 1 && fires(READ_SHORT, "read")) n /= 2;
    return real(fd, buf, n);
}

int __uflow(FILE *fp) {
    static auto real = next<int (*)(FILE *)>("__uflow");
    if (!is_stderr(fp) && fires(READ_EIO, "__uflow")) return fail_stream(fp, EIO), EOF;
    return real(fp);
}

size_t fread(void *p, size_t size, size_t n, FILE *fp) {
    REAL(fread);
    if (fires(READ_EIO, "fread")) return fail_stream(fp, EIO), 0;
    return real(p, size, n, fp);
}

size_t fread_unlocked(void *p, size_t size, size_t n, FILE *fp) {
    REAL(fread_unlocked);
    if (fires(READ_EIO, "fread_unlocked")) return fail_stream(fp, EIO), 0;
    return real(p, size, n, fp);
}

char *fgets(char *s, int n, FILE *fp) {
    REAL(fgets);
    if (fires(READ_EIO, "fgets")) return fail_stream(fp, EIO), nullptr;
    return real(s, n, fp);
}

ssize_t getdelim(char **line, size_t *n, int delim, FILE *fp) {
    REAL(getdelim);
    if (fires(READ_EIO, "getdelim")) return fail_stream(fp, EIO), -1;
    return real(line, n, delim, fp);
}

ssize_t write(int fd, const void *buf, size_t n) {
    REAL(write);
    if (fd != 2) {
        if (fires(WRITE_ENOSPC, "write")) return errno = ENOSPC, -1;
        if (fires(WRITE_EINTR, "write")) return errno = EINTR, -1;
        if (n > 1 && fires(WRITE_SHORT, "write")) n /= 2;
    }
    return real(fd, buf, n);
}

#define STREAM_WRITE(call, fp, fail_value)                                                     \
    do {                                                                                       \
        if (!is_stderr(fp) && fires(WRITE_ENOSPC, call)) return fail_stream(fp, ENOSPC), fail_value; \
    } while (0)

size_t fwrite(const void *p, size_t size, size_t n, FILE *fp) {
    REAL(fwrite);
    STREAM_WRITE("fwrite", fp, 0);
    return real(p, size, n, fp);
}

size_t fwrite_unlocked(const void *p, size_t size, size_t n, FILE *fp) {
    REAL(fwrite_unlocked);
    STREAM_WRITE("fwrite_unlocked", fp, 0);
    return real(p, size, n, fp);
}

int fputs(const char *s, FILE *fp) {
    REAL(fputs);
    STREAM_WRITE("fputs", fp, EOF);
    return real(s, fp);
}

int fputc(int c, FILE *fp) {
    REAL(fputc);
    STREAM_WRITE("fputc", fp, EOF);
    return real(c, fp);
}

int putc(int c, FILE *fp) {
    REAL(putc);
    STREAM_WRITE("putc", fp, EOF);
    return real(c, fp);
}

int __overflow(FILE *fp, int c) {
    static auto real = next<int (*)(FILE *, int)>("__overflow");
    STREAM_WRITE("__overflow", fp, EOF);
    return real(fp, c);
}

int puts(const char *s) {
    REAL(puts);
    STREAM_WRITE("puts", stdout, EOF);
    return real(s);
}

int vfprintf(FILE *fp, const char *fmt, va_list ap) {
    REAL(vfprintf);
    STREAM_WRITE("vfprintf", fp, -1);
    return real(fp, fmt, ap);
}

int fprintf(FILE *fp, const char *fmt, ...) {
    static auto real = next<int (*)(FILE *, const char *, va_list)>("vfprintf");
    STREAM_WRITE("fprintf", fp, -1);
    va_list ap;
    va_start(ap, fmt);
    int r = real(fp, fmt, ap);
    va_end(ap);
    return r;
}

int printf(const char *fmt, ...) {
    static auto real = next<int (*)(FILE *, const char *, va_list)>("vfprintf");
    STREAM_WRITE("printf", stdout, -1);
    va_list ap;
    va_start(ap, fmt);
    int r = real(stdout, fmt, ap);
    va_end(ap);
    return r;
}

int open(const char *path, int flags, ...) {
    static auto real = next<int (*)(const char *, int, ...)>("open");
    va_list ap;
    va_start(ap, flags);
    mode_t m = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    if (fires(OPEN_EACCES, "open")) return errno = EACCES, -1;
    return real(path, flags, m);
}

int open64(const char *path, int flags, ...) {
    static auto real = next<int (*)(const char *, int, ...)>("open64");
    va_list ap;
    va_start(ap, flags);
    mode_t m = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    if (fires(OPEN_EACCES, "open64")) return errno = EACCES, -1;
    return real(path, flags, m);
}

int openat(int dir, const char *path, int flags, ...) {
    static auto real = next<int (*)(int, const char *, int, ...)>("openat");
    va_list ap;
    va_start(ap, flags);
    mode_t m = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    if (fires(OPEN_EACCES, "openat")) return errno = EACCES, -1;
    return real(dir, path, flags, m);
}

FILE *fopen(const char *path, const char *m) {
    REAL(fopen);
    if (fires(OPEN_EACCES, "fopen")) return errno = EACCES, nullptr;
    return real(path, m);
}

FILE *fopen64(const char *path, const char *m) {
    static auto real = next<FILE *(*)(const char *, const char *)>("fopen64");
    if (fires(OPEN_EACCES, "fopen64")) return errno = EACCES, nullptr;
    return real(path, m);
}

FILE *fdopen(int fd, const char *m) {
    REAL(fdopen);
    if (fires(OPEN_EACCES, "fdopen")) return errno = EACCES, nullptr;
    return real(fd, m);
}

pid_t fork(void) {
    REAL(fork);
    if (fires(FORK_EAGAIN, "fork")) return errno = EAGAIN, -1;
    pid_t pid = real();
    if (pid == 0) armed = false;
    return pid;
}

int pipe(int fds[2]) {
    REAL(pipe);
    if (fires(PIPE_EMFILE, "pipe")) return errno = EMFILE, -1;
    return real(fds);
}

int pipe2(int fds[2], int flags) {
    REAL(pipe2);
    if (fires(PIPE_EMFILE, "pipe2")) return errno = EMFILE, -1;
    return real(fds, flags);
}

int fflush(FILE *fp) {
    REAL(fflush);
    if (fp && !is_stderr(fp) && fires(FLUSH_ENOSPC, "fflush")) return fail_stream(fp, ENOSPC), EOF;
    return real(fp);
}

int fclose(FILE *fp) {
    REAL(fclose);
    bool fail = !is_stderr(fp) && fires(FLUSH_ENOSPC, "fclose");
    int r = real(fp);
    if (fail) return errno = ENOSPC, EOF;
    return r;
}

int fseeko(FILE *fp, off_t off, int whence) {
    REAL(fseeko);
    if (fires(SEEK_EIO, "fseeko")) return fail_stream(fp, EIO), -1;
    return real(fp, off, whence);
}

int fseeko64(FILE *fp, off64_t off, int whence) {
    REAL(fseeko64);
    if (fires(SEEK_EIO, "fseeko64")) return fail_stream(fp, EIO), -1;
    return real(fp, off, whence);
}

int fseek(FILE *fp, long off, int whence) {
    REAL(fseek);
    if (fires(SEEK_EIO, "fseek")) return fail_stream(fp, EIO), -1;
    return real(fp, off, whence);
}

off_t lseek(int fd, off_t off, int whence) {
    REAL(lseek);
    if (fires(SEEK_EIO, "lseek")) return errno = EIO, (off_t)-1;
    return real(fd, off, whence);
}

off64_t lseek64(int fd, off64_t off, int whence) {
    REAL(lseek64);
    if (fires(SEEK_EIO, "lseek64")) return errno = EIO, (off64_t)-1;
    return real(fd, off, whence);
}

#ifndef ZELK_FAULTS_NO_MALLOC
// The C library's allocator by its own names, so that no lookup (which may allocate) is needed.
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);

void *malloc(size_t n) {
    if (fires(MALLOC_ENOMEM, "malloc")) return errno = ENOMEM, nullptr;
    return __libc_malloc(n);
}

void *calloc(size_t n, size_t size) {
    if (fires(MALLOC_ENOMEM, "calloc")) return errno = ENOMEM, nullptr;
    return __libc_calloc(n, size);
}

void *realloc(void *p, size_t n) {
    if (fires(MALLOC_ENOMEM, "realloc")) return errno = ENOMEM, nullptr;
    return __libc_realloc(p, n);
}
#endif

} // extern "C"
