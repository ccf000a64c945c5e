// The front end's helpers: integer operands, header field names and input buffers.
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

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

TEST(Fieldname2fieldnum, FirstFieldThatHoldsTheName) {
    Header h("id,name,\"q\",name");
    EXPECT_EQ(fieldname2fieldnum("name", h.n, h.fields), 2);
    EXPECT_EQ(fieldname2fieldnum("id", h.n, h.fields), 1);
    EXPECT_EQ(fieldname2fieldnum("\"q\"", h.n, h.fields), 3);
    Header d("a,a,b");
    EXPECT_EQ(fieldname2fieldnum("a", d.n, d.fields), 1);
    Header prefix("nam,name");
    EXPECT_EQ(fieldname2fieldnum("nam", prefix.n, prefix.fields), 1);
}

// A name is a field's bytes first, then its value: unquoted, and in field 1 without a BOM.
TEST(HeaderFieldLookup, BytesBeforeValues) {
    struct {
        const char *header;
        const char *name;
        int field;
    } cases[] = {
        {"\"id\",id", "id", 2},                 // the bytes win over the value
        {"\"id\",id", "\"id\"", 1},
        {"\"a\",x,\"a\"", "a", 1},             // the first field of several
        {"a,x,\"a\"", "a", 1},
        {"x,a,a", "a", 2},
        {"\"a\"\"b\",c", "a\"b", 1},           // doubled quotes made single
        {"\"a\"\"b\",c", "a\"\"b", 0},
        {"\"\",x", "", 1},                     // an empty quoted name
        {"\xEF\xBB\xBFid,x", "id", 1},          // a BOM in field 1 is not typed
        {"\xEF\xBB\xBFid,x", "\xEF\xBB\xBFid", 1},
        {"\xEF\xBB\xBF\"id\",x", "id", 1},      // before a quoted field too
        {"x,\xEF\xBB\xBFid", "id", 0},          // nor looked past elsewhere
        {"\xEF\xBB\xBF", "", 1},
        {"first-name,\"x\"", "first-name", 1},
    };
    for (const auto &c : cases) {
        Header h(c.header);
        ASSERT_GT(h.n, 0) << c.header;
        const char *end = h.fields[h.n - 1] + strlen(h.fields[h.n - 1]);
        EXPECT_EQ(header_field_lookup(c.name, h.n, h.fields, end), c.field)
            << c.header << " / " << c.name;
    }
}

TEST(Fieldname2fieldnumDeathTest, NotFound) {
    Header h("id,\"q\",x");
    EXPECT_EXIT(fieldname2fieldnum("Q", h.n, h.fields), ::testing::ExitedWithCode(1),
                ": ERROR: FIELD name 'Q' not found in header\n$");
    EXPECT_EXIT(fieldname2fieldnum("i", h.n, h.fields), ::testing::ExitedWithCode(1),
                "not found in header");
    EXPECT_EXIT(fieldname2fieldnum("", 0, nullptr), ::testing::ExitedWithCode(1),
                "FIELD name '' not found in header");
}

// Inputs read at the same time each keep their own buffer, one more than there are buffers to
// lend included, and a closed input's buffer goes to the next one opened.
TEST(InputBuffers, EachOpenInputReadsItsOwnFile) {
    const int n = 6;
    std::string paths[n], texts[n];
    FILE *fps[n];
    for (int round = 0; round < 2; round++) {
        for (int i = 0; i < n; i++) {
            char path[] = "/tmp/zelk_input_XXXXXX";
            int fd = mkstemp(path);
            ASSERT_GE(fd, 0);
            paths[i] = path;
            texts[i].clear();
            for (int k = 0; k < 20000; k++) texts[i] += std::to_string(i * 100000 + k) + "\n";
            ASSERT_EQ(write(fd, texts[i].data(), texts[i].size()), (ssize_t)texts[i].size());
            close(fd);
            fps[i] = open_csvfile(path);
            ASSERT_NE(fps[i], nullptr);
        }
        std::string got[n];
        for (bool more = true; more;) { // a line from each in turn
            more = false;
            for (int i = 0; i < n; i++) {
                char line[64];
                if (fgets(line, sizeof line, fps[i])) {
                    got[i] += line;
                    more = true;
                }
            }
        }
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(got[i], texts[i]) << "input " << i;
            EXPECT_EQ(close_input(fps[i]), 0);
            unlink(paths[i].c_str());
        }
    }
}

} // namespace
