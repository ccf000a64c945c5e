// Writing a rewritten field into a field buffer of MAX_FIELD_LENGTH bytes, bounded: the text
// may take at most MAX_FIELD_LENGTH - 1 bytes (a NUL follows it); one byte more is fatal with
// "ERROR: field length exceeded MAX_FIELD_LENGTH (8192)". The one writer of the library and
// the programs: quoting, unquoting, cleaning and the converters all write through it. Quoting doubles quotes and making
// line breaks visible turns one byte into four, so the result of a rewrite can outgrow its
// input; every writer below checks each byte it stores.
//
// A field is given as its start and its byte count, since a NUL byte inside a field is data.
#pragma once

#include <cstring>

#include "libcsv.h"

// The visible text of an embedded line break.
#define EMBED_CR_TEXT "<CR>"
#define EMBED_LF_TEXT "<LF>"

struct field_buffer {
    char *buf;                     // cap + 1 bytes
    int len;                       // bytes written so far
    int cap = MAX_FIELD_LENGTH - 1; // bytes that may be written before the NUL

    void put(char c) {
        if (len >= cap) field_length_exceeded();
        buf[len++] = c;
    }
    void put_bytes(const char *s, int n);
    // Copies s, writing "<CR>" for each CR and "<LF>" for each LF. Counts them in *ncr and
    // *nlf when these are given.
    void put_embeds(const char *s, int n, int *ncr = nullptr, int *nlf = nullptr);
    // A double quote, s with each double quote doubled (and, with embeds, line breaks made
    // visible), and a closing double quote.
    void put_quoted(const char *s, int n, bool embeds = false);
    // NUL-terminates the text (there is always room) and returns the buffer.
    const char *finish(int *outlen = nullptr) {
        buf[len] = '\0';
        if (outlen) *outlen = len;
        return buf;
    }
};

// Whether s[0..n) holds byte c.
inline bool field_has(const char *s, int n, char c) {
    return n > 0 && memchr(s, c, (size_t)n) != nullptr;
}

// First and last bytes both double quotes (a wrapped/quoted field).
inline bool field_is_wrapped(const char *s, int n) {
    return n >= 2 && s[0] == '"' && s[n - 1] == '"';
}

// Whether a quoted field can lose its quotes: its inner bytes inner[0..n) hold no double
// quote and no separator sep, nor a CR or LF unless line breaks are written as visible text
// (embeds_visible). The rule of cleaning, unquoting for another separator and the validator.
// A short field is read once, byte by byte; a long one by a search for each byte.
inline bool quotes_removable(const char *inner, int n, char sep, bool embeds_visible) {
    if (n <= 64) {
        for (int i = 0; i < n; i++) {
            char c = inner[i];
            if (c == '"' || c == sep || (!embeds_visible && (c == '\n' || c == '\r')))
                return false;
        }
        return true;
    }
    return !field_has(inner, n, '"') && !field_has(inner, n, sep) &&
           (embeds_visible || (!field_has(inner, n, '\n') && !field_has(inner, n, '\r')));
}

// The one set of rewrites of a field's quoting and line breaks: the library's unquoting and
// cleaning, zelk-tidy's field options and the delimiter converters' -u and -r all use it. Each
// takes a field as the readers split it, field[0..len) with its quotes (a byte order mark
// before a quoted first field is the caller's to write first: csv_field_bom_len), and returns
// the text to write with its length in *outlen: the field itself or a part of it when nothing
// needs rewriting, which costs no copy, else buf. With Embeds, line breaks are written as
// EMBED_CR_TEXT and EMBED_LF_TEXT; a program picks its forms once, from its options, so that
// the per-field work holds no test it need not make.
struct field_rewrite {
    char *buf;                      // cap + 1 bytes
    int cap = MAX_FIELD_LENGTH - 1; // as field_buffer's
    char sep = ',';                 // the output's separator
    int crs = 0, lfs = 0;           // line breaks written as text
    int cleaned = 0;                // quoted fields that clean wrote without their quotes

    // The field as it is, but for its line breaks.
    template <bool Embeds> const char *whole(const char *field, int len, int *outlen) {
        if (Embeds && (field_has(field, len, '\n') || field_has(field, len, '\r'))) {
            field_buffer fb{buf, 0, cap};
            fb.put_embeds(field, len, &crs, &lfs);
            return fb.finish(outlen);
        }
        *outlen = len;
        return field;
    }
    // A quoted field (field_is_wrapped) without its quotes when nothing between them needs
    // them in the output (quotes_removable), else whole.
    template <bool Embeds> const char *clean(const char *field, int len, int *outlen);
    // The value of a quoted field (field_is_wrapped): the bytes between its quotes with each
    // doubled quote written once (a quote that is not doubled is kept). Without Embeds, buf
    // may be field itself: the value is never longer.
    template <bool Embeds> const char *value(const char *field, int len, int *outlen) {
        const char *p = field + 1, *end = field + len - 1;
        const char *q = (const char *)memchr(p, '"', (size_t)(len - 2));
        if (!q && (!Embeds || (!field_has(p, len - 2, '\n') && !field_has(p, len - 2, '\r')))) {
            *outlen = len - 2;
            return p;
        }
        // Runs up to and including a quote are copied whole; the quote's double is skipped.
        field_buffer fb{buf, 0, cap};
        for (;;) {
            const char *stop = q ? q + 1 : end;
            if (Embeds)
                fb.put_embeds(p, (int)(stop - p), &crs, &lfs);
            else
                fb.put_bytes(p, (int)(stop - p));
            p = stop < end && *stop == '"' ? stop + 1 : stop;
            if (p >= end) break;
            q = (const char *)memchr(p, '"', (size_t)(end - p));
        }
        return fb.finish(outlen);
    }
};

// Whether a field as the readers give it loses its quotes where it is read as a number or a
// numeric sort key: a quoted field that could stand unquoted in a CSV file is read as its
// inner text field[1..len-1), so "42" is 42 as 42 is; any other field is read as it is, so a
// quoted one holding a double quote, a comma or a line break ("1,000") is no number. An
// unquoted field costs the test of its first byte, which is never a double quote.
inline bool number_unquotes(const char *field, size_t len) {
    return len >= 2 && field[0] == '"' && field[len - 1] == '"' &&
           quotes_removable(field + 1, (int)len - 2, ',', false);
}
// The text a field is read as where it is read as a number: *field and *len move inside the
// quotes when number_unquotes, and the result says whether they did.
inline bool number_unquote(const char **field, size_t *len) {
    if (!number_unquotes(*field, *len)) return false;
    ++*field;
    *len -= 2;
    return true;
}
