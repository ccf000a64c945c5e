#include "fieldmatch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

fixed_matcher fixed_matcher_choose(bool exact, bool ignorecase) {
    if (exact) return ignorecase ? strcasecmp_wrapper : strcmp_wrapper;
    return ignorecase ? strcasestr_wrapper : strstr_wrapper;
}

int field_regex_compile(regex_t *re, const char *pattern, int cflags, bool exact) {
    if (!exact) return regcomp(re, pattern, cflags);
    size_t n = strlen(pattern) + 3;
    char *anchored = (char *)malloc(n);
    if (!anchored) fatalf(errno, "ERROR: failed allocating dynamic memory");
    snprintf(anchored, n, "^%s$", pattern);
    int r = regcomp(re, anchored, cflags);
    free(anchored);
    return r;
}

int field_regex_exec(const regex_t *re, const char *field, size_t flen, size_t nmatch,
                     regmatch_t *pmatch) {
    regmatch_t whole[1];
    regmatch_t *pm = nmatch ? pmatch : whole;
    pm[0].rm_so = 0;
    pm[0].rm_eo = (regoff_t)flen;
    return regexec(re, field, nmatch, pm, REG_STARTEND);
}
