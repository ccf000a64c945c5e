#include "replacement.h"

#include <cstring>

#include "cli.h"
#include "field_buffer.h"
#include "libcsv.h"

namespace {

// The converted format may hold this many characters before its NUL.
const int FORMAT_MAX = MAX_FIELD_LENGTH - 1;

void add_literal(replacement *r, int &textlen, char c) {
    if (r->npieces == 0 || r->ref[r->npieces - 1] >= 0) {
        int i = r->npieces++;
        r->ref[i] = -1;
        r->start[i] = textlen;
        r->len[i] = 0;
    }
    r->text[textlen++] = c;
    r->len[r->npieces - 1]++;
}

void add_ref(replacement *r, int k) {
    int i = r->npieces++;
    r->ref[i] = (signed char)k;
    r->start[i] = 0;
    r->len[i] = 0;
}

} // namespace

void replacement_compile(replacement *r, const char *text, bool numbered, const char *name) {
    r->npieces = 0;
    int textlen = 0;
    int fmtlen = 0; // length of the equivalent printf format
    bool have_ref = false;
    size_t n = strlen(text);
    for (size_t i = 0; i < n; i++) {
        char c = text[i];
        int cost;
        if (c == '&' && i > 0 && text[i - 1] == '\\') {
            // The backslash already taken as a literal becomes the '&'.
            r->text[textlen - 1] = '&';
            continue;
        }
        if (c == '&' && !numbered) {
            if (have_ref) fatalf(0, "ERROR: '&' appears more than once in REPLACEMENT!");
            have_ref = true;
            add_ref(r, 0);
            cost = 2; // %s
        } else if (c == '&') {
            char d = text[i + 1];
            if (d < '0' || d > '9') fatalf(0, "ERROR: & not followed by digit in REPLACEMENT");
            add_ref(r, d - '0');
            i++;
            cost = d == '9' ? 5 : 4; // %N$s
        } else {
            cost = c == '%' ? 2 : 1;
            add_literal(r, textlen, c);
        }
        fmtlen += cost;
        // Checked before anything can pass the end of the buffers (each step adds at most one
        // literal byte and one piece).
        if (fmtlen > FORMAT_MAX)
            fatalf(0, "ERROR: %s is too long (more than %d bytes once converted)", name,
                   FORMAT_MAX);
    }
}

void replacement_compile_backrefs(replacement *r, const char *text, int nsub, const char *name) {
    r->npieces = 0;
    int textlen = 0;
    int cost = 0; // counted as replacement_compile counts, for the same limit
    size_t n = strlen(text);
    for (size_t i = 0; i < n; i++) {
        char c = text[i];
        if (c == '&') {
            add_ref(r, 0);
            cost += 2;
        } else if (c != '\\') {
            add_literal(r, textlen, c);
            cost += c == '%' ? 2 : 1;
        } else {
            char d = text[++i];
            if (d == '&' || d == '\\') {
                add_literal(r, textlen, d);
            } else if (d >= '1' && d <= '9') {
                if (d - '0' > nsub)
                    fatalf(0,
                           "ERROR: REPLACEMENT refers to \\%c, but PATTERN has %d subexpressions",
                           d, nsub);
                add_ref(r, d - '0');
            } else {
                fatalf(0, "ERROR: '\\' not followed by 1-9, '&' or '\\' in REPLACEMENT");
            }
            cost += 2;
        }
        if (cost > FORMAT_MAX)
            fatalf(0, "ERROR: %s is too long (more than %d bytes once converted)", name,
                   FORMAT_MAX);
    }
}

size_t replacement_compose(const replacement *r, const char *const *args, const size_t *argl, char *buf,
               size_t cap) {
    size_t n = 0;
    for (int i = 0; i < r->npieces; i++) {
        const char *p = r->ref[i] < 0 ? r->text + r->start[i] : args[r->ref[i]];
        size_t len = r->ref[i] < 0 ? (size_t)r->len[i] : argl[r->ref[i]];
        if (n + len <= cap) memcpy(buf + n, p, len);
        n += len;
    }
    return n;
}

namespace {

// Whether every reference of r stands for the whole field text (start, len).
bool refs_are_whole_field(const replacement *r, const char *const *args, const size_t *argl,
                          const char *field, size_t len) {
    for (int i = 0; i < r->npieces; i++)
        if (r->ref[i] >= 0 && (args[r->ref[i]] != field || argl[r->ref[i]] != len)) return false;
    return true;
}

} // namespace

void replacement_write_record(const field_span &f, const replacement *r, const char *const *args,
                              const size_t *argl, const char *copy, int recnum, int fieldnum) {
    static char value[MAX_RECORD_LENGTH];
    static char quoted[MAX_FIELD_LENGTH];
    const size_t rest = f.textlen - f.len; // the record's bytes other than the field
    size_t n = replacement_compose(r, args, argl, value, sizeof value);
    const char *out = value;
    int valuefields =
        n > sizeof value ? 0 : csv_fields_count(value, n, recnum == 1 && fieldnum == 1);
    if (valuefields == 0) {
        if (n <= sizeof value && field_is_wrapped(copy, (int)f.len) &&
            refs_are_whole_field(r, args, argl, copy, f.len) &&
            memchr(copy, '\0', f.len) == nullptr) {
            const char *plain = csv_field_unquote(copy, 0);
            if (!plain) plain = ""; // not reached: the reader accepts only well-quoted fields
            const char *pargs[10];
            size_t pargl[10];
            for (int k = 0; k < 10; k++) {
                pargs[k] = plain;
                pargl[k] = strlen(plain);
            }
            n = replacement_compose(r, pargs, pargl, value, sizeof value);
            if (n <= sizeof value) {
                field_buffer fb{quoted, 0};
                fb.put_quoted(value, (int)n);
                int qlen;
                out = fb.finish(&qlen);
                n = (size_t)qlen;
                valuefields = 1;
            }
        } else {
            if (n > sizeof value) n = sizeof value;
            fatalf(0, "ERROR: record #%d: new value of FIELD #%d would not be valid CSV: '%.*s'",
                   recnum, fieldnum, (int)strnlen(value, n), value);
        }
    }
    if (rest + n > MAX_RECORD_LENGTH - 1)
        fatalf(0, "ERROR: record #%d: new value of FIELD #%d would make the record longer than "
                  "MAX_RECORD_LENGTH (%d)",
               recnum, fieldnum, MAX_RECORD_LENGTH);
    write_field_replaced(f, out, n, valuefields, recnum);
    errcheck_stdout_exit();
}
