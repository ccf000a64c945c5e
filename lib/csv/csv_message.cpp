// Messages to standard error and the fatal exit: the one way every program warns and dies.
// A message echoes what it was given (field values, field names, file names, option
// arguments), and that text must never reach a terminal as control bytes: an escape sequence
// in a CSV field would otherwise retitle the window or rewrite the screen. So the format's own
// text is written as it is, newlines included, and every argument of %s or %c is escaped; a
// newline inside an argument is data, and escaped like any other control byte, so that no
// value can forge a line that looks like a message of its own. Whatever changes the format
// walker below must keep to the conversions printf(3) checks at compile time (the
// format attribute on errorf and fatalf).
#include "libcsv.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>

namespace {

// A static buffer: a message must come out when memory has run out, and a fatal exit that
// does not end the process (a test's) must not leak it. Room for two whole fields, every byte
// of them escaped.
char message[4 * (2 * MAX_FIELD_LENGTH + 256)];
size_t message_len;

void put_raw(const char *p, size_t n) {
    size_t room = sizeof message - 1 - message_len;
    if (n > room) n = room;
    memcpy(message + message_len, p, n);
    message_len += n;
}

// A control byte, DEL, or a C1 control in its UTF-8 form (0xC2 0x80 to 0xC2 0x9F, which some
// terminals obey as they do ESC [) becomes \ooo for each of its bytes. A lone byte of 0x80 to
// 0x9F is left alone: it is part of a UTF-8 character, or text in an 8-bit encoding.
size_t escaped(const char *text, size_t n, char *out) {
    size_t k = 0;
    auto octal = [&](unsigned char c) {
        out[k++] = '\\';
        out[k++] = (char)('0' + (c >> 6));
        out[k++] = (char)('0' + ((c >> 3) & 7));
        out[k++] = (char)('0' + (c & 7));
    };
    const unsigned char *p = (const unsigned char *)text;
    for (size_t i = 0; i < n; i++) {
        if (p[i] < 0x20 || p[i] == 0x7f) {
            octal(p[i]);
        } else if (p[i] == 0xc2 && i + 1 < n && p[i + 1] >= 0x80 && p[i + 1] <= 0x9f) {
            octal(p[i]);
            octal(p[++i]);
        } else {
            out[k++] = (char)p[i];
        }
    }
    return k;
}

// Digits of a width or precision in a format.
int read_number(const char **p) {
    int v = 0;
    for (; **p >= '0' && **p <= '9'; (*p)++)
        v = v * 10 + (**p - '0');
    return v;
}

void put_escaped(const char *text, size_t n, int width, bool left) {
    static char buf[sizeof message];
    if (n > sizeof buf / 4) n = sizeof buf / 4;
    size_t len = escaped(text, n, buf);
    size_t pad = width > 0 && (size_t)width > len ? (size_t)width - len : 0;
    for (; !left && pad > 0; pad--)
        put_raw(" ", 1);
    put_raw(buf, len);
    for (; pad > 0; pad--)
        put_raw(" ", 1);
}

// One conversion other than %s and %c, formatted by snprintf from a directive of its own (the
// conversion rebuilt alone: flags, width, precision, length and letter).
template <typename T> void put_converted(const char *directive, T value) {
    char buf[512];
    int n = snprintf(buf, sizeof buf, directive, value);
    if (n > 0) put_raw(buf, (size_t)n < sizeof buf ? (size_t)n : sizeof buf - 1);
}

void put_integer(const char *directive, const char *length, char conv, va_list *ap) {
    bool is_signed = conv == 'd' || conv == 'i';
    if (!strcmp(length, "l")) {
        if (is_signed)
            put_converted(directive, va_arg(*ap, long));
        else
            put_converted(directive, va_arg(*ap, unsigned long));
    } else if (!strcmp(length, "ll") || !strcmp(length, "q")) {
        if (is_signed)
            put_converted(directive, va_arg(*ap, long long));
        else
            put_converted(directive, va_arg(*ap, unsigned long long));
    } else if (!strcmp(length, "j")) {
        if (is_signed)
            put_converted(directive, va_arg(*ap, intmax_t));
        else
            put_converted(directive, va_arg(*ap, uintmax_t));
    } else if (!strcmp(length, "z") || !strcmp(length, "Z")) {
        if (is_signed)
            put_converted(directive, va_arg(*ap, ssize_t));
        else
            put_converted(directive, va_arg(*ap, size_t));
    } else if (!strcmp(length, "t")) {
        put_converted(directive, va_arg(*ap, ptrdiff_t));
    } else { // int, and the char and short that travel as int
        if (is_signed)
            put_converted(directive, va_arg(*ap, int));
        else
            put_converted(directive, va_arg(*ap, unsigned));
    }
}

// The format with each argument in place: the text between conversions as it is, %s and %c
// escaped, every other conversion as printf writes it.
void put_formatted(const char *fmt, va_list *ap) {
    for (const char *p = fmt; *p;) {
        const char *pct = strchr(p, '%');
        if (!pct) {
            put_raw(p, strlen(p));
            return;
        }
        put_raw(p, (size_t)(pct - p));
        p = pct + 1;
        char flags[8] = "";
        size_t nflags = 0;
        for (; *p && strchr("-+ #0'", *p); p++)
            if (nflags < sizeof flags - 1) flags[nflags++] = *p;
        flags[nflags] = '\0';
        int width = 0, prec = -1; // no minimum width, no precision
        if (*p == '*') {
            width = va_arg(*ap, int);
            p++;
        } else if (*p >= '0' && *p <= '9') {
            width = read_number(&p);
        }
        bool left = strchr(flags, '-') != nullptr;
        if (width < 0) { // a negative width from '*' is the '-' flag
            left = true;
            width = -width;
        }
        if (*p == '.') {
            p++;
            if (*p == '*') {
                prec = va_arg(*ap, int);
                p++;
            } else {
                prec = read_number(&p);
            }
        }
        char length[3] = "";
        size_t nlength = 0;
        for (; *p && strchr("hlLqjzZt", *p) && nlength < 2; p++)
            length[nlength++] = *p;
        length[nlength] = '\0';
        char conv = *p ? *p++ : '\0';
        if (conv == '%') {
            put_raw("%", 1);
        } else if (conv == 's') {
            const char *s = va_arg(*ap, const char *);
            if (!s) s = "(null)";
            put_escaped(s, prec >= 0 ? strnlen(s, (size_t)prec) : strlen(s), width, left);
        } else if (conv == 'c') {
            char c = (char)va_arg(*ap, int);
            put_escaped(&c, 1, width, left);
        } else if (conv) {
            char directive[48];
            int n = snprintf(directive, sizeof directive, "%%%s%s", flags,
                             left && !strchr(flags, '-') ? "-" : "");
            if (width > 0) n += snprintf(directive + n, sizeof directive - (size_t)n, "%d", width);
            if (prec >= 0) n += snprintf(directive + n, sizeof directive - (size_t)n, ".%d", prec);
            snprintf(directive + n, sizeof directive - (size_t)n, "%s%c", length, conv);
            if (strchr("diouxX", conv))
                put_integer(directive, length, conv, ap);
            else if (strchr("eEfFgGaA", conv) && length[0] == 'L')
                put_converted(directive, va_arg(*ap, long double));
            else if (strchr("eEfFgGaA", conv))
                put_converted(directive, va_arg(*ap, double));
            else if (conv == 'p')
                put_converted(directive, va_arg(*ap, void *));
        }
    }
}

void (*before_message_fn)(void);

void vmessage(int errnum, const char *fmt, va_list ap, bool named = true) {
    if (before_message_fn) before_message_fn();
    // Whatever the program wrote before the message comes out before it, as with error(3).
    fflush(stdout);
    message_len = 0;
    if (named) {
        put_escaped(program_invocation_name, strlen(program_invocation_name), 0, false);
        put_raw(": ", 2);
    }
    va_list copy;
    va_copy(copy, ap);
    put_formatted(fmt, &copy);
    va_end(copy);
    if (errnum) {
        put_raw(": ", 2);
        const char *reason = strerror(errnum);
        put_escaped(reason, strlen(reason), 0, false);
    }
    message[message_len++] = '\n'; // put_raw always leaves room for it
    // One write, so that a message is not split by those of a child sharing standard error.
    fwrite(message, 1, message_len, stderr);
    fflush(stderr);
}

} // namespace

void errorf(int errnum, const char *fmt, ...) {
    int saved = errno;
    va_list ap;
    va_start(ap, fmt);
    vmessage(errnum, fmt, ap);
    va_end(ap);
    errno = saved;
}

void warnf(const char *fmt, ...) {
    int saved = errno;
    va_list ap;
    va_start(ap, fmt);
    vmessage(0, fmt, ap, false);
    va_end(ap);
    errno = saved;
}

void csv_set_before_message(void (*fn)(void)) {
    before_message_fn = fn;
}

static void (*fatal_exit_fn)(void);

void set_fatal_exit(void (*fn)(void)) {
    fatal_exit_fn = fn;
}

void fatal_exit(void) {
    if (fatal_exit_fn) fatal_exit_fn();
    exit(1);
}

void fatalf(int errnum, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vmessage(errnum, fmt, ap);
    va_end(ap);
    fatal_exit();
}
