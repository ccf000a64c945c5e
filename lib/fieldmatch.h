// Matching one field value against a fixed string or a compiled extended regular expression.
// Field values may hold NUL bytes, so every test takes explicit lengths.
#pragma once

#include <cstddef>
#include <regex.h>

// A fixed-string test: true when the field (flen bytes) matches the pattern (plen bytes).
typedef bool (*fixed_matcher)(const char *field, size_t flen, const char *pat, size_t plen);

// The pattern occurs in the field.
bool strstr_wrapper(const char *field, size_t flen, const char *pat, size_t plen);
// The pattern occurs in the field, ASCII letters compared without case.
bool strcasestr_wrapper(const char *field, size_t flen, const char *pat, size_t plen);
// Field and pattern are equal.
bool strcmp_wrapper(const char *field, size_t flen, const char *pat, size_t plen);
// Field and pattern are equal, ASCII letters compared without case.
bool strcasecmp_wrapper(const char *field, size_t flen, const char *pat, size_t plen);

// The matcher for whole-field (exact) or substring matching, with or without case.
fixed_matcher fixed_matcher_choose(bool exact, bool ignorecase);

// Compiles pattern with cflags; with exact, the text compiled is "^PATTERN$" (the anchors are
// added as text, so an alternation a|b becomes ^a|b$). Returns regcomp's result. A failed
// allocation of the anchored text is fatal.
int field_regex_compile(regex_t *re, const char *pattern, int cflags, bool exact);

// regexec over exactly flen bytes of field (NUL bytes included). pmatch may be null when
// nmatch is 0; offsets in pmatch are relative to field. Returns regexec's result.
int field_regex_exec(const regex_t *re, const char *field, size_t flen, size_t nmatch,
                     regmatch_t *pmatch);
