#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-next-cell");

const std::string NC = "zelk-next-cell: ";
const std::string SYNTAX =
    read_error("zelk-next-cell", "record #1, field #2: unescaped double quote char in quoted field",
               "standard input", "line 1, byte 6");

TEST(NextCell, Runs) {
    const std::string in = "a,\"b,c\",\"x\",\"say \"\"hi\"\"\"\nnext\n";
    const std::vector<RunCase> runs = {
        // The field raw, unquoted or cleaned; cleaning keeps the quotes where removing them
        // would leave the comma unprotected.
        {argv("2"), in, "\"b,c\"\n"},
        {argv("-u", "2"), in, "b,c\n"},
        {argv("-c", "2"), in, "\"b,c\"\n"},
        {argv("-c", "3"), in, "x\n"},
        {argv("-u", "4"), in, "say \"hi\"\n"},
        {argv("1"), "\"multi\nline\",b\n", "\"multi\nline\"\n"},
        // A NUL byte inside a field is data and is printed whole, but never unquoted silently.
        {argv("2"), "a,b\0c,d\n"s, "b\0c\n"s},
        {argv("-u", "2"), "a,\"b\0c\"\n"s, "",
         NC + "ERROR: field #2 holds a NUL byte and cannot be unquoted\n", 1},
        // A missing field; a blank record has no fields at all.
        {argv("3"), "a,b\n", "\n"},
        {argv("-w", "3"), "a,b\n", "\n", NC + "Warning: field #3 does not exist, printing blank\n"},
        {argv("-e", "3"), "a,b\n", "", NC + "ERROR: field #3 does not exist\n", 1},
        {argv("1"), "\nx\n", "\n"},
        // The end of the input and read errors fail; the syntax error is described with or
        // without -v.
        {argv("1"), "", "", "", 1},
        {argv("1"), "a,\"b\"c\n", "", SYNTAX, 1},
        {argv("-v", "1"), "a,\"b\"c\n", "", SYNTAX, 1},
        {argv("1"), std::string(8192, 'x') + "\n", "",
         read_error("zelk-next-cell",
                    "record #1, field #1: field length exceeded MAX_FIELD_LENGTH (8192)"),
         1},
        // Usage and option errors.
        {argv(), "", "", USAGE, 1},
        {argv("1", "2"), "", "", USAGE, 1},
        {argv("-u", "-c", "1"), "", "", NC + "Error: -c and -u options not compatible!\n", 1},
        {argv("-cu", "1"), "", "", NC + "Error: -c and -u options not compatible!\n", 1},
        {argv("-w", "-e", "1"), "", "", NC + "Error: -e and -w options not compatible!\n", 1},
        {argv("0"), "", "", NC + "Invalid value for FIELD: 0 (must be >= 1)\n", 1},
        {argv("2x"), "", "", NC + "Invalid value for FIELD: 2x (includes non-digits)\n", 1},
        {argv("-t", "1"), "", "",
         NC + "invalid option -- 't'\nTry 'zelk-next-cell --help' for more information.\n", 1},
    };
    expect_runs("zelk-next-cell", runs);
}

TEST(NextCell, ShellLoopSeesEveryRecordOnce) {
    const std::string in = "id,text\n1,\"two\nlines\"\n\n2,\"crlf\r\ninside\"\r\n3,\"a,b\"\n";
    const std::string loop = "while v=$(zelk-next-cell -u 2); do printf '[%s]\\n' \"$v\"; done";
    const std::string expected = "[text]\n[two\nlines]\n[]\n[crlf\r\ninside]\n[a,b]\n";
    for (bool pipe : {false, true}) {
        RunOptions o = with_input(in, pipe);
        EXPECT_RUN(run_shell(loop, o), 0, expected, "");
        // A fatal error hands the input back too: the next reader starts after that record.
        EXPECT_RUN(run_shell("zelk-next-cell -e 2 >/dev/null; zelk-next-cell -e 2; cat", o), 0,
                   "\"two\nlines\"\n\n2,\"crlf\r\ninside\"\r\n3,\"a,b\"\n", "");
        EXPECT_RUN(run_shell("zelk-next-cell -e 2 && zelk-next-cell -e 3; cat", o), 0,
                   "text\n\n2,\"crlf\r\ninside\"\r\n3,\"a,b\"\n",
                   "zelk-next-cell: ERROR: field #3 does not exist\n");
    }
}

} // namespace
