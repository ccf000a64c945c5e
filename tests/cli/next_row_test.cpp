#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-next-row");

// Records with line breaks inside quoted fields (LF and CR LF), a blank line and a CR LF
// terminator, so that a reader that stopped at a line end instead of a record end would show.
const std::string INPUT = "id,text\n1,\"two\nlines\"\n\n2,\"crlf\r\ninside\"\r\n3,\"a,b\"\n";

const std::string NR = "zelk-next-row: ";
const std::string SYNTAX =
    read_error("zelk-next-row", "record #0, field #1: double-quote in unquoted field");
// At the start of a file, or further on: the place is the file's, wherever the reading began.
const std::string SYNTAX_AT_START = SYNTAX + "zelk-next-row: line 1, byte 2\n";

TEST(NextRow, Runs) {
    const std::vector<RunCase> runs = {
        // One record is copied; a blank line is a record of its own, copied as an empty one.
        {argv(), "a,b\nc,d\n", "a,b\n"},
        {argv(), "\"x\ny\",z\nc\n", "\"x\ny\",z\n"},
        {argv("-t"), "a,b\r\n", "a,b\r\n"},
        {argv("-z"), "a\0b\n"s, "a\0b\0"s},
        {argv(), "\nx\n", "\n"},
        // The end of the input and read errors fail; the syntax error is described with or
        // without -v.
        {argv(), "", "", "", 1},
        {argv(), "a\"b\n", "", SYNTAX_AT_START, 1},
        {argv("-v"), "a\"b\n", "", SYNTAX_AT_START, 1},
        {argv("-v"), "last", "last\n",
         NR + "Warning: final record not terminated: file 'standard input'\n"},
        {argv("-v"), std::string(65536, 'x') + "\n", "",
         read_error("zelk-next-row", "record #0: record length exceeded MAX_RECORD_LENGTH (65536)",
                    "standard input", "line 1, byte 65536"),
         1},
        // Usage and option errors.
        {argv("file.csv"), "a\n", "", USAGE, 1},
        {argv("-t", "-z"), "", "", NR + "Error: -t and -z options not compatible!\n", 1},
        {argv("-zt"), "", "", NR + "Error: -t and -z options not compatible!\n", 1},
        {argv("-b"), "", "",
         NR + "invalid option -- 'b'\nTry 'zelk-next-row --help' for more information.\n", 1},
    };
    expect_runs("zelk-next-row", runs);
}

TEST(NextRow, ShellLoopSeesEveryRecordOnce) {
    // $(...) drops the final line feed only, so each record shows whole between brackets.
    const std::string loop = "while rec=$(zelk-next-row); do printf '[%s]\\n' \"$rec\"; done";
    const std::string expected =
        "[id,text]\n[1,\"two\nlines\"]\n[]\n[2,\"crlf\r\ninside\"]\n[3,\"a,b\"]\n";
    EXPECT_RUN(run_shell(loop, with_input(INPUT, false)), 0, expected, "");
    EXPECT_RUN(run_shell(loop, with_input(INPUT, true)), 0, expected, "");
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
                             with_input(INPUT, pipe)),
                   0, "1,\"two\nlines\"\n---\n" + rest, "");
        // After a syntax error the input is left just past the faulty byte.
        EXPECT_RUN(run_shell("zelk-next-row >/dev/null; zelk-next-row; echo \"status $?\"; cat",
                             with_input("ok\nx\"yz\nw\n", pipe)),
                   0, "status 1\nyz\nw\n",
                   SYNTAX + (pipe ? "" : "zelk-next-row: line 2, byte 5\n"));
    }
}

} // namespace
