#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-next-cell");

TEST(NextCell, FieldRawUnquotedOrCleaned) {
    const std::string in = "a,\"b,c\",\"x\",\"say \"\"hi\"\"\"\nnext\n";
    EXPECT_RUN(run_tool("zelk-next-cell", {"2"}, in), 0, "\"b,c\"\n", "");
    EXPECT_RUN(run_tool("zelk-next-cell", {"-u", "2"}, in), 0, "b,c\n", "");
    // Cleaning keeps the quotes where removing them would leave the comma unprotected.
    EXPECT_RUN(run_tool("zelk-next-cell", {"-c", "2"}, in), 0, "\"b,c\"\n", "");
    EXPECT_RUN(run_tool("zelk-next-cell", {"-c", "3"}, in), 0, "x\n", "");
    EXPECT_RUN(run_tool("zelk-next-cell", {"-u", "4"}, in), 0, "say \"hi\"\n", "");
    EXPECT_RUN(run_tool("zelk-next-cell", {"1"}, "\"multi\nline\",b\n"), 0, "\"multi\nline\"\n", "");
    // A NUL byte inside a field is data and is printed whole.
    EXPECT_RUN(run_tool("zelk-next-cell", {"2"}, "a,b\0c,d\n"s), 0, "b\0c\n"s, "");
}

TEST(NextCell, NulBytesAreNotUnquotedSilently) {
    EXPECT_RUN(run_tool("zelk-next-cell", {"-u", "2"}, "a,\"b\0c\"\n"s), 1, "",
               "zelk-next-cell: ERROR: field #2 holds a NUL byte and cannot be unquoted\n");
}

TEST(NextCell, MissingField) {
    EXPECT_RUN(run_tool("zelk-next-cell", {"3"}, "a,b\n"), 0, "\n", "");
    EXPECT_RUN(run_tool("zelk-next-cell", {"-w", "3"}, "a,b\n"), 0, "\n",
               "zelk-next-cell: Warning: field #3 does not exist, printing blank\n");
    EXPECT_RUN(run_tool("zelk-next-cell", {"-e", "3"}, "a,b\n"), 1, "",
               "zelk-next-cell: ERROR: field #3 does not exist\n");
    // A blank record has no fields at all.
    EXPECT_RUN(run_tool("zelk-next-cell", {"1"}, "\nx\n"), 0, "\n", "");
}

TEST(NextCell, EndOfInputAndErrorsFail) {
    EXPECT_RUN(run_tool("zelk-next-cell", {"1"}, ""), 1, "", "");
    // The syntax error is described with or without -v.
    EXPECT_RUN(run_tool("zelk-next-cell", {"1"}, "a,\"b\"c\n"), 1, "",
               "zelk-next-cell: ERROR: record #1, field #2: unescaped double quote char in "
               "quoted field\nzelk-next-cell: file:  'standard input'\n");
    EXPECT_RUN(run_tool("zelk-next-cell", {"-v", "1"}, "a,\"b\"c\n"), 1, "",
               "zelk-next-cell: ERROR: record #1, field #2: unescaped double quote char in "
               "quoted field\nzelk-next-cell: file:  'standard input'\n");
    EXPECT_RUN(run_tool("zelk-next-cell", {"1"}, std::string(8192, 'x') + "\n"), 1, "",
               "zelk-next-cell: ERROR: record #1, field #1: field length exceeded "
               "MAX_FIELD_LENGTH (8192)\nzelk-next-cell: file:  'standard input'\n");
}

TEST(NextCell, ShellLoopSeesEveryRecordOnce) {
    const std::string in = "id,text\n1,\"two\nlines\"\n\n2,\"crlf\r\ninside\"\r\n3,\"a,b\"\n";
    const std::string loop = "while v=$(zelk-next-cell -u 2); do printf '[%s]\\n' \"$v\"; done";
    const std::string expected = "[text]\n[two\nlines]\n[]\n[crlf\r\ninside]\n[a,b]\n";
    for (bool pipe : {false, true}) {
        RunOptions o;
        o.input = in;
        o.input_pipe = pipe;
        EXPECT_RUN(run_shell(loop, o), 0, expected, "");
        // A fatal error hands the input back too: the next reader starts after that record.
        EXPECT_RUN(run_shell("zelk-next-cell -e 2 >/dev/null; zelk-next-cell -e 2; cat", o), 0,
                   "\"two\nlines\"\n\n2,\"crlf\r\ninside\"\r\n3,\"a,b\"\n", "");
        EXPECT_RUN(run_shell("zelk-next-cell -e 2 && zelk-next-cell -e 3; cat", o), 0,
                   "text\n\n2,\"crlf\r\ninside\"\r\n3,\"a,b\"\n",
                   "zelk-next-cell: ERROR: field #3 does not exist\n");
    }
}

TEST(NextCell, UsageAndOptionErrors) {
    EXPECT_RUN(run_tool("zelk-next-cell", {}), 1, "", USAGE);
    EXPECT_RUN(run_tool("zelk-next-cell", {"1", "2"}), 1, "", USAGE);
    EXPECT_RUN(run_tool("zelk-next-cell", {"-u", "-c", "1"}), 1, "",
               "zelk-next-cell: Error: -c and -u options not compatible!\n");
    EXPECT_RUN(run_tool("zelk-next-cell", {"-cu", "1"}), 1, "",
               "zelk-next-cell: Error: -c and -u options not compatible!\n");
    EXPECT_RUN(run_tool("zelk-next-cell", {"-w", "-e", "1"}), 1, "",
               "zelk-next-cell: Error: -e and -w options not compatible!\n");
    EXPECT_RUN(run_tool("zelk-next-cell", {"0"}), 1, "",
               "zelk-next-cell: Invalid value for FIELD: 0 (must be >= 1)\n");
    EXPECT_RUN(run_tool("zelk-next-cell", {"2x"}), 1, "",
               "zelk-next-cell: Invalid value for FIELD: 2x (includes non-digits)\n");
    EXPECT_RUN(run_tool("zelk-next-cell", {"-t", "1"}), 1, "",
               "zelk-next-cell: invalid option -- 't'\n"
               "Try 'zelk-next-cell --help' for more information.\n");
}

} // namespace
