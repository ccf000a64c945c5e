// The regular-expression automaton and the matcher built on it (prefilter, automaton,
// regexec) against regexec itself: for every pattern that regcomp accepts, the same yes/no
// answer on every subject, NUL bytes and line feeds included.
//
// Input: a flag byte (bit 0: REG_ICASE; bit 1: whole-field match as with -x; bit 2: in the
// C.UTF-8 locale, where there is one), the pattern up to the first 0xFF byte (and its first
// NUL), then subjects separated by 0xFF bytes.
#include <algorithm>
#include <clocale>
#include <regex.h>
#include <string>
#include <vector>

#include "field_match.h"
#include "fuzz_common.h"
#include "regex_dfa.h"

namespace {

// The product of the largest counts of the pattern's {m,n} repetitions.
long copies(const std::string &p) {
    long product = 1;
    for (size_t i = 0; i < p.size(); i++) {
        if (p[i] != '{') continue;
        long most = 0;
        for (size_t j = i + 1; j < p.size() && j < i + 12; j++) {
            if (p[j] >= '0' && p[j] <= '9') {
                long v = atol(p.c_str() + j);
                most = std::max(most, std::min(v, 100000L) + 1);
                while (j + 1 < p.size() && p[j + 1] >= '0' && p[j + 1] <= '9') j++;
            } else if (p[j] != ',') {
                break;
            }
        }
        product = std::min(product * std::max(most, 1L), 1L << 30);
    }
    return product;
}

// Whether a repetition operator follows another one.
bool stacked(const std::string &p) {
    for (size_t i = 0; i + 1 < p.size(); i++)
        if (strchr("*+?}", p[i]) && strchr("*+?{", p[i + 1])) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    if (size < 1) return 0;
    int cflags = REG_EXTENDED | ((data[0] & 1) ? REG_ICASE : 0);
    bool exact = data[0] & 2;
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    std::vector<std::string> parts = fuzz::split(rest, '\xff');
    std::string pattern = parts[0].substr(0, parts[0].find('\0'));
    // Long patterns, repetition bounds that multiply up and stacked repetitions only slow the
    // search down (regcomp copies a bounded repetition's operand once for each count, and its
    // closures grow with each stacked operator).
    if (pattern.size() > 300 || copies(pattern) > 16 || stacked(pattern)) return 0;
    struct Locale {
        explicit Locale(bool utf8) {
            if (utf8) setlocale(LC_CTYPE, "C.UTF-8");
        }
        ~Locale() { setlocale(LC_CTYPE, "C"); }
    } locale(data[0] & 4);

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
