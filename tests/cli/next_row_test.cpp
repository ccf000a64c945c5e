#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-next-row");

// Records with line breaks inside quoted fields (LF and CR LF), a blank line and a CR LF
// terminator, so that a reader that stopped at a line end instead of a record end would show.
const std::string INPUT = "id,text\n1,\"two\nlines\"\n\n2,\"crlf\r\ninside\"\r\n3,\"a,b\"\n";

RunOptions input(const std::string &s, bool pipe) {
    RunOptions o;
    o.input = s;
    o.input_pipe = pipe;
    return o;
}

TEST(NextRow, CopiesOneRecord) {
    EXPECT_RUN(run_tool("zelk-next-row", {}, "a,b\nc,d\n"), 0, "a,b\n", "");
    EXPECT_RUN(run_tool("zelk-next-row", {}, "\"x\ny\",z\nc\n"), 0, "\"x\ny\",z\n", "");
    EXPECT_RUN(run_tool("zelk-next-row", {"-t"}, "a,b\r\n"), 0, "a,b\r\n", "");
    EXPECT_RUN(run_tool("zelk-next-row", {"-z"}, "a\0b\n"s), 0, "a\0b\0"s, "");
    // A blank line is a record of its own: copied as an empty one.
    EXPECT_RUN(run_tool("zelk-next-row", {}, "\nx\n"), 0, "\n", "");
}

TEST(NextRow, EndOfInputAndErrorsFail) {
    EXPECT_RUN(run_tool("zelk-next-row", {}, ""), 1, "", "");
    // The syntax error is described with or without -v.
    EXPECT_RUN(run_tool("zelk-next-row", {}, "a\"b\n"), 1, "",
               "zelk-next-row: ERROR: record #0, field #1: double-quote in unquoted field\n"
               "zelk-next-row: file:  'standard input'\n");
    EXPECT_RUN(run_tool("zelk-next-row", {"-v"}, "a\"b\n"), 1, "",
               "zelk-next-row: ERROR: record #0, field #1: double-quote in unquoted field\n"
               "zelk-next-row: file:  'standard input'\n");
    EXPECT_RUN(run_tool("zelk-next-row", {"-v"}, "last"), 0, "last\n",
               "zelk-next-row: Warning: final record not terminated: file 'standard input'\n");
    EXPECT_RUN(run_tool("zelk-next-row", {"-v"}, std::string(65536, 'x') + "\n"), 1, "",
               "zelk-next-row: ERROR: record #0: record length exceeded MAX_RECORD_LENGTH "
               "(65536)\nzelk-next-row: file:  'standard input'\n");
}

TEST(NextRow, ShellLoopSeesEveryRecordOnce) {
    // $(...) drops the final line feed only, so each record shows whole between brackets.
    const std::string loop = "while rec=$(zelk-next-row); do printf '[%s]\\n' \"$rec\"; done";
    const std::string expected =
        "[id,text]\n[1,\"two\nlines\"]\n[]\n[2,\"crlf\r\ninside\"]\n[3,\"a,b\"]\n";
    EXPECT_RUN(run_shell(loop, input(INPUT, false)), 0, expected, "");
    EXPECT_RUN(run_shell(loop, input(INPUT, true)), 0, expected, "");
    // A file redirected inside the script, and a pipe from another process.
    TempDir dir;
    std::string f = dir.file("in.csv", INPUT);
    EXPECT_RUN(run_shell(loop + " < '" + f + "'"), 0, expected, "");
    EXPECT_RUN(run_shell("cat '" + f + "' | " + loop), 0, expected, "");
}

TEST(NextRow, LeavesTheRestForTheNextReader) {
    // What follows the record is exactly what was not copied, for a file and for a pipe.
    const std::string rest = "\n2,\"crlf\r\ninside\"\r\n3,\"a,b\"\n";
    for (bool pipe : {false, true}) {
        EXPECT_RUN(run_shell("zelk-next-row >/dev/null; zelk-next-row; echo ---; cat",
                             input(INPUT, pipe)),
                   0, "1,\"two\nlines\"\n---\n" + rest, "");
        // After a syntax error the input is left just past the faulty byte.
        EXPECT_RUN(run_shell("zelk-next-row >/dev/null; zelk-next-row; echo \"status $?\"; cat",
                             input("ok\nx\"yz\nw\n", pipe)),
                   0, "status 1\nyz\nw\n",
                   "zelk-next-row: ERROR: record #0, field #1: double-quote in unquoted field\n"
                   "zelk-next-row: file:  'standard input'\n");
    }
}

TEST(NextRow, UsageAndOptionErrors) {
    EXPECT_RUN(run_tool("zelk-next-row", {"file.csv"}, "a\n"), 1, "", USAGE);
    EXPECT_RUN(run_tool("zelk-next-row", {"-t", "-z"}), 1, "",
               "zelk-next-row: Error: -t and -z options not compatible!\n");
    EXPECT_RUN(run_tool("zelk-next-row", {"-zt"}), 1, "",
               "zelk-next-row: Error: -t and -z options not compatible!\n");
    EXPECT_RUN(run_tool("zelk-next-row", {"-b"}), 1, "",
               "zelk-next-row: invalid option -- 'b'\n"
               "Try 'zelk-next-row --help' for more information.\n");
}

} // namespace
