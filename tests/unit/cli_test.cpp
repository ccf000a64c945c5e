// The front end's helpers: integer operands and header field names.
#include "cli.h"
#include "unit.h"

namespace {

TEST(Intstrconv, AcceptsWhatStrtolAccepts) {
    EXPECT_EQ(intstrconv("7", "FIELD"), 7);
    EXPECT_EQ(intstrconv(" 7", "FIELD"), 7);
    EXPECT_EQ(intstrconv("+7", "FIELD"), 7);
    EXPECT_EQ(intstrconv("0", "N", 0), 0);
    EXPECT_EQ(intstrconv("9", "N", 1, 9), 9);
}

TEST(IntstrconvDeathTest, ReasonsInOrder) {
    auto one = ::testing::ExitedWithCode(1);
    EXPECT_EXIT(intstrconv("0", "FIELD"), one, ": Invalid value for FIELD: 0 \\(must be >= 1\\)\n$");
    EXPECT_EXIT(intstrconv("-3", "FIELD"), one, "Invalid value for FIELD: -3 \\(must be >= 1\\)");
    EXPECT_EXIT(intstrconv("x", "FIELD"), one,
                "Invalid value for FIELD: x \\(does not represent an integer\\)");
    EXPECT_EXIT(intstrconv("", "FIELD"), one, "\\(does not represent an integer\\)");
    EXPECT_EXIT(intstrconv("3x", "RECORD"), one, "Invalid value for RECORD: 3x \\(includes non-digits\\)");
    EXPECT_EXIT(intstrconv("99999999999999999999", "FIELD"), one,
                "Invalid value for FIELD: 99999999999999999999 \\(invalid/out-of-range\\)");
    // Outside int but inside long: out of range rather than a wrapped value.
    EXPECT_EXIT(intstrconv("4294967297", "FIELD"), one, "\\(invalid/out-of-range\\)");
    EXPECT_EXIT(intstrconv("10", "N", 1, 9), one, "Invalid value for N: 10 \\(must be <= 9\\)");
    // An out-of-range value with trailing letters reports the range first.
    EXPECT_EXIT(intstrconv("99999999999999999999x", "FIELD"), one, "invalid/out-of-range");
}

struct Header {
    std::string text;
    char **fields;
    int n;
    explicit Header(const std::string &t) : text(t) {
        char error;
        n = csv_record_string_parse(text.data(), 1, 1, &fields, &error, 0);
    }
};

TEST(Fieldname2fieldnum, LastFieldFirstThenInOrder) {
    Header h("id,name,\"q\",name");
    EXPECT_EQ(fieldname2fieldnum("name", h.n, h.fields), 4);
    EXPECT_EQ(fieldname2fieldnum("id", h.n, h.fields), 1);
    EXPECT_EQ(fieldname2fieldnum("\"q\"", h.n, h.fields), 3);
    Header d("a,a,b");
    EXPECT_EQ(fieldname2fieldnum("a", d.n, d.fields), 1);
    Header prefix("nam,name");
    EXPECT_EQ(fieldname2fieldnum("nam", prefix.n, prefix.fields), 1);
}

TEST(Fieldname2fieldnumDeathTest, NotFound) {
    Header h("id,\"q\",x");
    EXPECT_EXIT(fieldname2fieldnum("q", h.n, h.fields), ::testing::ExitedWithCode(1),
                ": ERROR: FIELD name 'q' not found in header\n$");
    EXPECT_EXIT(fieldname2fieldnum("i", h.n, h.fields), ::testing::ExitedWithCode(1),
                "not found in header");
    EXPECT_EXIT(fieldname2fieldnum("", 0, nullptr), ::testing::ExitedWithCode(1),
                "FIELD name '' not found in header");
}

} // namespace
