#include "harness.h"

namespace {

const char *SC = "zelk-script-column";

TEST(ScriptColumn, RewritesOneField) {
    EXPECT_RUN(run_tool(SC, {"-e", "{$0=sprintf(\"%d\",$0*10)}", "2"}, "n,v\na,1\n"), 0,
               "n,v\na,10\n", "");
    EXPECT_RUN(run_tool(SC, {"-h", "-e{$0=\"x\"}", "1"}, "a,b,c\n"), 0, "x,b,c\n", "");
    EXPECT_RUN(run_tool(SC, {"-h", "-e{$0=\"x\"}", "3"}, "a,b,c\n"), 0, "a,b,x\n", "");
    // The value goes with its quotes; the result is written as it comes, unquoted.
    EXPECT_RUN(run_tool(SC, {"-h", "-e", "{$0=length($0) \",\" $0}", "2"}, "1,\"a,b\",z\n"), 0,
               "1,5,\"a,b\",z\n", "");
    EXPECT_RUN(run_tool(SC, {"-o", "-t", "-Q", "v", "-e", "{$0=$0+1}"}, "n,v\na,1\nb,\"x\ny\"\n"),
               0, "a,2\r\nb,1\r\n", "");
}

TEST(ScriptColumn, CodeFilesAndLibraries) {
    TempDir dir;
    std::string lib = dir.file("lib.awk", "function up(s) { return toupper(s) }\n");
    std::string code = dir.file("code.awk", "{ $0 = up($0) }\n");
    EXPECT_RUN(run_tool(SC, {"-l", lib, "-f", code, "1"}, "h\nab\n"), 0, "h\nAB\n", "");
    EXPECT_RUN(run_tool(SC, {"-e", "{}", "-f", code, "1"}, "h\n"), 1, "",
               "zelk-script-column: Error: use only -e or -f, but not both!\n");
    EXPECT_RUN(run_tool(SC, {"-e", "x", "1"}, "h\n"), 1, "",
               "zelk-script-column: Error: -eCODE must be a valid AWK program, i.e., rule(s): "
               "[pattern]{actions}!\n");
    EXPECT_RUN(run_tool(SC, {"1"}, "h\n"), 1, "",
               "zelk-script-column: Error: Must supply AWK code via -e or -f option!\n");
    RunResult r = run_tool(SC, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Program to 'process' the values in one field", 0), 0u);
}

TEST(ScriptColumn, BlankAndShortRecords) {
    EXPECT_RUN(run_tool(SC, {"-1", "-e{$0=\"[\" $0 \"]\"}", "1"}, "h\n\na\n"), 0, "h\n[]\n[a]\n",
               "");
    EXPECT_RUN(run_tool(SC, {"-b", "-e{$0=\"[\" $0 \"]\"}", "1"}, "h\n\na\n"), 0, "h\n\n[a]\n", "");
    EXPECT_RUN(run_tool(SC, {"-e{$0=\"[\" $0 \"]\"}", "1"}, "h\n\na\n"), 0, "h\n[a]\n", "");
    EXPECT_RUN(run_tool(SC, {"-1", "-e{}", "2"}, "h\na,b\n\n"), 1, "h\na,b\n",
               "zelk-script-column: ERROR: record #3: FIELD #2 does not exist (1 fields)\n");
    EXPECT_RUN(run_tool(SC, {"-e{}", "3"}, "h\na,b,c\nd,e\nf,g,h\n"), 1, "h\na,b,c\n",
               "zelk-script-column: ERROR: record #3: FIELD #3 does not exist (2 fields)\n");
    EXPECT_RUN(run_tool(SC, {"-e{}", "1"}, ""), 1, "", 
               "zelk-script-column: ERROR: CSVFILE 'standard input' is empty\n");
}

TEST(ScriptColumn, CodeThatSkipsThePrintIsAnError) {
    EXPECT_RUN(run_tool(SC, {"-e", "$0 > 1 { next } { $0 = -$0 }", "1"}, "h\n1\n2\n3\n"), 1,
               "h\n-1\n",
               "zelk-script-column: ERROR: AWK gave no result for record #3: the code must not "
               "skip the final print (no next, no getline)\n");
    // Reading ahead would pair every later result with the wrong record.
    EXPECT_RUN(run_tool(SC, {"-e", "$0 == 2 { getline x } {}", "1"}, "h\n1\n2\n3\n"), 1, "h\n1\n",
               "zelk-script-column: ERROR: AWK gave no result for record #3: the code must not "
               "skip the final print (no next, no getline)\n");
}

TEST(ScriptColumn, ResultsAndValuesAtTheLimits) {
    // A result of 8190 bytes fits with its terminator; one more byte does not.
    std::string v(8190, 'v');
    EXPECT_RUN(run_tool(SC, {"-h", "-e{}", "2"}, "a," + v + ",c\n"), 0, "a," + v + ",c\n", "");
    EXPECT_RUN(run_tool(SC, {"-h", "-e{$0 = $0 \"w\"}", "1"}, v + "\n"), 1, "",
               "zelk-script-column: ERROR: processed field from AWK exceeds max field size\n");
    EXPECT_RUN(run_tool(SC, {"-h", "-e{}", "1"}, "x\x18y\n"), 1, "",
               "zelk-script-column: ERROR: record #1 holds the byte 0x18, which cannot be passed "
               "to AWK (it delimits records and fields there)\n");
    EXPECT_RUN(run_tool(SC, {"-h", "-e{$0 = length($0)}", "2"}, "a\0b,c\0d,e\n"s), 0, "a\0b,3,e\n"s,
               "");
}

TEST(ScriptColumn, AwkEndingEarly) {
    EXPECT_RUN(run_tool(SC, {"-e", "$0 == 2 { exit }", "1"}, "h\n1\n2\n3\n"), 1, "h\n1\n",
               "zelk-script-column: ERROR: invalid processed field from AWK\n\n");
    RunResult r = run_tool(SC, {"-e", "{ $0 = 1 / ($0 - 2) }", "1"}, "h\n1\n2\n3\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("division by zero"), std::string::npos) << r.err;
}

} // namespace
