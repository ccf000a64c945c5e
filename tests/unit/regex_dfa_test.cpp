// The regular-expression automaton against regexec: for every pattern it takes, the same
// yes/no answer on every subject; the patterns it must leave to regexec; and the matcher that
// the programs use (prefilter, automaton, regexec) giving regexec's answers.
#include <clocale>
#include <regex.h>
#include <string>
#include <vector>

#include "field_match.h"
#include "regex_dfa.h"
#include "unit.h"

namespace {

bool regexec_says(const regex_t *re, const std::string &s) {
    return field_regex_exec(re, s.data(), s.size(), 0, nullptr) == 0;
}

// Compares the automaton with regexec on every subject; false when the automaton refuses the
// pattern (or regcomp does).
bool agree_on(const std::string &pattern, int cflags, const std::vector<std::string> &subjects) {
    regex_t re;
    if (regcomp(&re, pattern.c_str(), cflags | REG_NOSUB) != 0) return false;
    regex_dfa dfa;
    bool taken = dfa.compile(pattern.c_str(), cflags);
    for (size_t i = 0; taken && i < subjects.size(); i++) {
        const std::string &s = subjects[i];
        EXPECT_EQ(dfa.matches(s.data(), s.size()), regexec_says(&re, s))
            << "pattern '" << pattern << "' flags " << cflags << " subject '" << s << "'";
    }
    regfree(&re);
    return taken;
}

struct Rng {
    unsigned state;
    unsigned next(unsigned n) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % n;
    }
};

TEST(RegexDfa, TableAgainstRegexec) {
    const char *patterns[] = {
        "", "a", "abc", "^abc$", "^$", "$^", "^", "$", "(^|x)a", "a($|x)",
        "[5-9]\\.[0-9]*5", "dolor 9[0-9]?$", "^([ \t]+[^ \t].*)|(.*[^ \t]+[ \t]+)$",
        "^[ \t]+$", "^([-+]?[0-9]+(\\.[0-9]*)?)|(\\.[0-9]+)$", "a|b|", "|a", "()", "(|a)b",
        "a*", "(a*)*b", "(a|)+c", "a{0}b", "a{2}", "a{2,}", "a{1,3}b", "(ab){2}{2}", "a**",
        "x+?y", "[]a]", "[^]a]", "[a-]", "[[:digit:][:upper:]]", "[[:space:]]+", "[[.-.]a]",
        "[[=e=]]", ".", "a.c", "\\.", "\\[x\\]", "\\{", "}", "]", "\\w+", "\\W", "\\s\\S",
        "[^a]", "\\-\\/", "\xe9+", "[\x80-\xff]", "a{3}$", "^(a|b)*abb(a|b)?$",
    };
    const char *subjects[] = {
        "", "a", "b", "ab", "abc", "xabc", "abcx", "aab", "aaab", "abab", "ababab", "x", "xa",
        "ax", "c", "bc", "ac", "abb", "aabb", "babb", "abba", "5.5", "7.25", "9.", "4.15",
        "lorem ipsum dolor 9", "dolor 97", "dolor 977", " a", "a ", " ", "\t\t", "a b",
        "12", "-3.5", ".5", "+", "]", "-", "e", "E", "A", "B", "ABC", "_", "\xe9", "\xe9\xe9",
        "\x80", "\xff", "{", "}", "[x]", "a.c", "a\nc", "/",
        "-/", "aaa", "aaaa",
    };
    std::vector<std::string> subs(std::begin(subjects), std::end(subjects));
    subs.push_back(std::string("a\0b", 3));
    subs.push_back(std::string("\0", 1));
    subs.push_back(std::string(" \0 ", 3));
    for (int cflags : {REG_EXTENDED, REG_EXTENDED | REG_ICASE})
        for (const char *p : patterns) EXPECT_TRUE(agree_on(p, cflags, subs)) << p;
}

TEST(RegexDfa, LeavesTheRestToRegexec) {
    struct Case {
        const char *pattern;
        int cflags;
    } cases[] = {
        {"(a)\\1", REG_EXTENDED},         // back reference
        {"\\bword\\b", REG_EXTENDED},     // word anchors
        {"\\<a\\>", REG_EXTENDED},
        {"a\\`", REG_EXTENDED},
        {"a{,3}", REG_EXTENDED},          // lower bound left out
        {"a{1,300}", REG_EXTENDED},       // bound too large
        {"(a{1,100}){1,100}", REG_EXTENDED}, // NFA too large
        {"a)", REG_EXTENDED},             // lone ')'
        {"a^b", REG_EXTENDED},            // anchors meeting a byte of the match
        {".^a", REG_EXTENDED},
        {"a$.", REG_EXTENDED},
        {"(a|^)+b", REG_EXTENDED},
        {"abc", 0},                       // basic syntax
        {"abc", REG_EXTENDED | REG_NEWLINE},
    };
    for (const auto &c : cases) {
        regex_t re;
        ASSERT_EQ(regcomp(&re, c.pattern, c.cflags), 0) << c.pattern;
        regfree(&re);
        regex_dfa dfa;
        EXPECT_FALSE(dfa.compile(c.pattern, c.cflags)) << c.pattern;
        EXPECT_FALSE(dfa.ready());
    }
}

// Patterns drawn from a small grammar, subjects from the bytes they use and a few others.
std::string random_pattern(Rng &r, int depth) {
    static const char *atoms[] = {"a", "b", "c", "A", ".", "[ab]", "[^a]", "[a-c]", "[[:alpha:]]",
                                  "\\.", "\\w", "\\s", "x", " ", "\xe9", "[^[:space:]b]", "-",
                                  "}", "]", "\\*", "[]b-]"};
    std::string out;
    int n = 1 + (int)r.next(4);
    for (int i = 0; i < n; i++) {
        unsigned k = r.next(20);
        if (k < 12)
            out += atoms[r.next(sizeof atoms / sizeof *atoms)];
        else if (k < 14 && depth < 3)
            out += "(" + random_pattern(r, depth + 1) + ")";
        else if (k == 14)
            out += "^";
        else if (k == 15)
            out += "$";
        else if (k == 16 && depth < 3)
            out += "(" + random_pattern(r, depth + 1) + "|" + random_pattern(r, depth + 1) + ")";
        else
            out += atoms[r.next(4)];
        if (out.back() != '^' && out.back() != '$') {
            static const char *reps[] = {"*", "+", "?", "{2}", "{0,2}", "{1,}", "{0}", "{3}"};
            if (r.next(3) == 0) out += reps[r.next(8)];
        }
    }
    if (r.next(6) == 0) out += "|" + random_pattern(r, depth + 1);
    return out;
}

TEST(RegexDfa, RandomPatternsAgreeWithRegexec) {
    Rng r{20261208};
    const char bytes[] = "abcAxB. \xe9-}]*\n\t_";
    int taken = 0;
    for (int k = 0; k < 1500; k++) {
        std::string pat = random_pattern(r, 0);
        std::vector<std::string> subs;
        for (int j = 0; j < 40; j++) {
            std::string s;
            int n = (int)r.next(9);
            for (int i = 0; i < n; i++)
                s += r.next(30) == 0 ? '\0' : bytes[r.next(sizeof bytes - 1)];
            subs.push_back(s);
        }
        int cflags = REG_EXTENDED | (r.next(3) == 0 ? REG_ICASE : 0);
        taken += agree_on(pat, cflags, subs);
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(taken, 1000);
}

// More states than the table holds: it is emptied and rebuilt on the way.
TEST(RegexDfa, FullTableIsEmptiedAndRebuilt) {
    Rng r{42};
    std::vector<std::string> subs;
    for (int j = 0; j < 300; j++) {
        std::string s;
        for (int i = 0; i < 200; i++) s += "ab"[r.next(2)];
        subs.push_back(s + "c");
    }
    EXPECT_TRUE(agree_on("(a|b)*a(a|b){11}c", REG_EXTENDED, subs));
    EXPECT_TRUE(agree_on("a(a|b){9}b(a|b){3}$", REG_EXTENDED, subs));
    // Five byte classes, rows padded to eight; states that accept before the field ends.
    for (std::string &s : subs)
        s[r.next(200)] = "cde"[r.next(3)];
    EXPECT_TRUE(agree_on("(a|b)*a(a|b){10}[cd]", REG_EXTENDED, subs));
}

TEST(FieldRegex, MatcherGivesRegexecAnswers) {
    // Long fields too, where a one-byte literal is looked for before the automaton runs.
    const std::string pad(70, 'x'), long_dot = pad + "7.5", long_comma = pad + "7,5";
    const char *subjects[] = {
        "",    "dolor 9", "DOLOR 95", "dolor 955",      "x dolor 9",       "5.5",
        "a|b", "ab",      "b",        long_dot.c_str(), long_comma.c_str()};
    for (bool exact : {false, true})
        for (int cflags : {REG_EXTENDED, REG_EXTENDED | REG_ICASE, 0})
            for (const char *p : {"dolor 9[0-9]?", "[5-9]\\.[0-9]*5?", "a|b", "(a)\\1", "b*"}) {
                field_regex m;
                regex_t re;
                int rc = field_regex_compile(&re, p, cflags | REG_NOSUB, exact);
                ASSERT_EQ(field_regex_compile_matcher(&m, p, cflags, exact), rc) << p;
                if (rc != 0) continue;
                for (const char *s : subjects)
                    EXPECT_EQ(field_regex_matches(&m, s, strlen(s)), regexec_says(&re, s))
                        << p << " on '" << s << "' flags " << cflags << " exact " << exact;
                regfree(&re);
                regfree(&m.re);
            }
}

// In a UTF-8 locale the programs' matcher (prefilter, automaton where the expression means
// the same as in C, regexec otherwise) and the fixed-string search without case answer as
// regexec does in that locale, on valid characters, folded ones and bytes that start none.
TEST(FieldRegex, Utf8LocaleGivesRegexecAnswers) {
    if (!setlocale(LC_CTYPE, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
    struct Restore {
        ~Restore() { setlocale(LC_CTYPE, "C"); }
    } restore;
    // Letters with a case partner of another length (U+017F folds to 'S'), a lone lead byte,
    // a lone continuation byte and a byte that is never UTF-8.
    static const char *chars[] = {
        "a", "b", "s", "S",    "\xc3\xa9", "\xc3\x89", "\xc5\xbf", "\xe2\x82\xac",
        "x", "0", " ", "\xc3", "\xa9",     "\xff"};
    static const char *items[] = {".",           "[ab]",        "[^a]",  "[^\xc3\xa9]",
                                  "[\xc3\xa9s]", "[[:alpha:]]", "[a-z]", "[[:digit:]]",
                                  "\\w",         "\\S",         "(a|s)", "(\xc3\xa9|x)"};
    static const char *reps[] = {"*", "+", "?", "{2}"};
    Rng r{25};
    int taken = 0, folded = 0;
    for (int k = 0; k < 1500; k++) {
        std::string pat, lit;
        bool plain = r.next(3) == 0; // characters only: a fixed string as well
        for (int n = 1 + (int)r.next(4); n > 0; n--) {
            std::string c = chars[r.next(plain ? 11 : 14)];
            if (!plain && r.next(3) == 0) c = items[r.next(sizeof items / sizeof *items)];
            pat += c;
            lit += c;
            if (!plain && r.next(4) == 0) pat += reps[r.next(4)];
        }
        if (!plain && r.next(5) == 0) pat = "^" + pat;
        int cflags = REG_EXTENDED | (r.next(2) ? REG_ICASE : 0);
        bool exact = r.next(4) == 0;
        regex_t re;
        field_regex m;
        if (field_regex_compile(&re, pat.c_str(), cflags | REG_NOSUB, exact) != 0) continue;
        ASSERT_EQ(field_regex_compile_matcher(&m, pat.c_str(), cflags, exact), 0) << pat;
        taken += m.dfa.ready();
        regex_t leftmost;
        ASSERT_EQ(regcomp(&leftmost, lit.c_str(), cflags), 0);
        fixed_matcher fixed = fixed_matcher_choose(exact, cflags & REG_ICASE);
        for (int j = 0; j < 30; j++) {
            std::string s;
            for (int n = (int)r.next(6); n > 0; n--)
                s += r.next(25) == 0 ? "\0"s : std::string(chars[r.next(14)]);
            EXPECT_EQ(field_regex_matches(&m, s.data(), s.size()), regexec_says(&re, s))
                << "'" << pat << "' flags " << cflags << " exact " << exact << " on '" << s << "'";
            if (!plain) continue;
            // The fixed string against the same characters as an expression.
            regmatch_t pm[1];
            bool found = field_regex_exec(&leftmost, s.data(), s.size(), 1, pm) == 0;
            bool whole = found && pm[0].rm_so == 0 && (size_t)pm[0].rm_eo == s.size();
            EXPECT_EQ(fixed(s.data(), s.size(), lit.data(), lit.size()), exact ? whole : found)
                << "fixed '" << lit << "' flags " << cflags << " on '" << s << "'";
            size_t end = 0;
            const char *at =
                fixed_find(s.data(), 0, s.size(), lit.data(), lit.size(), cflags & REG_ICASE, &end);
            ASSERT_EQ(at != nullptr, found) << lit << " in '" << s << "'";
            if (found) {
                EXPECT_EQ(std::make_pair(at - s.data(), (long)end),
                          std::make_pair((long)pm[0].rm_so, (long)pm[0].rm_eo))
                    << lit << " in '" << s << "'";
            }
            folded += found && (cflags & REG_ICASE) && end - (size_t)(at - s.data()) != lit.size();
        }
        regfree(&leftmost);
        regfree(&re);
        regfree(&m.re);
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(taken, 50);
    EXPECT_GT(folded, 0);
}

} // namespace
