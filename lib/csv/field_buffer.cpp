#include "field_buffer.h"

#include <cstring>

#include "libcsv.h"

void field_buffer::put_bytes(const char *s, int n) {
    if (n > cap - len) field_length_exceeded();
    // Unquoting in place writes a field over itself, a little behind where it reads.
    memmove(buf + len, s, (size_t)n);
    len += n;
}

void field_buffer::put_embeds(const char *s, int n, int *ncr, int *nlf) {
    for (int i = 0; i < n; i++) {
        char c = s[i];
        if (c == '\r') {
            put_bytes(EMBED_CR_TEXT, 4);
            if (ncr) ++*ncr;
        } else if (c == '\n') {
            put_bytes(EMBED_LF_TEXT, 4);
            if (nlf) ++*nlf;
        } else {
            put(c);
        }
    }
}

void field_buffer::put_quoted(const char *s, int n, bool embeds) {
    put('"');
    for (int i = 0; i < n; i++) {
        char c = s[i];
        if (c == '"') {
            put('"');
            put('"');
        } else if (embeds && c == '\r') {
            put_bytes(EMBED_CR_TEXT, 4);
        } else if (embeds && c == '\n') {
            put_bytes(EMBED_LF_TEXT, 4);
        } else {
            put(c);
        }
    }
    put('"');
}

// Out of line, so that a caller's path for fields without quotes stays short.
template <bool Embeds> const char *field_rewrite::clean(const char *field, int len, int *outlen) {
    if (quotes_removable(field + 1, len - 2, sep, Embeds)) {
        cleaned++;
        field++;
        len -= 2;
    }
    return whole<Embeds>(field, len, outlen);
}

template const char *field_rewrite::clean<false>(const char *, int, int *);
template const char *field_rewrite::clean<true>(const char *, int, int *);
