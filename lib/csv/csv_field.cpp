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

enum Quoting { UNQUOTED, QUOTED, INVALID };

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

// The value of a quoted field of length n: its inner bytes with each doubled quote written
// once. With embeds, LF and CR become their markers.
const char *unquote_into(field_buffer &out, const char *f, size_t n, bool embeds) {
    if (n <= 2) return out.finish();
    const char *end = f + n - 1;
    for (const char *p = f + 1; p < end; p++) {
        char c = *p;
        if (c == '"' && p + 1 < end && p[1] == '"') p++;
        if (embeds && c == '\n')
            out.put_bytes(EMBED_LF_TEXT, 4);
        else if (embeds && c == '\r')
            out.put_bytes(EMBED_CR_TEXT, 4);
        else
            out.put(c);
    }
    return out.finish();
}

const char *copy_into(field_buffer &out, const char *f, size_t n) {
    out.put_bytes(f, (int)n);
    return out.finish();
}

// Copy with line breaks made visible.
const char *copy_embeds_into(field_buffer &out, const char *f, size_t n) {
    out.put_embeds(f, (int)n);
    return out.finish();
}

// Whether a quoted field of n > 2 bytes keeps its quotes when cleaned.
bool keeps_quotes(const char *f, size_t n, bool embeds_visible) {
    return !quotes_removable(f + 1, (int)n - 2, ',', embeds_visible);
}

enum Op { UNQUOTE, UNQUOTE_EMBEDS, CLEAN, CLEAN_EMBEDS };

// The four functions that return a new string in their own buffer: invalid quoting gives the
// message and null, an unquoted field an unchanged copy, a quoted one its value (unquoting)
// or, when cleaning, its inner bytes unless one of them needs the quotes. The embeds forms
// write line breaks as markers in quoted fields.
const char *transform(char *buf, const char *field, char verbose, Op op) {
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
    switch (op) {
    case UNQUOTE:
        return unquote_into(out, field, n, false);
    case UNQUOTE_EMBEDS:
        return unquote_into(out, field, n, true);
    case CLEAN:
        if (n <= 2) return out.finish();
        if (keeps_quotes(field, n, false)) return copy_into(out, field, n);
        return copy_into(out, field + 1, n - 2);
    case CLEAN_EMBEDS:
        if (n <= 2) return out.finish();
        // Line breaks are made visible, so only commas and quotes need the quotes kept.
        if (keeps_quotes(field, n, true)) return copy_embeds_into(out, field, n);
        return copy_embeds_into(out, field + 1, n - 2);
    }
    return nullptr;
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
    return transform(unquote_buf, field, verbose, UNQUOTE);
}

int csv_field_unquote_inplace(char *field, char verbose) {
    size_t n = strlen(field);
    int bom = csv_field_bom_len(field, n);
    field += bom;
    n -= (size_t)bom;
    switch (quoting(field, n)) {
    case INVALID:
        invalid_quoting(field, verbose);
        return -1;
    case UNQUOTED:
        return 0;
    case QUOTED:
        break;
    }
    // The value is never longer than the field, so it can be written over it.
    field_buffer out{field, 0, (int)n};
    unquote_into(out, field, n, false);
    return 1;
}

const char *csv_field_unquote_and_replace_embeds(const char *field, char verbose) {
    return transform(unquote_embeds_buf, field, verbose, UNQUOTE_EMBEDS);
}

const char *csv_field_clean(const char *field, char verbose) {
    return transform(clean_buf, field, verbose, CLEAN);
}

int csv_field_clean_inplace(char *field, char verbose) {
    size_t n = strlen(field);
    int bom = csv_field_bom_len(field, n);
    field += bom;
    n -= (size_t)bom;
    switch (quoting(field, n)) {
    case INVALID:
        if (verbose) errorf(0, "ERROR: invalid field quoting: %s", field);
        return -1;
    case UNQUOTED:
        return 0;
    case QUOTED:
        break;
    }
    if (n <= 2) {
        field[0] = '\0';
        return 1;
    }
    if (keeps_quotes(field, n, false)) return 0;
    memmove(field, field + 1, n - 2);
    field[n - 2] = '\0';
    return 1;
}

const char *csv_field_clean_and_replace_embeds(const char *field, char verbose) {
    return transform(clean_embeds_buf, field, verbose, CLEAN_EMBEDS);
}
