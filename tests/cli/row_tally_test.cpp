#include <algorithm>

#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-row-tally");

struct RowTally : ::testing::Test {
    TempDir dir;
    // Four records in five lines: a quoted field spans two lines, and a blank line counts.
    std::string a = dir.file("a.csv", "id,text\n1,\"two\nlines\"\n\n2,x\n");
    std::string b = dir.file("b.csv", "h\r\n1\r\n");
};

const std::string RT = "zelk-row-tally: ";

TEST_F(RowTally, Runs) {
    // An empty file: no header to leave out, so the count cannot go below zero.
    std::string e = dir.file("e.csv", "");
    std::string bad = dir.file("bad.csv", "h\nok\nx\"y\nmore\n");
    std::string missing = dir.join("missing.csv");
    // The counter stores nothing, so a record beyond the storing readers' limit still counts.
    std::string big = dir.file("big.csv", "h\n" + std::string(70000, 'x') + "\n1\n");
    // Records over several buffers, runs with CR LF ends and quoted line breaks, then a fault.
    std::string runs_text = "h\n";
    for (int i = 0; i < 20000; i++)
        runs_text += i % 2000 < 300 ? "1,\"a\"\"b\"\r\n" : "1,\"a\nb\",\"\"\n";
    std::string runs_file = dir.file("runs.csv", runs_text);
    std::string runs_bad = dir.file("runs-bad.csv", runs_text + "x\"y\n");
    std::string runs_place =
        "line " + std::to_string(std::count(runs_text.begin(), runs_text.end(), '\n') + 1) +
        ", byte " + std::to_string(runs_text.size() + 2);
    const std::vector<RunCase> runs = {
        // Records are counted, not lines.
        {argv(a, b), "", "      4:" + a + "\n      2:" + b + "\n"},
        {argv("-v", a, b), "", "4\n2\n"},
        {argv("-hv", a, b), "", "3\n1\n"},
        {argv(), "h\n\"a\r\nb\",c\n", "      2:standard input\n"},
        // A UTF-8 byte order mark before a quoted first field, as quote-everything exports write.
        {argv("-v"), "\xEF\xBB\xBF\"id\",\"v\"\n\"1\",\"2\"\n", "2\n"},
        // An unterminated last record counts.
        {argv("-v"), "h\n1\n2", "3\n",
         RT + "Warning: final record not terminated: file 'standard input'\n"},
        {argv("-h", e, b), "", "      0:" + e + "\n      1:" + b + "\n"},
        {argv("-v", e), "", "0\n"},
        {argv("-v", big), "", "3\n"},
        {argv("-v", runs_file, runs_bad), "", "20001\n",
         read_error("zelk-row-tally", "record #20002, field #1: double-quote in unquoted field",
                    runs_bad, runs_place),
         1},
        // Bad files get no count and fail the run.
        {argv("-v", bad, missing, b), "", "2\n",
         read_error("zelk-row-tally", "record #3, field #1: double-quote in unquoted field", bad,
                    "line 3, byte 7") +
             RT + "ERROR: failed opening CSVFILE '" + missing + "': No such file or directory\n",
         1},
        // On several cores each file is counted afresh, after a bad one too.
        {argv("-j3", "-v", a, bad, b), "", "4\n2\n",
         read_error("zelk-row-tally", "record #3, field #1: double-quote in unquoted field", bad,
                    "line 3, byte 7"),
         1},
        {argv("-o", a), "", "",
         RT + "invalid option -- 'o'\nTry 'zelk-row-tally --help' for more information.\n", 1},
    };
    expect_runs("zelk-row-tally", runs);
    EXPECT_RUN(run_tool("zelk-row-tally", {}, with_input("h\n\"open\n", true)), 1, "",
               read_error("zelk-row-tally",
                          "record #2, field #1: quoted field not closed by double quote"));
}

TEST_F(RowTally, OutputErrors) {
    RunOptions o;
    o.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool("zelk-row-tally", {a, b}, o), 1, "",
               "zelk-row-tally: Error: failed writing output to standard output: No space left "
               "on device\n");
}

} // namespace
