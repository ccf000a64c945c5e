// The regular-expression prefilter: the bytes it requires, and that it never turns away a
// field the expression matches.
#include <regex.h>
#include <vector>

#include "field_match.h"
#include "unit.h"

namespace {

TEST(RegexPrefilter, RequiredRuns) {
    struct Case {
        const char *pattern;
        const char *run;
    } cases[] = {
        {"dolor 9[0-9]?$", "dolor 9"},
        {"abc", "abc"},
        {"ab*cd", "cd"},       // b is optional, so the run before it is a alone
        {"xab+cd", "xab"},     // b repeats: the run stops after it
        {"a\\.b(cd)?e", "a.b"}, // an escaped point is a byte; a group is never taken
        {"[5-9]\\.[0-9]*5", "."},
        {"^x{2}yz", "yz"},
        {"[]ab]c[[:digit:]]de", "de"},
        {"a|bcd", ""},  // alternation
        {"(a)\\1", ""}, // back reference
        {"[ab", ""},    // unclosed bracket
        {"a.b", "a"},
        {"", ""},
    };
    for (const auto &c : cases) {
        regex_prefilter p;
        p.init(c.pattern, false);
        EXPECT_EQ(std::string(p.lit, p.len), c.run) << c.pattern;
    }
}

TEST(RegexPrefilter, NeverRejectsAMatch) {
    const char *patterns[] = {"dolor 9[0-9]?$", "ab*cd", "xab+cd", "a\\.b(cd)?e", "^x{2}yz",
                              "[]ab]c[[:digit:]]de", "A.B", "b+c*d?e", "(ab)+c", "q\\+r"};
    std::vector<std::string> fields;
    const char alphabet[] = "abcdexyzqAB.+9 ]r";
    unsigned seed = 7;
    for (int k = 0; k < 3000; k++) {
        std::string f;
        int n = (int)((seed = seed * 1103515245u + 12345u) >> 16) % 9;
        for (int i = 0; i < n; i++)
            f += alphabet[((seed = seed * 1103515245u + 12345u) >> 16) % (sizeof alphabet - 1)];
        fields.push_back(f);
    }
    for (const char *fixed :
         {"dolor 95", "acd", "xabbbcd", "a.be", "a.bcde", "xxyz", "]c5de", "ababc", "q+r"})
        fields.push_back(fixed);
    for (bool icase : {false, true})
        for (const char *pat : patterns) {
            regex_t re;
            ASSERT_EQ(regcomp(&re, pat, REG_EXTENDED | REG_NOSUB | (icase ? REG_ICASE : 0)), 0);
            regex_prefilter p;
            p.init(pat, icase);
            int matched = 0;
            for (const auto &f : fields) {
                if (field_regex_exec(&re, f.data(), f.size(), 0, nullptr) != 0) continue;
                matched++;
                EXPECT_TRUE(p.may_match(f.data(), f.size())) << pat << " on '" << f << "'";
            }
            EXPECT_GT(matched, 0) << pat;
            regfree(&re);
        }
}

} // namespace
