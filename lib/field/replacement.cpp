#include "replacement.h"

#include <cstring>

#include "cli.h"
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

void replacement_write(const replacement *r, const char *const *args, const size_t *argl) {
    for (int i = 0; i < r->npieces; i++) {
        if (r->ref[i] < 0)
            out_bytes(r->text + r->start[i], (size_t)r->len[i]);
        else
            out_bytes(args[r->ref[i]], argl[r->ref[i]]);
    }
}

void replacement_write_record(const field_span &f, const replacement *r, const char *const *args,
                              const size_t *argl) {
    out_before_field(f);
    replacement_write(r, args, argl);
    out_after_field(f);
    out_terminator();
    errcheck_stdout_exit();
}
