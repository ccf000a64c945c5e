// Matching one field value against a fixed string or a compiled extended regular expression.
// Field values may hold NUL bytes, so every test takes explicit lengths.
#pragma once

#include <cstddef>
#include <regex.h>

#include "libcsv.h"
#include "regex_dfa.h"

// Takes LC_CTYPE from the environment (LC_ALL, LC_CTYPE, LANG) when it names a UTF-8 locale,
// so that patterns match its characters; any other locale leaves the C one, where every byte
// is a character. Nothing else is taken: numbers keep reading with a point, messages stay.
void match_characters_of_locale(void);

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

// The matcher for whole-field (exact) or substring matching, with or without case. Without
// case in a multibyte locale, characters are compared by their upper-case forms, as regexec
// folds them with REG_ICASE; a byte that starts no character there equals only itself.
fixed_matcher fixed_matcher_choose(bool exact, bool ignorecase);

// Where pat (plen bytes) first occurs in field[from..flen), without case as the matchers above
// with ignorecase; null when it does not. *end is where the occurrence ends: folded characters
// may differ in length. An empty pattern occurs at from, and from must start a character.
const char *fixed_find(const char *field, size_t from, size_t flen, const char *pat, size_t plen,
                       bool ignorecase, size_t *end);

// The length in bytes of the character that starts at s[i] (i < n) in the locale; 1 for a
// byte that starts none, and in a single-byte locale.
size_t char_length_at(const char *s, size_t i, size_t n);

// Compiles pattern with cflags; with exact, the text compiled is "^PATTERN$" (the anchors are
// added as text, so an alternation a|b becomes ^a|b$). Returns regcomp's result. A failed
// allocation of the anchored text is fatal.
int field_regex_compile(regex_t *re, const char *pattern, int cflags, bool exact);

// regexec over exactly flen bytes of field (NUL bytes included). pmatch may be null when
// nmatch is 0; offsets in pmatch are relative to field. Returns 0 (match) or REG_NOMATCH; any
// other failure of regexec (out of memory) is fatal.
int field_regex_exec(const regex_t *re, const char *field, size_t flen, size_t nmatch,
                     regmatch_t *pmatch);
// The same, for the leftmost match that starts at or after offset from: the bytes before it
// stay the match's context, so '^' does not match there. nmatch is at least 1.
int field_regex_exec_from(const regex_t *re, const char *field, size_t from, size_t flen,
                          size_t nmatch, regmatch_t *pmatch);

// A cheap first test for a regular expression: the longest run of bytes that every match must
// contain, found in the pattern text. Patterns it cannot read safely (alternation, groups with
// their contents, bracket expressions, repetitions and anchors only break a run; an
// alternation or a back reference anywhere gives no run at all) get an empty run, which every
// field passes. In a UTF-8 locale the run holds ASCII bytes only (a repetition applies to a
// whole character), and with case ignored no letters (a folded 's' matches U+017F); in other
// multibyte locales it is empty.
struct regex_prefilter {
    char lit[256];
    size_t len = 0;
    bool icase = false;
    // Reads pattern (an extended expression; icase as with REG_ICASE).
    void init(const char *pattern, bool ignorecase);
    // False only when the field cannot match the expression.
    bool may_match(const char *field, size_t flen) const;
};

// An expression compiled for the yes/no question "does the field match": the prefilter's
// required bytes first, then the automaton of regex_dfa.h when the expression is within its
// reach, regexec otherwise. The answers are regexec's in every case.
struct field_regex {
    regex_t re;
    regex_prefilter prefilter;
    regex_dfa dfa;
};

// Compiles as field_regex_compile does (REG_NOSUB added) and prepares the quick paths.
// Returns regcomp's result.
int field_regex_compile_matcher(field_regex *r, const char *pattern, int cflags, bool exact);

// Whether the expression matches somewhere in field[0..flen) (NUL bytes are data).
bool field_regex_matches(field_regex *r, const char *field, size_t flen);

// Copies of a key or a record that must outlive the library buffer they were read into (the
// next read reuses it). The length is kept with the bytes, so a NUL byte inside stays data: two
// keys are equal only when all their bytes are.
struct held_key {
    char text[MAX_FIELD_LENGTH]; // at most MAX_FIELD_LENGTH - 1 bytes, then a NUL
    int len;
};

struct held_record {
    char text[MAX_RECORD_LENGTH]; // at most MAX_RECORD_LENGTH - 1 bytes, then a NUL
    int len;
};

// Copies len bytes of text (cut to the buffer's limit) and a NUL.
void held_key_set(held_key *k, const char *text, int len);
void held_record_set(held_record *r, const char *text, int len);
// Whether the held key is byte for byte the len bytes of text.
bool held_key_equals(const held_key *k, const char *text, int len);
// The same but for the case of ASCII letters: keys that ignore case. Other bytes, those of
// UTF-8 characters beyond ASCII included, must be equal.
bool held_key_equals_nocase(const held_key *k, const char *text, int len);
inline unsigned char ascii_lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? (unsigned char)(c + ('a' - 'A')) : c;
}

// The two whitespace classes of unquoted fields, shared by the cleaner and the validator:
// whitespace only ("^[ \t]+$") and leading or trailing whitespace
// ("^([ \t]+[^ \t].*)|(.*[^ \t]+[ \t]+)$"), both POSIX extended expressions.
// Compiles both expressions; a failure is fatal: "ERROR: failed compiling blank regex".
void ws_classes_compile(void);

// Whether field[0..len) matches each expression. NUL bytes inside the field are data. Either
// expression can match only a field that begins or ends with a blank, so the others (nearly
// every field, and every quoted one) are answered here without running the matcher.
bool ws_only_match(const char *field, int len);
bool ws_leading_trailing_match(const char *field, int len);
inline bool ws_is_blank(char c) { return c == ' ' || c == '\t'; }
inline bool ws_only(const char *field, int len) {
    return len > 0 && ws_is_blank(field[0]) && ws_only_match(field, len);
}
inline bool ws_leading_trailing(const char *field, int len) {
    return len > 0 && (ws_is_blank(field[0]) || ws_is_blank(field[len - 1])) &&
           ws_leading_trailing_match(field, len);
}
