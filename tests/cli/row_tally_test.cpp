#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-row-tally");

struct RowTally : ::testing::Test {
    TempDir dir;
    // Four records in five lines: a quoted field spans two lines, and a blank line counts.
    std::string a = dir.file("a.csv", "id,text\n1,\"two\nlines\"\n\n2,x\n");
    std::string b = dir.file("b.csv", "h\r\n1\r\n");
};

TEST_F(RowTally, CountsRecordsNotLines) {
    EXPECT_RUN(run_tool("zelk-row-tally", {a, b}), 0, "      4:" + a + "\n      2:" + b + "\n",
               "");
    EXPECT_RUN(run_tool("zelk-row-tally", {"-v", a, b}), 0, "4\n2\n", "");
    EXPECT_RUN(run_tool("zelk-row-tally", {"-hv", a, b}), 0, "3\n1\n", "");
    EXPECT_RUN(run_tool("zelk-row-tally", {}, "h\n\"a\r\nb\",c\n"), 0, "      2:standard input\n",
               "");
    // A UTF-8 byte order mark before a quoted first field, as quote-everything exports write.
    EXPECT_RUN(run_tool("zelk-row-tally", {"-v"}, "\xEF\xBB\xBF\"id\",\"v\"\n\"1\",\"2\"\n"), 0,
               "2\n", "");
}

TEST_F(RowTally, UnterminatedLastRecordCounts) {
    EXPECT_RUN(run_tool("zelk-row-tally", {"-v"}, "h\n1\n2"), 0, "3\n",
               "zelk-row-tally: Warning: final record not terminated: file 'standard input'\n");
}

TEST_F(RowTally, EmptyFileWithHeaderOptionCountsZero) {
    // No header to leave out, so the count cannot go below zero.
    std::string e = dir.file("e.csv", "");
    EXPECT_RUN(run_tool("zelk-row-tally", {"-h", e, b}), 0, "      0:" + e + "\n      1:" + b + "\n",
               "");
    EXPECT_RUN(run_tool("zelk-row-tally", {"-v", e}), 0, "0\n", "");
}

TEST_F(RowTally, BadFilesGetNoCountAndFail) {
    std::string bad = dir.file("bad.csv", "h\nok\nx\"y\nmore\n");
    std::string missing = dir.join("missing.csv");
    EXPECT_RUN(run_tool("zelk-row-tally", {"-v", bad, missing, b}), 1, "2\n",
               "zelk-row-tally: ERROR: record #3, field #1: double-quote in unquoted field\n"
               "zelk-row-tally: file:  '" + bad + "'\n"
               "zelk-row-tally: ERROR: failed opening CSVFILE '" + missing +
                   "': No such file or directory\n");
    RunOptions o;
    o.input = "h\n\"open\n";
    o.input_pipe = true;
    EXPECT_RUN(run_tool("zelk-row-tally", {}, o), 1, "",
               "zelk-row-tally: ERROR: record #2, field #1: quoted field not closed by double "
               "quote\nzelk-row-tally: file:  'standard input'\n");
}

TEST_F(RowTally, LongRecordsAreCountedWhole) {
    // The counter stores nothing, so a record beyond the storing readers' limit still counts.
    std::string big = dir.file("big.csv", "h\n" + std::string(70000, 'x') + "\n1\n");
    EXPECT_RUN(run_tool("zelk-row-tally", {"-v", big}), 0, "3\n", "");
}

TEST_F(RowTally, UsageAndErrors) {
    EXPECT_RUN(run_tool("zelk-row-tally", {"-o", a}), 1, "",
               "zelk-row-tally: invalid option -- 'o'\n"
               "Try 'zelk-row-tally --help' for more information.\n");
    RunOptions o;
    o.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool("zelk-row-tally", {a, b}, o), 1, "",
               "zelk-row-tally: Error: failed writing output to standard output: No space left "
               "on device\n");
}

} // namespace
