#include "field_match.h"

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <regex.h>

#include "libcsv.h"

namespace {

inline unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

bool equal_nocase(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (fold((unsigned char)a[i]) != fold((unsigned char)b[i])) return false;
    return true;
}

} // namespace

void match_characters_of_locale(void) {
    if (setlocale(LC_CTYPE, "") && locale_char_encoding() != char_encoding::utf8)
        setlocale(LC_CTYPE, "C");
}

bool strstr_wrapper(const char *field, size_t flen, const char *pat, size_t plen) {
    return plen == 0 || memmem(field, flen, pat, plen) != nullptr;
}

bool strcasestr_wrapper(const char *field, size_t flen, const char *pat, size_t plen) {
    if (plen == 0) return true;
    if (plen > flen) return false;
    unsigned char lo = fold((unsigned char)pat[0]);
    unsigned char up = (lo >= 'a' && lo <= 'z') ? lo - 32 : lo;
    for (size_t i = 0; i + plen <= flen; i++) {
        unsigned char c = (unsigned char)field[i];
        if ((c == lo || c == up) && equal_nocase(field + i + 1, pat + 1, plen - 1)) return true;
    }
    return false;
}

bool strcmp_wrapper(const char *field, size_t flen, const char *pat, size_t plen) {
    return flen == plen && memcmp(field, pat, plen) == 0;
}

bool strcasecmp_wrapper(const char *field, size_t flen, const char *pat, size_t plen) {
    return flen == plen && equal_nocase(field, pat, plen);
}

size_t char_length_at(const char *s, size_t i, size_t n) {
    if (MB_CUR_MAX == 1 || (unsigned char)s[i] < 0x80) return 1;
    mbstate_t st{};
    size_t k = mbrlen(s + i, n - i, &st);
    return k == (size_t)-1 || k == (size_t)-2 || k == 0 ? 1 : k;
}

namespace {

// The upper-case form of the character at s[i] (of *len bytes); a byte that starts no
// character is kept apart from every character by a bit no wide character has.
uint32_t folded_char(const char *s, size_t i, size_t n, size_t *len) {
    unsigned char b = (unsigned char)s[i];
    *len = 1;
    if (b < 0x80) return (uint32_t)towupper(b);
    mbstate_t st{};
    wchar_t wc;
    size_t k = mbrtowc(&wc, s + i, n - i, &st);
    if (k == (size_t)-1 || k == (size_t)-2 || k == 0) return 0x80000000u | b;
    *len = k;
    return (uint32_t)towupper((wint_t)wc);
}

// Where pat, characters folded, matches field[at..]: the end of the match, or SIZE_MAX.
size_t folded_match_at(const char *field, size_t at, size_t flen, const char *pat, size_t plen) {
    size_t i = at, j = 0, fl, pl;
    while (j < plen) {
        if (i == flen || folded_char(field, i, flen, &fl) != folded_char(pat, j, plen, &pl))
            return SIZE_MAX;
        i += fl;
        j += pl;
    }
    return i;
}

const char *folded_find(const char *field, size_t from, size_t flen, const char *pat, size_t plen,
                        size_t *end) {
    if (plen == 0) {
        *end = from;
        return field + from;
    }
    size_t first_len;
    uint32_t first = folded_char(pat, 0, plen, &first_len);
    for (size_t i = from; i < flen;) {
        unsigned char b = (unsigned char)field[i];
        // An ASCII byte is a character of its own: most are turned away by the first one.
        if (b < 0x80 && (uint32_t)towupper(b) != first) {
            i++;
            continue;
        }
        if ((*end = folded_match_at(field, i, flen, pat, plen)) != SIZE_MAX) return field + i;
        i += char_length_at(field, i, flen);
    }
    return nullptr;
}

bool folded_contains(const char *field, size_t flen, const char *pat, size_t plen) {
    size_t end;
    return folded_find(field, 0, flen, pat, plen, &end) != nullptr;
}

bool folded_equals(const char *field, size_t flen, const char *pat, size_t plen) {
    return folded_match_at(field, 0, flen, pat, plen) == flen;
}

} // namespace

const char *fixed_find(const char *field, size_t from, size_t flen, const char *pat, size_t plen,
                       bool ignorecase, size_t *end) {
    if (ignorecase && MB_CUR_MAX > 1) return folded_find(field, from, flen, pat, plen, end);
    const char *at = nullptr;
    if (plen == 0)
        at = field + from;
    else if (!ignorecase)
        at = (const char *)memmem(field + from, flen - from, pat, plen);
    else
        for (size_t i = from; !at && i + plen <= flen; i++)
            if (equal_nocase(field + i, pat, plen)) at = field + i;
    if (at) *end = (size_t)(at - field) + plen;
    return at;
}

fixed_matcher fixed_matcher_choose(bool exact, bool ignorecase) {
    if (ignorecase && MB_CUR_MAX > 1) return exact ? folded_equals : folded_contains;
    if (exact) return ignorecase ? strcasecmp_wrapper : strcmp_wrapper;
    return ignorecase ? strcasestr_wrapper : strstr_wrapper;
}

namespace {

// The text compiled for pattern: with exact, "^PATTERN$" in buf (allocated; the caller frees).
const char *regex_text(const char *pattern, bool exact, char **buf) {
    *buf = nullptr;
    if (!exact) return pattern;
    size_t n = strlen(pattern) + 3;
    *buf = (char *)malloc(n);
    if (!*buf) fatalf(errno, "ERROR: failed allocating dynamic memory");
    snprintf(*buf, n, "^%s$", pattern);
    return *buf;
}

} // namespace

int field_regex_compile(regex_t *re, const char *pattern, int cflags, bool exact) {
    char *buf;
    int r = regcomp(re, regex_text(pattern, exact, &buf), cflags);
    free(buf);
    return r;
}

int field_regex_compile_matcher(field_regex *r, const char *pattern, int cflags, bool exact) {
    char *buf;
    const char *text = regex_text(pattern, exact, &buf);
    int rc = regcomp(&r->re, text, cflags | REG_NOSUB);
    if (rc == 0) r->dfa.compile(text, cflags);
    free(buf);
    // The prefilter reads extended syntax; the anchors added for exact change no run.
    if (cflags & REG_EXTENDED)
        r->prefilter.init(pattern, cflags & REG_ICASE);
    else
        r->prefilter.len = 0;
    return rc;
}

bool field_regex_matches(field_regex *r, const char *field, size_t flen) {
    // The automaton reads a short field in fewer steps than a search for one byte takes to
    // start, so a one-byte literal is looked for first only in a long field.
    if (r->dfa.ready()) {
        bool search = r->prefilter.len > 1 || (r->prefilter.len == 1 && flen >= 64);
        return (!search || r->prefilter.may_match(field, flen)) && r->dfa.matches(field, flen);
    }
    if (!r->prefilter.may_match(field, flen)) return false;
    return field_regex_exec(&r->re, field, flen, 0, nullptr) == 0;
}

namespace {

// glibc's regexec answers "no match" also when it ran out of memory; only errno tells.
// Taking that for "no match" would drop or keep records silently.
int regexec_checked(const regex_t *re, const char *field, size_t nmatch, regmatch_t *pm) {
    errno = 0;
    int r = regexec(re, field, nmatch, pm, REG_STARTEND);
    if (r != 0 && (r != REG_NOMATCH || errno == ENOMEM)) {
        char why[128];
        if (r == REG_NOMATCH)
            snprintf(why, sizeof why, "%s", strerror(ENOMEM));
        else
            regerror(r, re, why, sizeof why);
        fatalf(0, "ERROR: failed matching regular expression: %s", why);
    }
    return r;
}

} // namespace

int field_regex_exec(const regex_t *re, const char *field, size_t flen, size_t nmatch,
                     regmatch_t *pmatch) {
    regmatch_t whole[1];
    regmatch_t *pm = nmatch ? pmatch : whole;
    pm[0].rm_so = 0;
    pm[0].rm_eo = (regoff_t)flen;
    return regexec_checked(re, field, nmatch, pm);
}

int field_regex_exec_from(const regex_t *re, const char *field, size_t from, size_t flen,
                          size_t nmatch, regmatch_t *pmatch) {
    pmatch[0].rm_so = (regoff_t)from;
    pmatch[0].rm_eo = (regoff_t)flen;
    return regexec_checked(re, field, nmatch, pmatch);
}

namespace {

bool is_ere_special(char c) { return c != '\0' && strchr(".[]()*+?{}|^$\\", c) != nullptr; }

} // namespace

void regex_prefilter::init(const char *p, bool ignorecase) {
    len = 0;
    icase = ignorecase;
    if (strchr(p, '|')) return; // an alternation: no byte is required by every branch
    char_encoding enc = locale_char_encoding();
    if (enc == char_encoding::other_multibyte) return;
    auto kept = [&](char c) {
        unsigned char b = (unsigned char)c;
        return enc == char_encoding::single_byte ||
               (b < 0x80 && !(ignorecase && (b | 32) >= 'a' && (b | 32) <= 'z'));
    };
    char run[sizeof lit];
    size_t runlen = 0;
    int depth = 0;
    auto end_run = [&] {
        if (runlen > len) {
            memcpy(lit, run, runlen);
            len = runlen;
        }
        runlen = 0;
    };
    for (size_t i = 0; p[i];) {
        char c = p[i];
        bool literal = false;
        size_t next = i + 1;
        if (c == '\\') {
            if (!is_ere_special(p[i + 1])) { // a back reference or an undefined escape
                len = 0;
                return;
            }
            c = p[i + 1];
            literal = true;
            next = i + 2;
        } else if (c == '[') {
            next = regex_bracket_end(p, i);
            if (next == 0) {
                len = 0;
                return;
            }
        } else if (c == '(') {
            depth++;
        } else if (c == ')') {
            depth--;
        } else if (c == '{') {
            const char *close = strchr(p + i, '}');
            if (!close) {
                len = 0;
                return;
            }
            next = (size_t)(close - p) + 1;
        } else {
            literal = !is_ere_special(c) && kept(c);
        }
        char q = p[next];
        bool optional = q == '*' || q == '?' || q == '{';
        if (literal && depth == 0 && !optional && runlen < sizeof run) {
            run[runlen++] = c;
            if (q == '+') end_run(); // repeated: the run cannot go on past it
        } else {
            end_run();
        }
        i = next;
    }
    end_run();
}

bool regex_prefilter::may_match(const char *field, size_t flen) const {
    if (len == 0) return true;
    return icase ? strcasestr_wrapper(field, flen, lit, len) : strstr_wrapper(field, flen, lit, len);
}

namespace {

int copy_bounded(char *dst, int cap, const char *text, int len) {
    if (len < 0) len = 0;
    if (len > cap - 1) len = cap - 1;
    memcpy(dst, text, (size_t)len);
    dst[len] = '\0';
    return len;
}

} // namespace

void held_key_set(held_key *k, const char *text, int len) {
    k->len = copy_bounded(k->text, MAX_FIELD_LENGTH, text, len);
}

void held_record_set(held_record *r, const char *text, int len) {
    r->len = copy_bounded(r->text, MAX_RECORD_LENGTH, text, len);
}

bool held_key_equals(const held_key *k, const char *text, int len) {
    return k->len == len && memcmp(k->text, text, (size_t)len) == 0;
}

bool held_key_equals_nocase(const held_key *k, const char *text, int len) {
    if (k->len != len) return false;
    for (int i = 0; i < len; i++)
        if (ascii_lower((unsigned char)k->text[i]) != ascii_lower((unsigned char)text[i]))
            return false;
    return true;
}

namespace {

field_regex re_wsonly;
field_regex re_ltws;
bool compiled;

bool match(field_regex *re, const char *field, int len) {
    return field_regex_matches(re, field, (size_t)len);
}

} // namespace

void ws_classes_compile(void) {
    if (compiled) return;
    if (field_regex_compile_matcher(&re_wsonly, "^[ \t]+$", REG_EXTENDED, false) != 0 ||
        field_regex_compile_matcher(&re_ltws, "^([ \t]+[^ \t].*)|(.*[^ \t]+[ \t]+)$",
                                    REG_EXTENDED, false) != 0)
        fatalf(0, "ERROR: failed compiling blank regex");
    compiled = true;
}

bool ws_only_match(const char *field, int len) { return match(&re_wsonly, field, len); }

bool ws_leading_trailing_match(const char *field, int len) {
    return match(&re_ltws, field, len);
}
