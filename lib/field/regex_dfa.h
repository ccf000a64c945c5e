// A yes/no matcher for POSIX extended regular expressions: whether an expression matches
// somewhere in a field, answered by a deterministic automaton over bytes that is built lazily,
// state by state, from the expression's NFA, in a table of fixed size (emptied when full).
//
// It knows the part of the syntax whose meaning is plainly a set of strings: literal bytes,
// '.', bracket expressions, \w \W \s \S, anchors, groups, alternation and the repetitions * + ?
// {m} {m,} {m,n}. What each one-byte item matches is asked of regcomp and regexec themselves
// (the item compiled alone with the same flags, tried on every byte), so classes, ranges and
// REG_ICASE mean what they mean there. Anything else (basic syntax, back references, word
// anchors, REG_NEWLINE, an NFA too large) is refused at compile time, and the caller keeps
// regexec. So is, in a UTF-8 locale, every expression whose meaning reaches past ASCII (see
// ascii_only_meaning), and in any other multibyte locale every expression.
#pragma once

#include <cstddef>

struct regex_dfa_impl;

class regex_dfa {
  public:
    regex_dfa() = default;
    ~regex_dfa();
    regex_dfa(const regex_dfa &) = delete;
    regex_dfa &operator=(const regex_dfa &) = delete;

    // Builds the matcher for pattern as regcomp(pattern, cflags) reads it; the pattern must be
    // one that regcomp accepts with those flags. False when the pattern is outside the part of
    // the syntax described above (the matcher is then empty).
    bool compile(const char *pattern, int cflags);
    bool ready() const { return impl != nullptr; }
    // Whether the expression matches somewhere in field[0..len) (NUL bytes are data), as
    // regexec with REG_STARTEND answers. Only after a successful compile.
    bool matches(const char *field, size_t len);

  private:
    regex_dfa_impl *impl = nullptr;
};

// How LC_CTYPE cuts text into characters. In UTF-8 a byte below 0x80 is always a character
// of its own, never part of another, which other multibyte encodings do not promise.
enum class char_encoding { single_byte, utf8, other_multibyte };
char_encoding locale_char_encoding();

// Whether the extended expression pattern (with cflags) matches the same byte strings in a
// UTF-8 locale as in the C locale: every item in it stands for ASCII characters only. That
// excludes bytes past ASCII, '.', negated brackets, \w \W \s \S, classes but [:digit:] and
// [:xdigit:] (the others take in letters and spaces of every script), equivalence classes and
// collating elements, ranges unless LC_COLLATE orders by code point, and REG_ICASE (a folded
// 's' matches U+017F).
bool ascii_only_meaning(const char *pattern, int cflags);

// The index just after the bracket expression that opens at p[i] ('['), or 0 when it is not
// closed. Inside it, a ']' first (after an optional '^') is a member, and [:class:], [=x=] and
// [.x.] are read whole.
size_t regex_bracket_end(const char *p, size_t i);
