#include <algorithm>

#include "awk_helpers.h"
#include "harness.h"

namespace {

const char *ME = "zelk-match-expr";

struct MatchExpr : ::testing::Test {
    TempDir dir;
};

TEST_F(MatchExpr, SelectsByConditionOnOneField) {
    std::string f = dir.file("f.csv", "a,2,C\nb,30,D\n");
    EXPECT_RUN(run_tool(ME, {"-h", "2", "$0>10", f}), 0, "b,30,D\n", "");
    EXPECT_RUN(run_tool(ME, {"-h", "-v", "2", "$0>10", f}), 0, "a,2,C\n", "");
    // Empty and "0" are false; anything else awk prints, such as 0.0, is true.
    EXPECT_RUN(run_tool(ME, {"-h", "1", "$0"}, "\n0\n0.0\n00\n x\n"), 0, "0.0\n00\n x\n", "");
    EXPECT_RUN(run_tool(ME, {"-h", "2", "$0>100", f}), 1, "", "");
    EXPECT_RUN(run_tool(ME, {"2", "$0>1"}, ""), 1, "", "");
}

TEST_F(MatchExpr, QuotedFieldsReachAwkWhole) {
    std::string in = "k,v\n1,\"multi\nline, with comma\"\n2,plain\n";
    EXPECT_RUN(run_tool(ME, {"2", "index($0, \"\\n\") && index($0, \",\")"}, in), 0,
               "k,v\n1,\"multi\nline, with comma\"\n", "");
    // Quotes stay unless -u removes them (and undoubles the inner ones).
    std::string q = "k,v\n1,\"12\"\n2,\"a\"\"b\"\n";
    EXPECT_RUN(run_tool(ME, {"2", "$0 == 12"}, q), 1, "k,v\n", "");
    EXPECT_RUN(run_tool(ME, {"-u", "2", "$0 == 12"}, q), 0, "k,v\n1,\"12\"\n", "");
    EXPECT_RUN(run_tool(ME, {"-u", "2", "$0==\"a\\\"b\""}, q), 0, "k,v\n2,\"a\"\"b\"\n", "");
}

TEST_F(MatchExpr, HeaderOptions) {
    std::string in = "id,amount\n1,5\n2,50\n3,500\n";
    EXPECT_RUN(run_tool(ME, {"-o", "2", "$0>10"}, in), 0, "2,50\n3,500\n", "");
    EXPECT_RUN(run_tool(ME, {"-n", "2", "$0>10"}, in), 0, "1:id,amount\n3:2,50\n4:3,500\n", "");
    EXPECT_RUN(run_tool(ME, {"-Q", "amount", "$0<10"}, in), 0, "id,amount\n1,5\n", "");
    EXPECT_RUN(run_tool(ME, {"-Q", "nope", "$0<10"}, in), 1, "",
               "zelk-match-expr: ERROR: FIELD name 'nope' not found in header\n");
    EXPECT_RUN(run_tool(ME, {"-h", "-o", "1", "1"}, in), 1, "",
               "zelk-match-expr: Error: -h and -o options not compatible!\n");
    EXPECT_RUN(run_tool(ME, {"-Q", "-h", "1", "1"}, in), 1, "",
               "zelk-match-expr: Error: -h and -Q options not compatible!\n");
}

TEST_F(MatchExpr, BlankAndShortRecords) {
    std::string in = "h\n\nx\n\n";
    EXPECT_RUN(run_tool(ME, {"-1", "1", "$0==\"\""}, in), 0, "h\n\n\n", "");
    EXPECT_RUN(run_tool(ME, {"-b", "1", "$0==\"x\""}, in), 0, "h\n\nx\n\n", "");
    EXPECT_RUN(run_tool(ME, {"1", "1"}, in), 0, "h\nx\n", "");
    // -q writes nothing at all, not even passed-through blank records.
    EXPECT_RUN(run_tool(ME, {"-q", "-b", "1", "1"}, in), 0, "", "");
    EXPECT_RUN(run_tool(ME, {"-w", "2", "1"}, "h\na,b\nc\n"), 0, "h\na,b\n",
               "Warning: record #3 is missing FIELD\n");
    EXPECT_RUN(run_tool(ME, {"-b", "-1", "1", "1"}, in), 1, "",
               "zelk-match-expr: Error: -b and -1 options not compatible!\n");
}

TEST_F(MatchExpr, MatchLimitAndQuiet) {
    std::string in = "h\n1\n2\n3\n";
    EXPECT_RUN(run_tool(ME, {"-m", "2", "1", "$0>0"}, in), 0, "h\n1\n2\n", "");
    EXPECT_RUN(run_tool(ME, {"-q", "-m1", "1", "$0>0"}, in), 0, "", "");
    EXPECT_RUN(run_tool(ME, {"-q", "1", "$0>5"}, in), 1, "", "");
    EXPECT_RUN(run_tool(ME, {"-m", "0", "1", "1"}, in), 1, "",
               "zelk-match-expr: Invalid value for -mNUM: 0 (must be >= 1)\n");
}

TEST_F(MatchExpr, RecordsReadPastTheLimitAreNotReported) {
    // The records after the last match are read before its result comes back; what is wrong
    // with them says nothing about a run that ends at the limit. Before it, it is reported,
    // after the records before it.
    const std::string bad = "x\"y\n", unended = "7";
    struct Case {
        std::string tool;
        std::vector<std::string> args;
        std::string in, out, err;
        int status;
    } cases[] = {
        {ME, {"-h", "-m2", "1", "$0>0"}, "5\n0\n6\n7\n" + bad, "5\n6\n", "", 0},
        {ME, {"-h", "-m2", "1", "$0>0"}, "5\n0\n6\n" + unended, "5\n6\n", "", 0},
        {ME, {"-m1", "-w", "2", "1"}, "h\na,1\nb\n", "h\na,1\n", "", 0},
        {"zelk-match-rows", {"-h", "-m2", "$1>0"}, "5\n0\n6\n7\n" + bad, "5\n6\n", "", 0},
        {ME, {"-h", "-m2", "1", "$0>0"}, "5\n0\n" + bad + "6\n", "5\n",
         "zelk-match-expr: ERROR: record #3, field #1: double-quote in unquoted field\n"
         "zelk-match-expr: file:  'standard input'\n", 1},
        {ME, {"-h", "-m3", "1", "$0>0"}, "5\n0\n6\n" + unended, "5\n6\n7\n",
         "zelk-match-expr: Warning: final record not terminated: file 'standard input'\n", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tool + " " + c.args[1] + " on " + c.in);
        EXPECT_RUN(run_tool(c.tool, c.args, c.in), c.status, c.out, c.err);
    }
}

TEST_F(MatchExpr, LibrariesLoadInOrderBeforeTheCondition) {
    std::string l1 =
        dir.file("l1.awk", "BEGIN { seq = seq \"1\" }\nfunction twice(x) { return 2 * x }\n");
    std::string l2 = dir.file("l2.awk", "BEGIN { seq = seq \"2\" }\n");
    EXPECT_RUN(
        run_tool(ME, {"-l", l1, "-l" + l2, "1", "seq == \"12\" && twice($0) == 8"}, "h\n4\n5\n"), 0,
        "h\n4\n", "");
}

TEST_F(MatchExpr, AwkFailuresEndTheRun) {
    // awk's message shows the code as the user gave it, and nothing of the program around it.
    RunResult r = run_tool(ME, {"1", "$0 >"}, "h\n1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(": $0 >\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("__zelk"), std::string::npos) << r.err;
    // gawk ends with status 2 on an unreadable library.
    r = run_tool(ME, {"-l", dir.join("missing.awk"), "1", "1"}, "h\n1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("missing.awk"), std::string::npos) << r.err;
    // Code that ends awk half-way: awk's one message, after the results awk gave before it,
    // on every run alike.
    const std::pair<std::string, std::vector<std::string>> deaths[] = {
        {ME, {"1", "1/$0"}},
        {"zelk-match-rows", {"1/$1"}},
        {"zelk-script-column", {"-e", "{$0 = 1/$0}", "1"}},
    };
    for (const auto &[tool, args] : deaths) {
        SCOPED_TRACE(tool);
        RunResult first = run_tool(tool, args, "h\n5\n0\n6\n");
        EXPECT_EQ(first.status, 1);
        EXPECT_EQ(first.out, tool == "zelk-script-column" ? "h\n0.2\n" : "h\n5\n");
        EXPECT_EQ(std::count(first.err.begin(), first.err.end(), '\n'), 1) << first.err;
        EXPECT_NE(first.err.find("division by zero"), std::string::npos) << first.err;
        for (int run = 0; run < 20; run++) {
            RunResult again = run_tool(tool, args, "h\n5\n0\n6\n");
            EXPECT_RUN(again, first.status, first.out, first.err);
        }
    }
}

TEST_F(MatchExpr, LibraryRuleThatSkipsTheResultIsAnError) {
    // Without a result for record 3 both sides would wait for each other for ever.
    std::string lib = dir.file("skip.awk", "$0 == \"b\" { next }\n");
    EXPECT_RUN(run_tool(ME, {"-l", lib, "1", "1"}, "h\na\nb\nc\n"), 1, "h\na\n",
               "zelk-match-expr: ERROR: AWK gave no result for record #3: the code must not skip "
               "the final print (no next, no getline)\n");
}

TEST_F(MatchExpr, FramingBytesAreRefused) {
    std::string marker = dir.join("marker-me.awk");
    dir.file("marker-me.awk", "");
    EXPECT_RUN(run_tool(ME, {"-l", marker, "2", "1"}, "h,v\na,1\nb,x\x18y\nc,3\n"), 1, "h,v\na,1\n",
               "zelk-match-expr: ERROR: record #3 holds the byte 0x18, which cannot be passed to "
               "AWK (it delimits records and fields there)\n");
    EXPECT_FALSE(process_with_argument_exists(marker));
    // Outside the field sent, the bytes are data.
    EXPECT_RUN(run_tool(ME, {"2", "1"}, "h,v\nx\x19,1\n"), 0, "h,v\nx\x19,1\n", "");
}

TEST_F(MatchExpr, NulBytesAreData) {
    EXPECT_RUN(run_tool(ME, {"1", "length($0) == 3"}, "h\na\0b\nab\n"s), 0, "h\na\0b\n"s, "");
    EXPECT_RUN(run_tool(ME, {"-u", "1", "1"}, "h\n\"a\0b\"\n"s), 1, "h\n",
               "zelk-match-expr: ERROR: record #2: FIELD holds a NUL byte and cannot be "
               "unquoted\n");
}

TEST_F(MatchExpr, OperandsAndOutputErrors) {
    RunResult r = run_tool(ME, {"1"}, "h\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Program to 'grep' a particular field", 0), 0u);
    EXPECT_RUN(run_tool(ME, {"x", "1"}, "h\n"), 1, "",
               "zelk-match-expr: Invalid value for FIELD: x (does not represent an integer)\n");
    RunOptions o;
    o.input = "h\n1\n";
    o.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool(ME, {"-t", "1", "1"}, o), 1, "",
               "zelk-match-expr: Error: failed writing output to standard output: No space left "
               "on device\n");
}

} // namespace
