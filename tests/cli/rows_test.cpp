#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-rows");

struct Rows : ::testing::Test {
    TempDir dir;
    std::string five = dir.file("five.csv", "h\n1\n\"2\nx\"\n3\n4\n");
    std::string blanks = dir.file("blanks.csv", "h\n1\n\n2\r\n\n");
};

TEST_F(Rows, RangeAndCount) {
    EXPECT_RUN(run_tool("zelk-rows", {"-h", "-n2", "2", five}), 0, "h\n1\n\"2\nx\"\n", "");
    EXPECT_RUN(run_tool("zelk-rows", {"-n", "1", "3", five}), 0, "\"2\nx\"\n", "");
    // The range runs to the end of the file: every record asked for is printed, status 0.
    EXPECT_RUN(run_tool("zelk-rows", {"4", five}), 0, "3\n4\n", "");
    EXPECT_RUN(run_tool("zelk-rows", {"1"}, "a\nb"), 0, "a\nb\n",
               "zelk-rows: Warning: final record not terminated: file 'standard input'\n");
    EXPECT_RUN(run_tool("zelk-rows", {"-t", "-n2", "1", five}), 0, "h\r\n1\r\n", "");
    EXPECT_RUN(run_tool("zelk-rows", {"-z", "3", five}), 0, "\"2\nx\"\0003\0004\0"s, "");
}

TEST_F(Rows, BlankRecordsInTheRange) {
    // Dropped blank records do not count towards NUM; with -b they are printed and count.
    EXPECT_RUN(run_tool("zelk-rows", {"-n2", "2", blanks}), 0, "1\n2\n", "");
    EXPECT_RUN(run_tool("zelk-rows", {"-b", "-n2", "2", blanks}), 0, "1\n\n", "");
    EXPECT_RUN(run_tool("zelk-rows", {"-v", "-b", "3", blanks}), 0, "3:\n4:2\n5:\n", "");
    // A range of blank records only is not a short file.
    EXPECT_RUN(run_tool("zelk-rows", {"5", blanks}), 0, "", "");
}

TEST_F(Rows, LastRecord) {
    EXPECT_RUN(run_tool("zelk-rows", {"L", five}), 0, "4\n", "");
    EXPECT_RUN(run_tool("zelk-rows", {"-v", "L"}, "a\nb\nc\n"), 0, "3:c\n", "");
    EXPECT_RUN(run_tool("zelk-rows", {"-h", "-n1", "L", five}), 0, "h\n4\n", "");
    // Blank records count here, whatever -b says.
    EXPECT_RUN(run_tool("zelk-rows", {"-v", "L", blanks}), 0, "5:\n", "");
    // A file of one record: its header is all there is.
    EXPECT_RUN(run_tool("zelk-rows", {"-h", "L"}, "only\n"), 0, "only\n", "");
    EXPECT_RUN(run_tool("zelk-rows", {"L"}, "only\n"), 0, "only\n", "");
    EXPECT_RUN(run_tool("zelk-rows", {"L"}, ""), 1, "",
               "zelk-rows: Warning: CSVFILE 'standard input' is empty\n");
    EXPECT_RUN(run_tool("zelk-rows", {"L"}, "a\nb\"\nc\n"), 1, "",
               "zelk-rows: ERROR: record #2, field #1: double-quote in unquoted field\n"
               "zelk-rows: file:  'standard input'\n");
}

TEST_F(Rows, ShortFiles) {
    EXPECT_RUN(run_tool("zelk-rows", {"7", five}), 1, "",
               "zelk-rows: ERROR: less than FIRST_RECORD (7) records in CSVFILE '" + five + "'\n");
    // The skip ends exactly at the end of the file: the read of the range finds nothing.
    EXPECT_RUN(run_tool("zelk-rows", {"6", five}), 1, "",
               "zelk-rows: ERROR: less than FIRST_RECORD (6) records in CSVFILE '" + five + "'\n");
    EXPECT_RUN(run_tool("zelk-rows", {"-n5", "4", five}), 1, "3\n4\n",
               "zelk-rows: Warning: less than NUM (5) records after FIRST_RECORD (4) in CSVFILE '" +
                   five + "'\n");
    std::string e = dir.file("e.csv", "");
    for (const char *first : {"1", "3"})
        EXPECT_RUN(run_tool("zelk-rows", {first, e}), 1, "",
                   "zelk-rows: Warning: CSVFILE '" + e + "' is empty\n");
    EXPECT_RUN(run_tool("zelk-rows", {"-h", "2", e}), 1, "",
               "zelk-rows: Warning: CSVFILE '" + e + "' is empty\n");
}

TEST_F(Rows, ErrorWhileSkippingHasOneMessage) {
    // The reader's message stands alone: no "empty" or "less than" after it.
    EXPECT_RUN(run_tool("zelk-rows", {"3"}, "a\"b\nc\nd\n"), 1, "",
               "zelk-rows: ERROR: record #1, field #1: double-quote in unquoted field\n"
               "zelk-rows: file:  'standard input'\n");
    EXPECT_RUN(run_tool("zelk-rows", {"4"}, "h\n1\n\"open\n"), 1, "",
               "zelk-rows: ERROR: record #3, field #1: quoted field not closed by double quote\n"
               "zelk-rows: file:  'standard input'\n");
    // An error inside the range ends that file after the records before it.
    EXPECT_RUN(run_tool("zelk-rows", {"2"}, "h\n1\n2\r3\n4\n"), 1, "1\n",
               "zelk-rows: ERROR: record #3: carriage return not in quoted field\n"
               "zelk-rows: file:  'standard input'\n");
}

TEST_F(Rows, SeveralFiles) {
    std::string two = dir.file("two.csv", "h\nonly\n");
    std::string missing = dir.join("missing.csv");
    EXPECT_RUN(run_tool("zelk-rows", {"-v", "-h", "-n1", "3", five, missing, two}), 1,
               five + ":1:h\n" + five + ":3:\"2\nx\"\n" + two + ":1:h\n",
               "zelk-rows: ERROR: failed opening CSVFILE '" + missing +
                   "': No such file or directory\n"
                   "zelk-rows: ERROR: less than FIRST_RECORD (3) records in CSVFILE '" + two +
                   "'\n");
    EXPECT_RUN(run_tool("zelk-rows", {"L", five, two}), 0, "4\nonly\n", "");
}

TEST_F(Rows, NulBytesAreCopied) {
    EXPECT_RUN(run_tool("zelk-rows", {"2"}, "h\na\0b,c\n"s), 0, "a\0b,c\n"s, "");
    EXPECT_RUN(run_tool("zelk-rows", {"L"}, "h\na\0b,c\n"s), 0, "a\0b,c\n"s, "");
}

TEST_F(Rows, UsageAndArgumentErrors) {
    EXPECT_RUN(run_tool("zelk-rows", {}), 1, "", USAGE);
    EXPECT_RUN(run_tool("zelk-rows", {"-n2", "L", five}), 1, "",
               "zelk-rows: Error: FIRST_RECORD of 'L' not compatible with -nNUM > 1!\n");
    EXPECT_RUN(run_tool("zelk-rows", {"-h", "1", five}), 1, "",
               "zelk-rows: Error: -h option not compatible with FIRST_RECORD of '1'!\n");
    EXPECT_RUN(run_tool("zelk-rows", {"0", five}), 1, "",
               "zelk-rows: Invalid value for FIRST_RECORD: 0 (must be >= 1)\n");
    EXPECT_RUN(run_tool("zelk-rows", {"l", five}), 1, "",
               "zelk-rows: Invalid value for FIRST_RECORD: l (does not represent an integer)\n");
    EXPECT_RUN(run_tool("zelk-rows", {"-n0", "2", five}), 1, "",
               "zelk-rows: Invalid value for -nNUM: 0 (must be >= 1)\n");
    EXPECT_RUN(run_tool("zelk-rows", {"-z", "-t", "2", five}), 1, "",
               "zelk-rows: Error: -t and -z options not compatible!\n");
    EXPECT_RUN(run_tool("zelk-rows", {"-o", "2"}), 1, "",
               "zelk-rows: invalid option -- 'o'\nTry 'zelk-rows --help' for more information.\n");
}

} // namespace
