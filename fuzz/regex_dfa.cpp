// The regular-expression automaton and the matcher built on it (prefilter, automaton,
// regexec) against regexec itself: for every pattern that regcomp accepts, the same yes/no
// answer on every subject, NUL bytes and line feeds included.
//
// Input: a flag byte (bit 0: REG_ICASE; bit 1: whole-field match as with -x), the pattern up to
// the first 0xFF byte (and its first NUL), then subjects separated by 0xFF bytes.
#include <regex.h>
#include <string>
#include <vector>

#include "field_match.h"
#include "fuzz_common.h"
#include "regex_dfa.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    if (size < 1) return 0;
    int cflags = REG_EXTENDED | ((data[0] & 1) ? REG_ICASE : 0);
    bool exact = data[0] & 2;
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    std::vector<std::string> parts = fuzz::split(rest, '\xff');
    std::string pattern = parts[0].substr(0, parts[0].find('\0'));
    if (pattern.size() > 300) return 0; // long patterns only slow the search down

    regex_t re;
    if (field_regex_compile(&re, pattern.c_str(), cflags | REG_NOSUB, exact) != 0) return 0;
    std::string text = exact ? "^" + pattern + "$" : pattern;
    regex_dfa dfa;
    bool taken = dfa.compile(text.c_str(), cflags);
    static field_regex m;
    FUZZ_CHECK(field_regex_compile_matcher(&m, pattern.c_str(), cflags, exact) == 0);
    FUZZ_CHECK(m.dfa.ready() == taken);
    if (parts.size() == 1) parts.push_back("");
    for (size_t i = 1; i < parts.size(); i++) {
        const std::string &s = parts[i];
        bool want = field_regex_exec(&re, s.data(), s.size(), 0, nullptr) == 0;
        if (taken) FUZZ_CHECK(dfa.matches(s.data(), s.size()) == want);
        FUZZ_CHECK(field_regex_matches(&m, s.data(), s.size()) == want);
    }
    regfree(&m.re);
    regfree(&re);
    return 0;
}
