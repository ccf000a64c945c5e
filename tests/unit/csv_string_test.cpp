// Parsing records held as strings, and fetching single fields.
#include <cstring>
#include <vector>

#include "unit.h"

namespace {

struct Parsed {
    int count;
    char error;
    std::vector<std::string> fields; // split form
    std::string buf;                 // the record string after the call
    std::string err;
};

Parsed split(std::string s, char verbose = 1, char blank = 0, int recnum = 9) {
    Parsed p;
    p.buf = s;
    p.buf.push_back('\0');
    StderrCapture cap;
    char **f = nullptr;
    p.count = csv_record_string_split(p.buf.data(), recnum, verbose, &f, &p.error, blank);
    for (int i = 0; f && i < p.count; i++) p.fields.emplace_back(f[i]);
    p.buf.pop_back();
    p.err = cap.take();
    return p;
}

TEST(StringParse, SplitsFields) {
    Parsed p = split("a,b,c");
    EXPECT_EQ(p.count, 3);
    EXPECT_EQ(p.fields, (std::vector<std::string>{"a", "b", "c"}));
    p = split("a,");
    EXPECT_EQ(p.fields, (std::vector<std::string>{"a", ""}));
    p = split("\"x,\ny\",\"\"\"q\"\"\"");
    EXPECT_EQ(p.fields, (std::vector<std::string>{"\"x,\ny\"", "\"\"\"q\"\"\""}));
    EXPECT_EQ(p.err, "");
}

TEST(StringParse, ParseKeepsCommas) {
    std::string s = "a,\"b,c\",d";
    char **f;
    char error;
    EXPECT_EQ(csv_record_string_parse(s.data(), 1, 1, &f, &error, 0), 3);
    EXPECT_EQ(s, "a,\"b,c\",d");
    EXPECT_EQ(f[1], s.data() + 2);
    EXPECT_STREQ(csv_record_parse_get_field(2, 3, f, 0), "\"b,c\"");
    EXPECT_STREQ(csv_record_parse_get_field(3, 3, f, 0), "d");
}

TEST(StringParse, EmptyStringGivesTheBlankFlag) {
    char **f = nullptr;
    char error;
    std::string s;
    EXPECT_EQ(csv_record_string_parse(s.data(), 1, 1, &f, &error, 0), 0);
    EXPECT_EQ(csv_record_string_parse(s.data(), 1, 1, &f, &error, 1), 1);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(error, 0);
}

TEST(StringParse, Terminators) {
    Parsed lf = split("\n");
    EXPECT_EQ(lf.count, 1);
    EXPECT_EQ(lf.fields, (std::vector<std::string>{""}));
    EXPECT_EQ(lf.buf, std::string(1, '\0'));
    Parsed crlf = split("\r\n");
    EXPECT_EQ(crlf.count, 1);
    EXPECT_EQ(crlf.buf, std::string(2, '\0'));

    Parsed cr = split("a,b\r");
    EXPECT_EQ(cr.fields, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(cr.err, "t: Warning: record #9: carriage-return at end of unterminated record, removing\n");
    EXPECT_EQ(split("a,b\r", 0).err, "");

    Parsed mid = split("a,b\nc,d");
    EXPECT_EQ(mid.fields, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(mid.err, "t: Warning: record #9: terminator(s) not at end of record string\n");
    EXPECT_EQ(split("a,b\n").err, "");
}

TEST(StringParse, SyntaxErrorsLeaveTheStringUnchanged) {
    struct Case {
        const char *in;
        const char *msg;
    } cases[] = {
        {"a,b\"c\n", "t: ERROR: record #9, field #2: double-quote in unquoted field\n"},
        {"\"a\"b", "t: ERROR: record #9, field #1: unescaped double quote char in quoted field\n"},
        {"a,\"open\n", "t: ERROR: record #9, field #2: quoted field not closed by double quote\n"},
        {"a\rb", "t: ERROR: record #9: carriage return not in quoted field\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        Parsed v = split(c.in);
        EXPECT_EQ(v.count, -1);
        EXPECT_EQ(v.error, 1);
        EXPECT_EQ(v.buf, c.in);
        EXPECT_EQ(v.err, c.msg);
        EXPECT_EQ(split(c.in, 0).err, "");
    }
}

TEST(StringParse, FieldLimit) {
    std::string s = "x";
    for (int i = 1; i < 512; i++) s += ",x";
    EXPECT_EQ(split(s).count, 512);
    EXPECT_EQ(split(s + "\n").count, 512);
    for (const std::string &tail : {",x"s, ","s, ",\n"s}) {
        Parsed p = split(s + tail);
        EXPECT_EQ(p.count, -1);
        EXPECT_EQ(p.error, 1);
        EXPECT_EQ(p.err, "t: ERROR: record #9: number of fields exceeded MAX_FIELDS (512)\n");
    }
    // No length limit applies to strings.
    EXPECT_EQ(split(std::string(70000, 'y')).count, 1);
}

// A byte order mark before a quoted first field is read only at the start of an input (record
// 1, and 0 for a stream shared by several runs), and the string parser, csv_fields_valid and
// the stream reader agree on where it is.
TEST(StringParse, ByteOrderMarkBeforeAQuotedFieldAsTheReaderTakesIt) {
    const std::string M = "\xEF\xBB\xBF";
    const struct {
        std::string in;
        std::vector<std::string> at_start; // the fields at the start of an input; {} refused
        bool elsewhere;                      // accepted after record 1
    } cases[] = {
        {M + "\"id\",v", {M + "\"id\"", "v"}, false},
        {M + "\"a,\"\"b\"", {M + "\"a,\"\"b\""}, false},
        {M + "\"\"", {M + "\"\""}, false},
        {M + "id,\"v\"", {M + "id", "\"v\""}, true}, // unquoted: data, as always
        {M, {M}, true},
        {M + ",x", {M, "x"}, true},
        {M.substr(0, 2) + "\"x\"", {}, false},  // a mark cut short
        {M + M + "\"x\"", {}, false},           // a second mark is data
        {M + "\"x\"y", {}, false},
        {M + "\"open", {}, false},
        {"x," + M + "\"y\"", {}, false},        // the first field only
        {M + " \"y\"", {}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        for (int recnum : {0, 1, 2}) {
            bool start = recnum <= 1;
            std::vector<std::string> want = start || c.elsewhere ? c.at_start
                                                                 : std::vector<std::string>{};
            Parsed p = split(c.in, 0, 0, recnum);
            EXPECT_EQ(p.count < 0 ? std::vector<std::string>{} : p.fields, want) << recnum;

            std::vector<std::string> read;
            {
                MemStream in(c.in);
                StderrCapture quiet;
                char **f;
                char error;
                int n = csv_record_read_and_split(in, "in", recnum, 0, &f, &error);
                for (int i = 0; i < n; i++) read.emplace_back(f[i]);
            }
            EXPECT_EQ(read, want) << recnum;

            if (recnum > 0) {
                EXPECT_EQ(csv_fields_valid(c.in.data(), c.in.size(), recnum == 1), !want.empty())
                    << recnum;
            }
        }
    }
}

TEST(StringGetField, Cases) {
    StderrCapture cap;
    char error;
    std::string s = "a,\"b,c\",d\n";
    EXPECT_STREQ(csv_record_string_get_field(s.data(), 1, 1, 2, &error, 0), "\"b,c\"");
    s = "a,b";
    EXPECT_STREQ(csv_record_string_get_field(s.data(), 1, 1, 2, &error, 0), "b");
    EXPECT_EQ(csv_record_string_get_field(s.data(), 1, 1, 3, &error, 0), nullptr);
    EXPECT_EQ(error, 0);
    std::string empty;
    EXPECT_STREQ(csv_record_string_get_field(empty.data(), 1, 1, 1, &error, 1), "");
    EXPECT_EQ(csv_record_string_get_field(empty.data(), 1, 1, 1, &error, 0), nullptr);
    s = "a\"";
    EXPECT_EQ(csv_record_string_get_field(s.data(), 1, 0, 1, &error, 0), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(cap.take(), "t: ERROR: field #3 invalid (record has only 2 fields)\n");
}

TEST(ParseGetField, Cases) {
    StderrCapture cap;
    std::string s = "a,b";
    char **f;
    char error;
    int n = csv_record_string_parse(s.data(), 1, 1, &f, &error, 0);
    EXPECT_EQ(csv_record_parse_get_field(3, n, f, 0), nullptr);
    EXPECT_STREQ(csv_record_parse_get_field(1, 0, f, 1), "");
    EXPECT_EQ(csv_record_parse_get_field(1, 0, f, 0), nullptr);
    EXPECT_EQ(cap.take(), "t: ERROR: field #3 invalid (record has only 2 fields)\n"
                          "t: ERROR: field #1 invalid (record has only 0 fields)\n");
}

TEST(StringGetFieldDeathTest, FieldLengthLimit) {
    std::string ok = "a," + std::string(8191, 'z');
    char error;
    EXPECT_EQ(strlen(csv_record_string_get_field(ok.data(), 1, 1, 2, &error, 0)), 8191u);
    std::string over = "a," + std::string(8192, 'z');
    EXPECT_EXIT(csv_record_string_get_field(over.data(), 1, 1, 2, &error, 0),
                ::testing::ExitedWithCode(1),
                "ERROR: record #1, field #2: field length exceeded MAX_FIELD_LENGTH \\(8192\\)");
    EXPECT_EXIT(
        {
            std::string s = std::string(8192, 'z') + ",b";
            char **f;
            int n = csv_record_string_parse(s.data(), 1, 1, &f, &error, 0);
            csv_record_parse_get_field(1, n, f, 0);
        },
        ::testing::ExitedWithCode(1), "MAX_FIELD_LENGTH");
}

} // namespace
