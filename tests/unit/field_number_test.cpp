// Numeric fields: the hand-written reading against the reading it replaced, regular
// expressions for the kind and strtod on the decimal prefix for the value, bit for bit; the
// one-pass reading of a field as zelk-range reads it against the same, inside the quotes of a
// quoted field that holds no quote, comma or line break and is no number as it stands.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <regex.h>
#include <string>

#include "field_number.h"
#include "unit.h"

namespace {

struct Reference {
    regex_t number, blank;
    Reference() {
        regcomp(&number, "^([-+]?[0-9]+(\\.[0-9]*)?)|(\\.[0-9]+)$", REG_EXTENDED | REG_NOSUB);
        regcomp(&blank, "^[ \t]*$", REG_EXTENDED | REG_NOSUB);
    }
    ~Reference() {
        regfree(&number);
        regfree(&blank);
    }
    Reference(const Reference &) = delete;
    Reference &operator=(const Reference &) = delete;
    static bool match(const regex_t *re, const std::string &s) {
        regmatch_t m[1] = {{0, (regoff_t)s.size()}};
        return regexec(re, s.c_str(), 0, m, REG_STARTEND) == 0;
    }
    field_kind kind(const std::string &s) const {
        if (match(&number, s)) return field_kind::number;
        return match(&blank, s) ? field_kind::blank : field_kind::other;
    }
    // The prefix as strspn finds it in the NUL-terminated text, then strtod.
    static double value(const std::string &s) {
        const char *t = s.c_str();
        size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
        size_t digits = strspn(t + i, "0123456789");
        i += digits;
        if (t[i] == '.') {
            size_t frac = strspn(t + i + 1, "0123456789");
            digits += frac;
            i += 1 + frac;
        }
        if (digits == 0) return 0.0;
        if (t[i] == 'e' || t[i] == 'E') {
            size_t j = i + 1;
            if (t[j] == '-' || t[j] == '+') j++;
            size_t exp = strspn(t + j, "0123456789");
            if (exp > 0) i = j + exp;
        }
        return strtod(std::string(t, i).c_str(), nullptr);
    }
};

void expect_bits(double got, double want) {
    uint64_t g, w;
    memcpy(&g, &got, sizeof g);
    memcpy(&w, &want, sizeof w);
    EXPECT_EQ(g, w) << got << " vs " << want;
}

void expect_same(const Reference &ref, const std::string &s) {
    SCOPED_TRACE("field '" + s + "'");
    field_kind k = field_number_kind(s.data(), s.size());
    ASSERT_EQ(k, ref.kind(s));
    double read = 0.0;
    std::string inner = s;
    if (k == field_kind::other && s.size() >= 2 && s.front() == '"' && s.back() == '"' &&
        s.substr(1, s.size() - 2).find_first_of("\",\r\n") == std::string::npos) {
        inner = s.substr(1, s.size() - 2);
    }
    field_kind rk = field_number_read(s.data(), s.size(), &read);
    ASSERT_EQ(rk, ref.kind(inner));
    if (rk == field_kind::number) expect_bits(read, Reference::value(inner));
    if (k == field_kind::number)
        expect_bits(field_number_value(s.data(), s.size()), Reference::value(s));
}

TEST(FieldNumber, SameKindAndValueAsBefore) {
    const Reference ref;
    const std::string cases[] = {
        // signs, points at either end, prefixes
        "0", "-0", "+0", "-0.0e10", "5", "-3", "+2", ".5", "-.5", "+.5", "5.", "-5.", "x.5",
        "-x.5", "..5", "1.2.3", "12abc", "0x10", "2e3x", "1e3", "1E-3", "1e", "1e+", "1e-x",
        "1.e5", ".5e1", "5.e", "--3", "+", "-", ".", "x.", "e5", "inf", "nan", "-inf",
        // blanks and other text
        "", " ", " \t ", " 5", "5 ", "\"12\"", "abc", "1,5",
        // NUL bytes are data
        "1\0"s "5", "x\0"s ".5", "\0"s "5", " \0"s,
        // the limits of the fast path: 19 digits, 2^53, 10^22
        "9007199254740992", "9007199254740993", "9007199254740993.0", "1234567890123456789",
        "12345678901234567890", "0.1", "0.3", "1e22", "1e23", "9e22", "1e-22", "7e-23",
        "123456789012345678e-5", "00000000000000000000000001.5", "0.000000000000000000000001",
        "1.00000000000000000000000000001", "2.5000000000000000000000000001",
        // huge, tiny and out of range
        "1e308", "1.7976931348623157e308", "1.7976931348623159e308", "1e309", "-1e999",
        "1e99999999999", "2.2250738585072011e-308", "4.9e-324", "2.4e-324", "1e-400",
        "0e99999999999", std::string(400, '9'), "0." + std::string(400, '0') + "1",
    };
    for (const std::string &s : cases) expect_same(ref, s);
    // Quoted: read inside the quotes only where they could go.
    for (const char *inner :
         {"-.5", "", " ", "12abc", "1,5", "1\n", "1\"\"", "\"\"", "\"5\"", "9007199254740993", "x"})
        expect_same(ref, "\"" + std::string(inner) + "\"");
    expect_same(ref, "\"");
}

// Random decimal numbers of every shape around the fast path's limits.
TEST(FieldNumber, RandomNumbersAsStrtodReadsThem) {
    const Reference ref;
    std::mt19937_64 rng(2026);
    auto digits = [&](int n) {
        std::string d;
        for (int i = 0; i < n; i++) d += (char)('0' + rng() % 10);
        return d;
    };
    const char *signs[] = {"", "-", "+"};
    for (int i = 0; i < 20000; i++) {
        std::string s = signs[rng() % 3];
        if (rng() % 4 == 0) { // around 2^53, the point anywhere
            std::string d = "90071992547409" + digits(2 + (int)(rng() % 4));
            d.insert(rng() % (d.size() + 1), ".");
            s += d;
        } else {
            s += digits((int)(rng() % 21));
            if (rng() % 2) s += "." + digits((int)(rng() % 21));
        }
        if (rng() % 3 == 0)
            s += (rng() % 2 ? "e" : "E") + std::to_string((int)(rng() % 700) - 350);
        if (rng() % 8 == 0) s = "\"" + s + "\"";
        expect_same(ref, s);
    }
}

} // namespace
