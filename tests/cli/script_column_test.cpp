#include "harness.h"

namespace {

const char *SC = "zelk-script-column";

const std::string SCM = "zelk-script-column: ";

TEST(ScriptColumn, Runs) {
    TempDir dir;
    std::string lib = dir.file("lib.awk", "function up(s) { return toupper(s) }\n");
    std::string code = dir.file("code.awk", "{ $0 = up($0) }\n");
    const char *brackets = "-e{$0=\"[\" $0 \"]\"}";
    const std::string no_result = SCM + "ERROR: AWK gave no result for record #3: the code must "
                                        "not skip the final print (no next, no getline)\n";
    // A result of 8190 bytes fits with its terminator; one more byte does not.
    const std::string v(8190, 'v');
    const std::string quoted =
        "n,v\na,\"x,y\"\nb,\"say \"\"hi\"\"\"\nc,plain\nd,\"p\nq\"\ne,\"\"\nf,\"kept\"\n";
    const std::vector<RunCase> runs = {
        // One field is rewritten. The value goes with its quotes; the result is written as it
        // comes, unquoted.
        {argv("-e", "{$0=sprintf(\"%d\",$0*10)}", "2"), "n,v\na,1\n", "n,v\na,10\n"},
        {argv("-h", "-e{$0=\"x\"}", "1"), "a,b,c\n", "x,b,c\n"},
        {argv("-h", "-e{$0=\"x\"}", "3"), "a,b,c\n", "a,b,x\n"},
        {argv("-h", "-e", "{$0=length($0) \",\" $0}", "2"), "1,\"a,b\",z\n", "1,5,\"a,b\",z\n"},
        {argv("-o", "-t", "-Q", "v", "-e", "{$0=$0+1}"), "n,v\na,1\nb,\"x\ny\"\n",
         "a,2\r\nb,1\r\n"},
        // -u: the code gets values; a value left alone is written as read, a new one quoted
        // when it needs it.
        {argv("-u", "-e{}", "2"), quoted, quoted},
        {argv("-u", "-e{$0 = $0 \"!\"}", "2"), quoted,
         "n,v\na,\"x,y!\"\nb,\"say \"\"hi\"\"!\"\nc,plain!\nd,\"p\nq!\"\ne,!\nf,kept!\n"},
        {argv("-u", "-Q", "v", "-e{$0 = length($0) \",\" ($0 == \"say \\\"hi\\\"\")}"), quoted,
         "n,v\na,\"3,0\"\nb,\"8,1\"\nc,\"5,0\"\nd,\"3,0\"\ne,\"0,0\"\nf,\"4,0\"\n"},
        {argv("-u", "-h", "-e{$0 = \"\"}", "1"), "\"a\"\n\"\"\n", "\"\"\n\"\"\n"},
        {argv("-u", "-h", "-e{$0 = $0 $0}", "1"), std::string(4096, '"') + "\n",
         std::string(8190, '"') + "\n"},
        {argv("-u", "-h", "-e{$0 = $0 $0}", "1"), std::string(4098, '"') + "\n", "",
         SCM + "ERROR: processed field from AWK exceeds max field size\n", 1},
        // Code files and libraries.
        {argv("-l", lib, "-f", code, "1"), "h\nab\n", "h\nAB\n"},
        {argv("-e", "{}", "-f", code, "1"), "h\n", "",
         SCM + "Error: use only -e or -f, but not both!\n", 1},
        {argv("-e", "x", "1"), "h\n", "",
         SCM + "Error: -eCODE must be a valid AWK program, i.e., rule(s): [pattern]{actions}!\n",
         1},
        {argv("1"), "h\n", "", SCM + "Error: Must supply AWK code via -e or -f option!\n", 1},
        // Blank and short records.
        {argv("-1", brackets, "1"), "h\n\na\n", "h\n[]\n[a]\n"},
        {argv("-b", brackets, "1"), "h\n\na\n", "h\n\n[a]\n"},
        {argv(brackets, "1"), "h\n\na\n", "h\n[a]\n"},
        {argv("-1", "-e{}", "2"), "h\na,b\n\n", "h\na,b\n",
         SCM + "ERROR: record #3: FIELD #2 does not exist (1 fields)\n", 1},
        {argv("-e{}", "3"), "h\na,b,c\nd,e\nf,g,h\n", "h\na,b,c\n",
         SCM + "ERROR: record #3: FIELD #3 does not exist (2 fields)\n", 1},
        {argv("-e{}", "1"), "", "", SCM + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        // Code that skips the print is an error: reading ahead would pair every later result
        // with the wrong record.
        {argv("-e", "$0 > 1 { next } { $0 = -$0 }", "1"), "h\n1\n2\n3\n", "h\n-1\n", no_result, 1},
        {argv("-e", "$0 == 2 { getline x } {}", "1"), "h\n1\n2\n3\n", "h\n1\n", no_result, 1},
        // Results and values at the limits.
        {argv("-h", "-e{}", "2"), "a," + v + ",c\n", "a," + v + ",c\n"},
        {argv("-h", "-e{$0 = $0 \"w\"}", "1"), v + "\n", "",
         SCM + "ERROR: processed field from AWK exceeds max field size\n", 1},
        {argv("-h", "-e{}", "1"), "x\x18y\n", "",
         SCM + "ERROR: record #1 holds the byte 0x18, which cannot be passed to AWK (it delimits "
               "records and fields there)\n",
         1},
        {argv("-h", "-e{$0 = length($0)}", "2"), "a\0b,c\0d,e\n"s, "a\0b,3,e\n"s},
    };
    expect_runs(SC, runs);
    RunResult r = run_tool(SC, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Program to 'process' the values in one field", 0), 0u);
}

TEST(ScriptColumn, AwkEndingEarly) {
    EXPECT_RUN(run_tool(SC, {"-e", "$0 == 2 { exit }", "1"}, "h\n1\n2\n3\n"), 1, "h\n1\n",
               "zelk-script-column: ERROR: invalid processed field from AWK\n\n");
    RunResult r = run_tool(SC, {"-e", "{ $0 = 1 / ($0 - 2) }", "1"}, "h\n1\n2\n3\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("division by zero"), std::string::npos) << r.err;
}

} // namespace
