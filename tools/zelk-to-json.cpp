// zelk-to-json: CSV to JSON Lines, one JSON object (or array) of strings per record.
#include <cstdio>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "cli.h"
#include "field_buffer.h"
#include "field_loop.h"

static void print_usage(FILE *out) {
    fputs("Program to convert CSV file to JSON Lines: one JSON object per record, keyed by\n"
          "the header's names (a repeated name gets a suffix: name, name_2, ...),\n"
          "all values JSON strings; blank records are left out.\n\n"
          "Usage: zelk-to-json [OPTION...] [CSVFILE]\n\n"
          "Options:\n"
          "  -a -- arrays: every record, header included, as one JSON array\n"
          "  -d -- delete/trim extra fields when records contain more fields than header\n"
          "  -p -- pad records with empty fields when records contain less fields than header\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n",
          out);
}

static const cli_pair pairs[] = {{'a', 'd'}, {'a', 'p'}, {0, 0}};
static const cli_program program = {"zelk-to-json", "adpt", "t", pairs, print_usage};

static char opt_arrays; // -a
static char opt_trim;   // -d
static char opt_pad;    // -p

namespace {

// Bytes that stand in a JSON string as they are: printable ASCII but for '"' and '\'.
// Everything else is escaped, or (from 0x80 on) checked as UTF-8.
struct PlainBytes {
    bool plain[256];
    constexpr PlainBytes() : plain() {
        for (int c = 0x20; c < 0x80; c++)
            plain[c] = c != '"' && c != '\\';
    }
};
constexpr PlainBytes PLAIN;

// The length of the well-formed UTF-8 sequence at p (a byte from 0x80 on), or 0: no overlong
// form, no surrogate, nothing past U+10FFFF.
inline int utf8_sequence(const unsigned char *p, const unsigned char *end) {
    auto cont = [&](int i, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return p + i < end && p[i] >= lo && p[i] <= hi;
    };
    unsigned c = p[0];
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        bool second = c == 0xE0 ? cont(1, 0xA0) : c == 0xED ? cont(1, 0x80, 0x9F) : cont(1);
        return second && cont(2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        bool second = c == 0xF0 ? cont(1, 0x90) : c == 0xF4 ? cont(1, 0x80, 0x8F) : cont(1);
        return second && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

// Whether the 16 bytes at p are all plain.
#ifdef __SSE2__
inline bool plain16(const unsigned char *p) {
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    // Control bytes and bytes from 0x80 on are those below 0x20 when read as signed.
    __m128i bad = _mm_or_si128(_mm_cmplt_epi8(b, _mm_set1_epi8(0x20)),
                               _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('"')),
                                            _mm_cmpeq_epi8(b, _mm_set1_epi8('\\'))));
    return _mm_movemask_epi8(bad) == 0;
}
#endif

// Writes s[0..n) as the inside of a JSON string through put(bytes, count). Quoted: s is the
// inside of a quoted CSV field, whose doubled quotes stand for one. A byte that is no part of
// well-formed UTF-8 is taken as the Latin-1 character of its value and written \u00XX; with
// Canonical it is written as that character's UTF-8 instead, so that two texts are the same
// JSON string exactly when their canonical forms are the same bytes (the keys' comparison).
template <bool Quoted, bool Canonical, class Put>
void json_escape(const char *s, size_t n, Put &&put) {
    static const char hex[] = "0123456789abcdef";
    const unsigned char *p = (const unsigned char *)s, *end = p + n, *run = p;
    while (p < end) {
#ifdef __SSE2__
        while (end - p >= 16 && plain16(p))
            p += 16;
        if (p == end) break;
#endif
        unsigned c = *p;
        if (PLAIN.plain[c]) {
            p++;
            continue;
        }
        if (c >= 0x80) {
            if (int k = utf8_sequence(p, end)) {
                p += k;
                continue;
            }
        }
        put((const char *)run, (size_t)(p - run));
        char esc[6] = {'\\', 0, '0', '0', hex[c >> 4], hex[c & 15]};
        int len = 2;
        switch (c) {
        case '"': esc[1] = '"'; break;
        case '\\': esc[1] = '\\'; break;
        case '\b': esc[1] = 'b'; break;
        case '\f': esc[1] = 'f'; break;
        case '\n': esc[1] = 'n'; break;
        case '\r': esc[1] = 'r'; break;
        case '\t': esc[1] = 't'; break;
        default:
            if (Canonical && c >= 0x80) {
                esc[0] = (char)(0xC0 | c >> 6);
                esc[1] = (char)(0x80 | (c & 0x3F));
            } else {
                esc[1] = 'u';
                len = 6;
            }
        }
        put(esc, (size_t)len);
        p++;
        if (Quoted && c == '"') p++; // the quote's double
        run = p;
    }
    put((const char *)run, (size_t)(p - run));
}

// The inside of the JSON string of a field's value: a quoted field without its quotes, doubled
// quotes made single.
template <bool Canonical, class Put> void value_escape(const char *field, int len, Put &&put) {
    if (field_is_wrapped(field, len))
        json_escape<true, Canonical>(field + 1, (size_t)(len - 2), put);
    else
        json_escape<false, Canonical>(field, (size_t)len, put);
}

inline void out_put(const char *p, size_t n) {
    out_bytes(p, n);
}

inline void write_value(const char *field, int len) {
    out_char('"');
    value_escape<false>(field, len, out_put);
    out_char('"');
}

// Field i (0-based) of a record whose text ends at end, in *len bytes. At the start of the
// input, a byte order mark before the first field marks the file's encoding: it is no part of
// the field's value (the rule of header names), and JSON text has no use for it.
inline const char *field_at(char **fields, int nf, int i, const char *end, bool at_start,
                            int *len) {
    *len = csv_parsed_field_length(fields, nf, i + 1, end);
    return i == 0 && at_start ? header_field_skip_bom(fields[0], len) : fields[i];
}

// What goes before each field's value in an object: "{" or ",", the key, ":". The text of
// them all, and where each begins (prefix i is key_text[key_at[i]..key_at[i + 1])).
char key_text[8 * MAX_RECORD_LENGTH];
int key_at[MAX_FIELDS + 1];
int key_count;

// A list of texts kept for the keys' comparisons, in static room (a header of many repeated
// names costs no allocation that could fail): each text's canonical form, escapes at most six
// bytes for one, and a suffix.
struct TextList {
    char buf[7 * MAX_RECORD_LENGTH];
    int at[MAX_FIELDS + 1];
    int n;
    int end() const { return at[n]; }
    // Whether one of the texts is p[0..len).
    bool has(const char *p, int len) const {
        for (int i = 0; i < n; i++)
            if (at[i + 1] - at[i] == len && memcmp(buf + at[i], p, (size_t)len) == 0) return true;
        return false;
    }
};
TextList names; // the header's names
TextList given; // the keys given so far

// The keys of the header's fields: each field's value, the first time it is seen; a value
// seen before gets the first suffix _2, _3, ... that makes a key no field has and no key
// given before it, so that no two keys are the same JSON string.
void make_keys(const char *text, size_t textlen, char **fields, int nf, bool at_start) {
    auto canonical = [&](TextList &list, int i) {
        int len;
        const char *f = field_at(fields, nf, i, text + textlen, at_start, &len);
        int pos = list.end();
        value_escape<true>(f, len, [&](const char *p, size_t n) {
            memcpy(list.buf + pos, p, n);
            pos += (int)n;
        });
        return pos - list.end();
    };
    names.at[0] = given.at[0] = 0;
    for (names.n = 0; names.n < nf; names.n++)
        names.at[names.n + 1] = names.end() + canonical(names, names.n);
    int pos = 0;
    auto put_key = [&](const char *p, size_t n) {
        memcpy(key_text + pos, p, n);
        pos += (int)n;
    };
    for (given.n = 0; given.n < nf; given.n++) {
        int i = given.n;
        char *key = given.buf + given.end();
        int namelen = canonical(given, i), len = namelen;
        for (int k = 2; given.has(key, len) || (len > namelen && names.has(key, len)); k++)
            len = namelen + snprintf(key + namelen, 12, "_%d", k);
        given.at[i + 1] = given.end() + len;
        key_at[i] = pos;
        put_key(i == 0 ? "{\"" : ",\"", 2);
        // The key as values are written: the same JSON string as its canonical form.
        int flen;
        const char *f = field_at(fields, nf, i, text + textlen, at_start, &flen);
        value_escape<false>(f, flen, put_key);
        put_key(key + namelen, (size_t)(len - namelen));
        put_key("\":", 2);
    }
    key_at[nf] = pos;
    key_count = nf;
}

// A record as an object of the header's keys.
void write_object(int recnum, const char *text, size_t textlen, char **fields, int nf) {
    if (nf < key_count && !opt_pad)
        fatalf(0, "ERROR: record #%d has less fields than header (%d vs %d)", recnum, nf,
               key_count);
    if (nf > key_count && !opt_trim)
        fatalf(0, "ERROR: record #%d has more fields than header (%d vs %d)", recnum, nf,
               key_count);
    for (int i = 0; i < key_count; i++) {
        out_bytes(key_text + key_at[i], (size_t)(key_at[i + 1] - key_at[i]));
        if (i >= nf) {
            out_bytes("\"\"", 2);
            continue;
        }
        int len;
        const char *f = field_at(fields, nf, i, text + textlen, recnum == 1, &len);
        write_value(f, len);
    }
    out_char('}');
}

// A record as an array of its values.
void write_array(int recnum, const char *text, size_t textlen, char **fields, int nf) {
    out_char('[');
    for (int i = 0; i < nf; i++) {
        if (i > 0) out_char(',');
        int len;
        const char *f = field_at(fields, nf, i, text + textlen, recnum == 1, &len);
        write_value(f, len);
    }
    out_char(']');
}

bool to_json(FILE *fp, const char *name) {
    int recnum = 0;
    bool header = !opt_arrays;
    char err;
    for (;;) {
        size_t textlen;
        int nf;
        char **fields;
        const char *text = read_field_record(fp, name, &recnum, &nf, &fields, &textlen, &err);
        if (!text) return err == 0;
        if (header) {
            make_keys(text, textlen, fields, nf, recnum == 1);
            header = false;
            continue;
        }
        if (opt_arrays)
            write_array(recnum, text, textlen, fields, nf);
        else
            write_object(recnum, text, textlen, fields, nf);
        out_terminator();
        errcheck_stdout_exit();
    }
}

} // namespace

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        if (c == 'a') opt_arrays = 1;
        if (c == 'd') opt_trim = 1;
        if (c == 'p') opt_pad = 1;
    }
    int nops = argc - optind;
    if (nops > 1) cli_usage_exit();
    const char *name;
    FILE *fp = open_input_or_exit(nops == 1 ? argv[optind] : nullptr, &name);
    cli_exit(to_json(fp, name) ? 0 : 1);
}
