#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-show");

struct Show : ::testing::Test {
    TempDir dir;
    std::string people = dir.file("people.csv", "id,name\n7,Ann\n8,\"Bob\nJr\",x\n9\n\n10,\"\"\n");
};

TEST_F(Show, OneFieldPerLine) {
    EXPECT_RUN(run_tool("zelk-show", {"2", people}), 0, "1: '7'\n2: 'Ann'\n", "");
    // Quoted fields keep their quotes; a line break inside one is shown as it is.
    EXPECT_RUN(run_tool("zelk-show", {"3", people}), 0, "1: '8'\n2: '\"Bob\nJr\"'\n3: 'x'\n", "");
    EXPECT_RUN(run_tool("zelk-show", {"1"}, "a,b,c,d,e,f,g,h,i,j\n"), 0,
               " 1: 'a'\n 2: 'b'\n 3: 'c'\n 4: 'd'\n 5: 'e'\n 6: 'f'\n 7: 'g'\n 8: 'h'\n"
               " 9: 'i'\n10: 'j'\n",
               "");
    EXPECT_RUN(run_tool("zelk-show", {"2"}, "h\na\0b,c\n"s), 0, "1: 'a\0b'\n2: 'c'\n"s, "");
}

TEST_F(Show, HeaderLabels) {
    EXPECT_RUN(run_tool("zelk-show", {"-h", "2", people}), 0, "1: id:   '7'\n2: name: 'Ann'\n",
               "");
    EXPECT_RUN(run_tool("zelk-show", {"-h", "3", people}), 0,
               "1: id:      '8'\n2: name:    '\"Bob\nJr\"'\n3: [EXTRA]: 'x'\n", "");
    EXPECT_RUN(run_tool("zelk-show", {"-h", "4", people}), 0, "1: id:   '9'\n2: name: [MISSING]\n",
               "");
    // Names longer than "[EXTRA]" set the width, and it pads to them.
    EXPECT_RUN(run_tool("zelk-show", {"-h", "2"}, "long_name8,b\n1,2,3\n"), 0,
               "1: long_name8: '1'\n2: b:          '2'\n3: [EXTRA]:    '3'\n", "");
    EXPECT_RUN(run_tool("zelk-show", {"-h", "2"}, "abcdefgh,b\n1,2,3\n"), 0,
               "1: abcdefgh: '1'\n2: b:        '2'\n3: [EXTRA]:  '3'\n", "");
    // A blank header has no names: every field is extra.
    EXPECT_RUN(run_tool("zelk-show", {"-h", "2"}, "\n1,2\n"), 0,
               "1: [EXTRA]: '1'\n2: [EXTRA]: '2'\n", "");
}

TEST_F(Show, SeveralRecords) {
    EXPECT_RUN(run_tool("zelk-show", {"-n3", "4", people}), 0,
               "Record #4:\n1: '9'\n\nRecord #5 is blank\n\nRecord #6:\n1: '10'\n2: '\"\"'\n", "");
    EXPECT_RUN(run_tool("zelk-show", {"-n", "5", "5", people}), 1,
               "Record #5 is blank\n\nRecord #6:\n1: '10'\n2: '\"\"'\n\n",
               "zelk-show: Warning: less than NUM (5) records after FIRST_RECORD (5) in CSVFILE '" +
                   people + "'\n");
}

TEST_F(Show, LastRecord) {
    EXPECT_RUN(run_tool("zelk-show", {"-h", "L", people}), 0,
               "Record #6:\n1: id:   '10'\n2: name: '\"\"'\n", "");
    EXPECT_RUN(run_tool("zelk-show", {"L"}, "only,one\n"), 0, "Record #1:\n1: 'only'\n2: 'one'\n",
               "");
    EXPECT_RUN(run_tool("zelk-show", {"-h", "L"}, "only,one\n"), 0, "", "");
    EXPECT_RUN(run_tool("zelk-show", {"L"}, "a\n\n"), 1, "",
               "zelk-show: Warning: last record is empty\n");
    EXPECT_RUN(run_tool("zelk-show", {"L"}, ""), 1, "",
               "zelk-show: Warning: CSVFILE 'standard input' is empty\n");
}

TEST_F(Show, LastRecordThatCannotBeSplit) {
    // More fields than a record may be split into, and a NUL byte: each refused by number.
    std::string wide = "h\n" + std::string(512, ',') + "\n";
    EXPECT_RUN(run_tool("zelk-show", {"L"}, wide), 1, "",
               "zelk-show: ERROR: record #2: number of fields exceeded MAX_FIELDS (512)\n"
               "zelk-show: file:  'standard input'\n");
    EXPECT_RUN(run_tool("zelk-show", {"L"}, "h\na\0b\n"s), 1, "",
               "zelk-show: ERROR: record #2 holds a NUL byte and cannot be split into fields\n"
               "zelk-show: file:  'standard input'\n");
    // The same record shown through the range is refused by the reader alike.
    EXPECT_RUN(run_tool("zelk-show", {"2"}, wide), 1, "",
               "zelk-show: ERROR: record #2: number of fields exceeded MAX_FIELDS (512)\n"
               "zelk-show: file:  'standard input'\n");
}

TEST_F(Show, ShortFilesAndErrors) {
    EXPECT_RUN(run_tool("zelk-show", {"9", people}), 1, "",
               "zelk-show: ERROR: less than FIRST_RECORD (9) records in CSVFILE '" + people +
                   "'\n");
    EXPECT_RUN(run_tool("zelk-show", {"7", people}), 1, "",
               "zelk-show: ERROR: less than FIRST_RECORD (7) records in CSVFILE '" + people +
                   "'\n");
    EXPECT_RUN(run_tool("zelk-show", {"1"}, ""), 1, "",
               "zelk-show: Warning: CSVFILE 'standard input' is empty\n");
    EXPECT_RUN(run_tool("zelk-show", {"-h", "2"}, ""), 1, "",
               "zelk-show: Warning: CSVFILE 'standard input' is empty\n");
    // A CSV error while skipping is reported by the reader alone.
    EXPECT_RUN(run_tool("zelk-show", {"3"}, "a\"b\nc\nd\n"), 1, "",
               "zelk-show: ERROR: record #1, field #1: double-quote in unquoted field\n"
               "zelk-show: file:  'standard input'\n");
    EXPECT_RUN(run_tool("zelk-show", {"-h", "5"}, "h\n1\n\"open\n"), 1, "",
               "zelk-show: ERROR: record #3, field #1: quoted field not closed by double quote\n"
               "zelk-show: file:  'standard input'\n");
    EXPECT_RUN(run_tool("zelk-show", {"-n2", "2"}, "h\n1\n2,\"x\"y\n"), 1, "Record #2:\n1: '1'\n\n",
               "zelk-show: ERROR: record #3, field #2: unescaped double quote char in quoted "
               "field\nzelk-show: file:  'standard input'\n");
}

TEST_F(Show, SeveralFilesWithBanners) {
    std::string b = dir.file("b.csv", "k\nv\n");
    std::string missing = dir.join("missing.csv");
    EXPECT_RUN(run_tool("zelk-show", {"-h", "2", people, b, missing, people}), 1,
               "1: id:   '7'\n2: name: 'Ann'\n\n==> " + b + " <==\n1: k: 'v'\n\n==> " + people +
                   " <==\n1: id:   '7'\n2: name: 'Ann'\n",
               "zelk-show: ERROR: failed opening CSVFILE '" + missing +
                   "': No such file or directory\n");
}

TEST_F(Show, UsageAndArgumentErrors) {
    EXPECT_RUN(run_tool("zelk-show", {}), 1, "", USAGE);
    EXPECT_RUN(run_tool("zelk-show", {"-n3", "L"}), 1, "",
               "zelk-show: Error: FIRST_RECORD of 'L' not compatible with -nNUM > 1!\n");
    EXPECT_RUN(run_tool("zelk-show", {"-n1", "L"}, "a\n"), 0, "Record #1:\n1: 'a'\n", "");
    EXPECT_RUN(run_tool("zelk-show", {"-h", "1"}), 1, "",
               "zelk-show: Error: -h option not compatible with FIRST_RECORD of '1'!\n");
    EXPECT_RUN(run_tool("zelk-show", {"-nx", "2"}), 1, "",
               "zelk-show: Invalid value for -nNUM: x (does not represent an integer)\n");
    EXPECT_RUN(run_tool("zelk-show", {"-5"}), 1, "",
               "zelk-show: invalid option -- '5'\nTry 'zelk-show --help' for more information.\n");
}

} // namespace
