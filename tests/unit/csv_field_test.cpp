// Quoting, unquoting and cleaning single fields.
#include <cstring>
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

TEST(FieldUnquote, Values) {
    EXPECT_STREQ(csv_field_unquote("\"a\"\"b\"", 1), "a\"b");
    EXPECT_STREQ(csv_field_unquote("\"\"", 1), "");
    EXPECT_STREQ(csv_field_unquote("\"", 1), "");
    EXPECT_STREQ(csv_field_unquote("plain", 1), "plain");
    EXPECT_STREQ(csv_field_unquote("", 1), "");
    EXPECT_STREQ(csv_field_unquote("\"a\"b\"", 1), "a\"b"); // a lone inner quote is kept
    EXPECT_STREQ(csv_field_unquote("\"\"\"\"", 1), "\"");
    EXPECT_STREQ(csv_field_unquote("\"1\r\n2\"", 1), "1\r\n2");
}

TEST(FieldUnquote, InvalidQuoting) {
    StderrCapture cap;
    EXPECT_EQ(csv_field_unquote("\"open", 1), nullptr);
    EXPECT_EQ(csv_field_unquote("close\"", 0), nullptr);
    EXPECT_EQ(csv_field_unquote_and_replace_embeds("x\"", 1), nullptr);
    EXPECT_EQ(cap.take(), "t: ERROR: invalid field quoting:\n  \"open\n"
                          "t: ERROR: invalid field quoting:\n  x\"\n");
}

TEST(FieldUnquote, InPlace) {
    char q[] = "\"a,\"\"b\"";
    EXPECT_EQ(csv_field_unquote_inplace(q, 1), 1);
    EXPECT_STREQ(q, "a,\"b");
    char u[] = "abc";
    EXPECT_EQ(csv_field_unquote_inplace(u, 1), 0);
    EXPECT_STREQ(u, "abc");
    char e[] = "";
    EXPECT_EQ(csv_field_unquote_inplace(e, 1), 0);
    StderrCapture cap;
    char bad[] = "\"ab";
    EXPECT_EQ(csv_field_unquote_inplace(bad, 0), -1);
    EXPECT_STREQ(bad, "\"ab");
    EXPECT_EQ(cap.take(), "");
}

TEST(FieldUnquote, Embeds) {
    EXPECT_STREQ(csv_field_unquote_and_replace_embeds("\"a\nb\r\nc\"", 1), "a<LF>b<CR><LF>c");
    EXPECT_STREQ(csv_field_unquote_and_replace_embeds("\"x\"\"y\"", 1), "x\"y");
    EXPECT_STREQ(csv_field_unquote_and_replace_embeds("plain", 1), "plain");
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

TEST(FieldClean, RemovesOnlyUnneededQuotes) {
    EXPECT_STREQ(csv_field_clean("\"abc\"", 1), "abc");
    EXPECT_STREQ(csv_field_clean("\"a,b\"", 1), "\"a,b\"");
    EXPECT_STREQ(csv_field_clean("\"a\nb\"", 1), "\"a\nb\"");
    EXPECT_STREQ(csv_field_clean("\"a\"\"b\"", 1), "\"a\"\"b\"");
    EXPECT_STREQ(csv_field_clean("\"\"", 1), "");
    EXPECT_STREQ(csv_field_clean("\"", 1), "");
    EXPECT_STREQ(csv_field_clean("plain", 1), "plain");
    EXPECT_STREQ(csv_field_clean("", 1), "");
}

TEST(FieldClean, InPlace) {
    char a[] = "\"abc\"";
    EXPECT_EQ(csv_field_clean_inplace(a, 1), 1);
    EXPECT_STREQ(a, "abc");
    char b[] = "\"a,b\"";
    EXPECT_EQ(csv_field_clean_inplace(b, 1), 0);
    EXPECT_STREQ(b, "\"a,b\"");
    char c[] = "\"\"";
    EXPECT_EQ(csv_field_clean_inplace(c, 1), 1);
    EXPECT_STREQ(c, "");
    char e[] = "";
    EXPECT_EQ(csv_field_clean_inplace(e, 1), 0);
    StderrCapture cap;
    char bad[] = "abc\"";
    EXPECT_EQ(csv_field_clean_inplace(bad, 1), -1);
    EXPECT_STREQ(bad, "abc\"");
    EXPECT_EQ(cap.take(), "t: ERROR: invalid field quoting: abc\"\n");
}

TEST(FieldClean, Embeds) {
    EXPECT_STREQ(csv_field_clean_and_replace_embeds("\"a\nb\"", 1), "a<LF>b");
    EXPECT_STREQ(csv_field_clean_and_replace_embeds("\"a,\r\nb\"", 1), "\"a,<CR><LF>b\"");
    EXPECT_STREQ(csv_field_clean_and_replace_embeds("\"x\"\"\ny\"", 1), "\"x\"\"<LF>y\"");
    EXPECT_STREQ(csv_field_clean_and_replace_embeds("\"\"", 1), "");
    EXPECT_STREQ(csv_field_clean_and_replace_embeds("un\nquoted", 1), "un\nquoted");
    StderrCapture cap;
    EXPECT_EQ(csv_field_clean_and_replace_embeds("\"x", 1), nullptr);
    EXPECT_EQ(cap.take(), "t: ERROR: invalid field quoting:\n  \"x\n");
}

// A byte order mark before a quoted field (an input's first field) stays in front of what
// unquoting and cleaning make of the quoted field; quoting takes the field as a value.
TEST(FieldUnquoteAndClean, ByteOrderMarkStaysInFront) {
    const std::string M = "\xEF\xBB\xBF";
    const struct {
        std::string field, unquoted, cleaned, embeds; // embeds: cleaned with markers
    } cases[] = {
        {M + "\"id\"", M + "id", M + "id", M + "id"},
        {M + "\"a,\"\"b\"", M + "a,\"b", M + "\"a,\"\"b\"", M + "\"a,\"\"b\""},
        {M + "\"a\nb\"", M + "a\nb", M + "\"a\nb\"", M + "a<LF>b"},
        {M + "\"\"", M, M, M},
        {M + "id", M + "id", M + "id", M + "id"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.field));
        EXPECT_EQ(csv_field_unquote(c.field.c_str(), 1), c.unquoted);
        EXPECT_EQ(csv_field_clean(c.field.c_str(), 1), c.cleaned);
        EXPECT_EQ(csv_field_clean_and_replace_embeds(c.field.c_str(), 1), c.embeds);
        std::string u = c.field, k = c.field;
        EXPECT_EQ(csv_field_unquote_inplace(u.data(), 1), c.field != c.unquoted);
        EXPECT_EQ(u.c_str(), c.unquoted);
        csv_field_clean_inplace(k.data(), 1);
        EXPECT_EQ(k.c_str(), c.cleaned);
    }
    EXPECT_EQ(csv_field_quote((M + "\"id\"").c_str()), "\"" + M + "\"\"id\"\"\"");
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
