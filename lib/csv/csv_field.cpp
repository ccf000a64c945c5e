// Field quoting, unquoting and cleaning. A field is quoted when its first and last bytes are
// double quotes (a lone double quote counts), unquoted when neither is, and invalid when only
// one is; a byte order mark before a quoted field (an input's first field) is kept in front of
// what unquoting and cleaning make of the quoted field. Results that do not fit a field buffer
// are fatal.
#include "libcsv.h"

#include <cstring>

#include "field_buffer.h"

namespace {

char quote_buf[MAX_FIELD_LENGTH];
char unquote_buf[MAX_FIELD_LENGTH];
char unquote_embeds_buf[MAX_FIELD_LENGTH];
char clean_buf[MAX_FIELD_LENGTH];
char clean_embeds_buf[MAX_FIELD_LENGTH];

// The values are what the in-place forms return when there is nothing more to do.
enum Quoting { INVALID = -1, UNQUOTED = 0, QUOTED = 1 };

Quoting quoting(const char *f, size_t n) {
    if (n == 0) return UNQUOTED;
    bool first = f[0] == '"', last = f[n - 1] == '"';
    if (first && last) return QUOTED;
    if (first || last) return INVALID;
    return UNQUOTED;
}

void invalid_quoting(const char *f, char verbose) {
    if (verbose) errorf(0, "ERROR: invalid field quoting:\n  %s", f);
}

const char *copy_into(field_buffer &out, const char *f, size_t n) {
    out.put_bytes(f, (int)n);
    return out.finish();
}

// The four functions that return a new string in their own buffer: invalid quoting gives the
// message and null, an unquoted field an unchanged copy, a quoted one its value (unquoting)
// or, when cleaning, its inner bytes unless one of them needs the quotes. The embeds forms
// write line breaks as markers in quoted fields.
template <bool Clean, bool Embeds>
const char *transform(char *buf, const char *field, char verbose) {
    size_t n = strlen(field);
    field_buffer out{buf, 0};
    if (int bom = csv_field_bom_len(field, n)) {
        out.put_bytes(field, bom);
        field += bom;
        n -= (size_t)bom;
    }
    switch (quoting(field, n)) {
    case INVALID:
        invalid_quoting(field, verbose);
        return nullptr;
    case UNQUOTED:
        return copy_into(out, field, n);
    case QUOTED:
        break;
    }
    if (n <= 2) return out.finish(); // a lone double quote counts as quoted
    // A rewrite is made behind the byte order mark; a part of the field is copied there.
    field_rewrite rw{.buf = out.buf + out.len, .cap = out.cap - out.len};
    int len;
    const char *text =
        Clean ? rw.clean<Embeds>(field, (int)n, &len) : rw.value<Embeds>(field, (int)n, &len);
    if (text != rw.buf) return copy_into(out, text, (size_t)len);
    out.len += len;
    return out.finish();
}

// Where the in-place forms start: field and *n move past a byte order mark before a quoted
// field.
Quoting in_place_start(char *&field, size_t *n) {
    *n = strlen(field);
    int bom = csv_field_bom_len(field, *n);
    field += bom;
    *n -= (size_t)bom;
    return quoting(field, *n);
}

} // namespace

const char *csv_field_quote(const char *field) {
    size_t n = strlen(field);
    // The quoted result may take at most MAX_FIELD_LENGTH - 2 bytes, quotes included.
    field_buffer out{quote_buf, 0, MAX_FIELD_LENGTH - 2};
    if (quoting(field, n) == QUOTED) return copy_into(out, field, n);
    out.put_quoted(field, (int)n);
    return out.finish();
}

const char *csv_field_unquote(const char *field, char verbose) {
    return transform<false, false>(unquote_buf, field, verbose);
}

int csv_field_unquote_inplace(char *field, char verbose) {
    size_t n;
    Quoting q = in_place_start(field, &n);
    if (q == INVALID) invalid_quoting(field, verbose);
    if (q != QUOTED) return q;
    int len = 0;
    if (n > 2) {
        // The value is never longer than the field, so it can be written over it.
        field_rewrite rw{.buf = field, .cap = (int)n};
        const char *text = rw.value<false>(field, (int)n, &len);
        memmove(field, text, (size_t)len);
    }
    field[len] = '\0';
    return 1;
}

int csv_field_value_inplace(char *field, int len) {
    const int bom = csv_field_bom_len(field, (size_t)len);
    char *f = field + bom;
    const int n = len - bom;
    if (quoting(f, (size_t)n) != QUOTED) return len;
    int vlen = 0;
    if (n > 2) {
        field_rewrite rw{.buf = f, .cap = n};
        const char *text = rw.value<false>(f, n, &vlen);
        memmove(f, text, (size_t)vlen);
    }
    f[vlen] = '\0';
    return bom + vlen;
}

const char *csv_field_unquote_and_replace_embeds(const char *field, char verbose) {
    return transform<false, true>(unquote_embeds_buf, field, verbose);
}

const char *csv_field_clean(const char *field, char verbose) {
    return transform<true, false>(clean_buf, field, verbose);
}

int csv_field_clean_inplace(char *field, char verbose) {
    size_t n;
    Quoting q = in_place_start(field, &n);
    if (q == INVALID && verbose) errorf(0, "ERROR: invalid field quoting: %s", field);
    if (q != QUOTED) return q;
    int len = 0;
    if (n > 2) {
        field_rewrite rw{.buf = field, .cap = (int)n};
        const char *text = rw.clean<false>(field, (int)n, &len);
        if (!rw.cleaned) return 0;
        memmove(field, text, (size_t)len);
    }
    field[len] = '\0';
    return 1;
}

const char *csv_field_clean_and_replace_embeds(const char *field, char verbose) {
    return transform<true, true>(clean_embeds_buf, field, verbose);
}
