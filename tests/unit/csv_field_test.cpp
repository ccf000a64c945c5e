// Quoting, unquoting and cleaning single fields.
#include <cstring>
#include <optional>
#include <random>

#include "field_buffer.h"
#include "unit.h"

namespace {

TEST(FieldQuote, AlwaysQuotes) {
    EXPECT_STREQ(csv_field_quote("a,b"), "\"a,b\"");
    EXPECT_STREQ(csv_field_quote("x\"y"), "\"x\"\"y\"");
    EXPECT_STREQ(csv_field_quote(""), "\"\"");
    EXPECT_STREQ(csv_field_quote("abc"), "\"abc\"");
    EXPECT_STREQ(csv_field_quote("\"already\""), "\"already\"");
}

TEST(FieldQuoteDeathTest, Limit) {
    EXPECT_EQ(strlen(csv_field_quote(std::string(8188, 'q').c_str())), 8190u);
    EXPECT_EXIT(csv_field_quote(std::string(8189, 'q').c_str()), ::testing::ExitedWithCode(1),
                "field length exceeded MAX_FIELD_LENGTH \\(8192\\)");
    // Doubled quotes count towards the limit.
    EXPECT_EXIT(csv_field_quote(("a" + std::string(4094, '"') + "b").c_str()), ::testing::ExitedWithCode(1),
                "MAX_FIELD_LENGTH");
}

// Each field through every unquoter and cleaner, copying and in place. A nullptr result is a
// refused field: named on standard error when verbose, left as it was in place. A byte order
// mark before a quoted field (an input's first field) stays in front of what becomes of it.
TEST(FieldUnquoteAndClean, EveryWayOnEachField) {
    const std::string M = "\xEF\xBB\xBF";
    const struct {
        std::string field;
        const char *unquoted, *cleaned, *unquoted_marked, *cleaned_marked; // marked: <CR>, <LF>
        std::string bom = "";
    } cases[] = {
        {"plain", "plain", "plain", "plain", "plain"},
        {"abc", "abc", "abc", "abc", "abc"},
        {"", "", "", "", ""},
        {"un\nquoted", "un\nquoted", "un\nquoted", "un\nquoted", "un\nquoted"},
        {"\"abc\"", "abc", "abc", "abc", "abc"},
        {"\"\"", "", "", "", ""},
        {"\"", "", "", "", ""},
        {"\"a,b\"", "a,b", "\"a,b\"", "a,b", "\"a,b\""},
        {"\"a\"\"b\"", "a\"b", "\"a\"\"b\"", "a\"b", "\"a\"\"b\""},
        {"\"x\"\"y\"", "x\"y", "\"x\"\"y\"", "x\"y", "\"x\"\"y\""},
        {"\"a,\"\"b\"", "a,\"b", "\"a,\"\"b\"", "a,\"b", "\"a,\"\"b\""},
        {"\"\"\"\"", "\"", "\"\"\"\"", "\"", "\"\"\"\""},
        // A lone inner quote is kept.
        {"\"a\"b\"", "a\"b", "\"a\"b\"", "a\"b", "\"a\"b\""},
        {"\"a\nb\"", "a\nb", "\"a\nb\"", "a<LF>b", "a<LF>b"},
        {"\"1\r\n2\"", "1\r\n2", "\"1\r\n2\"", "1<CR><LF>2", "1<CR><LF>2"},
        {"\"a\nb\r\nc\"", "a\nb\r\nc", "\"a\nb\r\nc\"", "a<LF>b<CR><LF>c", "a<LF>b<CR><LF>c"},
        {"\"a,\r\nb\"", "a,\r\nb", "\"a,\r\nb\"", "a,<CR><LF>b", "\"a,<CR><LF>b\""},
        {"\"x\"\"\ny\"", "x\"\ny", "\"x\"\"\ny\"", "x\"<LF>y", "\"x\"\"<LF>y\""},
        {"\"open", nullptr, nullptr, nullptr, nullptr},
        {"\"ab", nullptr, nullptr, nullptr, nullptr},
        {"\"x", nullptr, nullptr, nullptr, nullptr},
        {"close\"", nullptr, nullptr, nullptr, nullptr},
        {"x\"", nullptr, nullptr, nullptr, nullptr},
        {"abc\"", nullptr, nullptr, nullptr, nullptr},
        {"\"id\"", "id", "id", "id", "id", M},
        {"\"a,\"\"b\"", "a,\"b", "\"a,\"\"b\"", "a,\"b", "\"a,\"\"b\"", M},
        {"\"a\nb\"", "a\nb", "\"a\nb\"", "a<LF>b", "a<LF>b", M},
        {"\"\"", "", "", "", "", M},
        {"id", "id", "id", "id", "id", M},
    };
    auto result = [](const char *r) { return r ? std::optional<std::string>(r) : std::nullopt; };
    auto expect = [&](const char *r, const std::string &bom) {
        return r ? std::optional<std::string>(bom + r) : std::nullopt;
    };
    for (const auto &c : cases) {
        const std::string field = c.bom + c.field;
        SCOPED_TRACE(testing::PrintToString(field));
        for (char verbose : {1, 0}) {
            StderrCapture cap;
            EXPECT_EQ(result(csv_field_unquote(field.c_str(), verbose)), expect(c.unquoted, c.bom));
            EXPECT_EQ(result(csv_field_clean(field.c_str(), verbose)), expect(c.cleaned, c.bom));
            EXPECT_EQ(result(csv_field_unquote_and_replace_embeds(field.c_str(), verbose)),
                      expect(c.unquoted_marked, c.bom));
            EXPECT_EQ(result(csv_field_clean_and_replace_embeds(field.c_str(), verbose)),
                      expect(c.cleaned_marked, c.bom));
            // In place: 1 where the field changed, 0 where it did not, -1 where refused.
            std::string u = field, k = field;
            int ru = csv_field_unquote_inplace(u.data(), verbose);
            int rk = csv_field_clean_inplace(k.data(), verbose);
            EXPECT_EQ(u.c_str(), c.unquoted ? c.bom + c.unquoted : field);
            EXPECT_EQ(ru, c.unquoted ? c.bom + c.unquoted != field : -1);
            EXPECT_EQ(k.c_str(), c.cleaned ? c.bom + c.cleaned : field);
            EXPECT_EQ(rk, c.cleaned ? c.bom + c.cleaned != field : -1);
            // By length, invalid quoting is left as it stands.
            std::string v = field;
            v.resize((size_t)csv_field_value_inplace(v.data(), (int)v.size()));
            EXPECT_EQ(v, c.unquoted ? c.bom + c.unquoted : field);
            std::string said;
            if (verbose && !c.unquoted) {
                for (int i = 0; i < 5; i++)
                    said += "t: ERROR: invalid field quoting:\n  " + field + "\n";
                said += "t: ERROR: invalid field quoting: " + field + "\n";
            }
            EXPECT_EQ(cap.take(), said) << "verbose " << (int)verbose;
        }
    }
    EXPECT_EQ(csv_field_quote((M + "\"id\"").c_str()), "\"" + M + "\"\"id\"\"\"");
}

TEST(FieldUnquoteDeathTest, Limit) {
    std::string v8191 = "\"" + std::string(8191, 'u') + "\"";
    EXPECT_EQ(strlen(csv_field_unquote(v8191.c_str(), 1)), 8191u);
    std::string v8192 = "\"" + std::string(8192, 'u') + "\"";
    EXPECT_EXIT(csv_field_unquote(v8192.c_str(), 1), ::testing::ExitedWithCode(1),
                "MAX_FIELD_LENGTH \\(8192\\)");
    EXPECT_EXIT(csv_field_unquote(std::string(8192, 'u').c_str(), 1),
                ::testing::ExitedWithCode(1), "MAX_FIELD_LENGTH");
    // Markers make the value longer than the field.
    std::string lfs = "\"" + std::string(2048, '\n') + "\"";
    EXPECT_EXIT(csv_field_unquote_and_replace_embeds(lfs.c_str(), 1),
                ::testing::ExitedWithCode(1), "MAX_FIELD_LENGTH");
    // In place has no limit.
    std::string big = "\"" + std::string(20000, 'u') + "\"";
    EXPECT_EQ(csv_field_unquote_inplace(big.data(), 1), 1);
    EXPECT_EQ(strlen(big.c_str()), 20000u);
}

// The rewrites against a byte-at-a-time model, over random quoted fields of the bytes that
// matter, on both sides of the 64 bytes where the quote rule changes its loop. Fields hold
// quotes that are not doubled too, which the library's unquoting keeps.
TEST(FieldRewrite, AgreesWithByteModel) {
    auto shown = [](const std::string &s, bool embeds) {
        std::string out;
        for (char c : s)
            out += !embeds     ? std::string(1, c)
                   : c == '\r' ? "<CR>"
                   : c == '\n' ? "<LF>"
                               : std::string(1, c);
        return out;
    };
    std::mt19937 rng(20261208);
    const char alphabet[] = {'a', ',', ';', '"', '\r', '\n'};
    char buf[MAX_FIELD_LENGTH];
    for (int round = 0; round < 20000; round++) {
        std::string inner;
        for (int i = (int)(rng() % 90); i > 0; i--)
            inner += alphabet[rng() % sizeof alphabet];
        std::string field = "\"" + inner + "\"";
        std::string value;
        for (size_t i = 0; i < inner.size(); i++) {
            value += inner[i];
            if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') i++;
        }
        for (char sep : {',', ';'}) {
            for (bool embeds : {false, true}) {
                SCOPED_TRACE(testing::PrintToString(field) + " sep " + sep + " embeds " +
                             std::to_string(embeds));
                bool removable = inner.find('"') == std::string::npos &&
                                 inner.find(sep) == std::string::npos &&
                                 (embeds || inner.find_first_of("\r\n") == std::string::npos);
                field_rewrite rw{.buf = buf, .sep = sep};
                int len;
                const char *t = embeds ? rw.clean<true>(field.data(), (int)field.size(), &len)
                                       : rw.clean<false>(field.data(), (int)field.size(), &len);
                EXPECT_EQ(std::string(t, len), shown(removable ? inner : field, embeds));
                EXPECT_EQ(rw.cleaned, removable);
                t = embeds ? rw.value<true>(field.data(), (int)field.size(), &len)
                           : rw.value<false>(field.data(), (int)field.size(), &len);
                EXPECT_EQ(std::string(t, len), shown(value, embeds));
            }
        }
        // In place, the value is written over the field it is read from.
        std::string copy = field;
        csv_field_unquote_inplace(copy.data(), 0);
        EXPECT_EQ(copy.c_str(), value);
        // By length, with a NUL byte inside as data.
        std::string nul = "\"\0"s + inner + "\"";
        nul.resize((size_t)csv_field_value_inplace(nul.data(), (int)nul.size()));
        EXPECT_EQ(nul, "\0"s + value);
    }
}

TEST(QuotesRemovable, OneRuleForEveryCleaner) {
    struct Case {
        std::string inner;
        char sep;
        bool embeds_visible;
        bool removable;
    } cases[] = {
        {"plain", ',', false, true},     {"", ',', false, true},
        {"a,b", ',', false, false},      {"a,b", ';', false, true},
        {"a;b", ';', false, false},      {"say \"\"hi\"\"", ',', false, false},
        {"two\nlines", ',', false, false}, {"two\nlines", ',', true, true},
        {"cr\rhere", ',', false, false}, {"cr\rhere", ',', true, true},
        {"nul\0,after"s, ',', false, false}, {"nul\0byte"s, ',', false, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(quotes_removable(c.inner.data(), (int)c.inner.size(), c.sep, c.embeds_visible),
                  c.removable)
            << c.inner << " sep " << c.sep;
}

} // namespace
