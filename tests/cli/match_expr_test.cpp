#include <algorithm>

#include "awk_helpers.h"
#include "harness.h"

namespace {

const char *ME = "zelk-match-expr";

struct MatchExpr : ::testing::Test {
    TempDir dir;
};

const std::string MX = "zelk-match-expr: ";

TEST_F(MatchExpr, Runs) {
    std::string f = dir.file("f.csv", "a,2,C\nb,30,D\n");
    const std::string multi = "k,v\n1,\"multi\nline, with comma\"\n2,plain\n";
    const std::string q = "k,v\n1,\"12\"\n2,\"a\"\"b\"\n";
    const std::string amounts = "id,amount\n1,5\n2,50\n3,500\n";
    const std::string blank = "h\n\nx\n\n";
    const std::string limit = "h\n1\n2\n3\n";
    const std::vector<RunCase> runs = {
        // Selecting by a condition on one field: empty and "0" are false; anything else awk
        // prints, such as 0.0, is true.
        {argv("-h", "2", "$0>10", f), "", "b,30,D\n"},
        {argv("-h", "-v", "2", "$0>10", f), "", "a,2,C\n"},
        {argv("-h", "1", "$0"), "\n0\n0.0\n00\n x\n", "0.0\n00\n x\n"},
        {argv("-h", "2", "$0>100", f), "", "", "", 1},
        {argv("2", "$0>1"), "", "", "", 1},
        // Quoted fields reach awk whole; quotes stay unless -u removes them (and undoubles the
        // inner ones).
        {argv("2", "index($0, \"\\n\") && index($0, \",\")"), multi,
         "k,v\n1,\"multi\nline, with comma\"\n"},
        {argv("2", "$0 == 12"), q, "k,v\n", "", 1},
        {argv("-u", "2", "$0 == 12"), q, "k,v\n1,\"12\"\n"},
        {argv("-u", "2", "$0==\"a\\\"b\""), q, "k,v\n2,\"a\"\"b\"\n"},
        // Header options.
        {argv("-o", "2", "$0>10"), amounts, "2,50\n3,500\n"},
        {argv("-n", "2", "$0>10"), amounts, "1:id,amount\n3:2,50\n4:3,500\n"},
        {argv("-Q", "amount", "$0<10"), amounts, "id,amount\n1,5\n"},
        {argv("-Q", "nope", "$0<10"), amounts, "",
         MX + "ERROR: FIELD name 'nope' not found in header\n", 1},
        {argv("-h", "-o", "1", "1"), amounts, "", MX + "Error: -h and -o options not compatible!\n",
         1},
        {argv("-Q", "-h", "1", "1"), amounts, "", MX + "Error: -h and -Q options not compatible!\n",
         1},
        // Blank and short records; -q writes nothing at all, not even passed-through blank
        // records.
        {argv("-1", "1", "$0==\"\""), blank, "h\n\n\n"},
        {argv("-b", "1", "$0==\"x\""), blank, "h\n\nx\n\n"},
        {argv("1", "1"), blank, "h\nx\n"},
        {argv("-q", "-b", "1", "1"), blank, ""},
        {argv("-w", "2", "1"), "h\na,b\nc\n", "h\na,b\n", "Warning: record #3 is missing FIELD\n"},
        {argv("-b", "-1", "1", "1"), blank, "", MX + "Error: -b and -1 options not compatible!\n",
         1},
        // The match limit, and -q.
        {argv("-m", "2", "1", "$0>0"), limit, "h\n1\n2\n"},
        {argv("-q", "-m1", "1", "$0>0"), limit, ""},
        {argv("-q", "1", "$0>5"), limit, "", "", 1},
        {argv("-m", "0", "1", "1"), limit, "", MX + "Invalid value for -mNUM: 0 (must be >= 1)\n",
         1},
    };
    expect_runs(ME, runs);
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
        {ME,
         {"-h", "-m2", "1", "$0>0"},
         "5\n0\n" + bad + "6\n",
         "5\n",
         "zelk-match-expr: ERROR: record #3, field #1: double-quote in unquoted field\n"
         "zelk-match-expr: file:  'standard input'\n"
         "zelk-match-expr: line 3, byte 6\n",
         1},
        {ME,
         {"-h", "-m3", "1", "$0>0"},
         "5\n0\n6\n" + unended,
         "5\n6\n7\n",
         "zelk-match-expr: Warning: final record not terminated: file 'standard input'\n",
         0},
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
