#include "harness.h"

namespace {

const char *INPUT = "name,n\nx,1\ny,2\n";

RunResult match(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-match", args, input);
}

TEST(Match, SelectsInvertsAndNumbers) {
    EXPECT_RUN(match({"2", "1"}, INPUT), 0, "name,n\nx,1\n", "");
    EXPECT_RUN(match({"-v", "2", "1"}, INPUT), 0, "name,n\ny,2\n", "");
    EXPECT_RUN(match({"-n", "2", "1"}, INPUT), 0, "1:name,n\n2:x,1\n", "");
    EXPECT_RUN(match({"-o", "-q", "2", "3"}, INPUT), 1, "", "");
    EXPECT_RUN(match({"-q", "2", "2"}, INPUT), 0, "", "");
    // The header is never tested and never counts as a selection.
    EXPECT_RUN(match({"2", "n"}, INPUT), 1, "name,n\n", "");
    EXPECT_RUN(match({"-h", "-t", "2", "n"}, INPUT), 0, "name,n\r\n", "");
    // Record numbers count records, not lines.
    EXPECT_RUN(match({"-n", "1", "z"}, "h\n\"a\nb\"\nz\n"), 0, "1:h\n3:z\n", "");
}

TEST(Match, ExactAnchorsAreTextNotAGroup) {
    EXPECT_RUN(match({"-h", "-x", "1", "1"}, "10\n1\n"), 0, "1\n", "");
    EXPECT_RUN(match({"-h", "1", "1"}, "10\n1\n"), 0, "10\n1\n", "");
    // ^a|b$ selects fields that begin with a or end with b.
    EXPECT_RUN(match({"-h", "-x", "1", "a|b"}, "axx\nxxb\nxbx\n"), 0, "axx\nxxb\n", "");
}

TEST(Match, FixedStrings) {
    const char *in = "abc\na.c\nA.C\n";
    EXPECT_RUN(match({"-h", "-F", "1", "a.c"}, in), 0, "a.c\n", "");
    EXPECT_RUN(match({"-h", "1", "a.c"}, in), 0, "abc\na.c\n", "");
    EXPECT_RUN(match({"-h", "-iF", "1", "a.c"}, in), 0, "a.c\nA.C\n", "");
    EXPECT_RUN(match({"-h", "-i", "-x", "-F", "1", "abc"}, "ABC\nABCD\n"), 0, "ABC\n", "");
    EXPECT_RUN(match({"-h", "-F", "1", "(x|y)*"}, "(x|y)*z\nxy\n"), 0, "(x|y)*z\n", "");
}

TEST(Match, PatternFile) {
    TempDir d;
    const char *in = "h\nab\n\ncd\nxy\n";
    std::string empty = d.file("empty", "");
    std::string blank = d.file("blank", "zz\n\n");
    std::string two = d.file("two", "c\nX"); // no final LF
    std::string cr = d.file("cr", "ab\r\n");
    EXPECT_RUN(match({"-f" + blank, "1"}, in), 0, "h\nab\ncd\nxy\n", "");
    EXPECT_RUN(match({"-x", "-f", blank, "-1", "1"}, in), 0, "h\n\n", "");
    EXPECT_RUN(match({"-f" + empty, "1"}, in), 1, "h\n", "");
    EXPECT_RUN(match({"-v", "-f" + empty, "1"}, in), 0, "h\nab\ncd\nxy\n", "");
    EXPECT_RUN(match({"-i", "-f" + two, "1"}, in), 0, "h\ncd\nxy\n", "");
    // A CR before the LF stays part of the pattern.
    EXPECT_RUN(match({"-f" + cr, "1"}, in), 1, "h\n", "");
    // The last -f names the file.
    EXPECT_RUN(match({"-f" + empty, "-f" + two, "1"}, in), 0, "h\ncd\n", "");
    std::string missing = d.join("missing");
    EXPECT_RUN(match({"-f" + missing, "1"}, in), 1, "",
               "zelk-match: Error opening PATTERNS_FILE: No such file or directory\n");
    EXPECT_RUN(match({"-f" + d.path(), "1"}, in), 1, "",
               "zelk-match: ERROR: failed reading from PATTERNS_FILE '" + d.path() +
                   "': Is a directory\n");
}

TEST(Match, StopsAfterLimitWithoutReadingOn) {
    const char *in = "h\na1\nb\na2\n\"bad\n";
    EXPECT_RUN(match({"-m", "1", "1", "a"}, in), 0, "h\na1\n", "");
    EXPECT_RUN(match({"-m2", "1", "a"}, in), 0, "h\na1\na2\n", "");
    EXPECT_RUN(match({"-m3", "1", "a"}, in), 1, "h\na1\na2\n",
               "zelk-match: ERROR: record #5, field #1: quoted field not closed by double quote\n"
               "zelk-match: file:  'standard input'\n");
    EXPECT_RUN(match({"-m0", "1", "a"}, in), 1, "",
               "zelk-match: Invalid value for -mNUM: 0 (must be >= 1)\n");
}

TEST(Match, BlankAndShortRecords) {
    const char *in = "h,k\n\nx\ny,1\n";
    EXPECT_RUN(match({"2", "1"}, in), 0, "h,k\ny,1\n", "");
    EXPECT_RUN(match({"-b", "-q", "2", "1"}, in), 0, "\n", "");
    EXPECT_RUN(match({"-b", "-n", "-v", "2", "1"}, in), 1, "1:h,k\n\n", "");
    EXPECT_RUN(match({"-w", "2", "1"}, in), 0, "h,k\ny,1\n",
               "Warning: record #3 is missing FIELD\n");
    EXPECT_RUN(match({"-1", "1", "^$"}, in), 0, "h,k\n\n", "");
    // A blank record taken as one empty field has no field 2.
    EXPECT_RUN(match({"-1", "-w", "-v", "2", "1"}, in), 1, "h,k\n",
               "Warning: record #2 is missing FIELD\nWarning: record #3 is missing FIELD\n");
    EXPECT_RUN(match({"-b", "-1", "1", "x"}, in), 1, "",
               "zelk-match: Error: -b and -1 options not compatible!\n");
}

TEST(Match, UnquoteTestsTheValueButWritesTheText) {
    const char *in = "h\n\"a,b\"\n\"say \"\"hi\"\"\"\n\"odd\n";
    EXPECT_RUN(match({"-u", "-x", "1", "a,b"}, "h\n\"a,b\"\n"), 0, "h\n\"a,b\"\n", "");
    EXPECT_RUN(match({"-x", "1", "a,b"}, "h\n\"a,b\"\n"), 1, "h\n", "");
    EXPECT_RUN(match({"-u", "-F", "1", "\"hi\""}, in), 1, "h\n\"say \"\"hi\"\"\"\n",
               "zelk-match: ERROR: record #4, field #1: quoted field not closed by double quote\n"
               "zelk-match: file:  'standard input'\n");
}

TEST(Match, NulByteIsData) {
    std::string in = "h\nab\0cd\nabxcd\n"s;
    EXPECT_RUN(match({"-F", "1", "cd"}, in), 0, "h\nab\0cd\nabxcd\n"s, "");
    EXPECT_RUN(match({"-x", "1", "ab[^x]cd"}, in), 0, "h\nab\0cd\n"s, "");
    EXPECT_RUN(match({"-x", "1", "ab"}, in), 1, "h\n", "");
}

// The expressions the automaton takes and those left to regexec, with -i and -x, on the same
// fields; and the field length limit, which holds whether or not the field is unquoted.
TEST(Match, RegexAnswersAndFieldLimit) {
    const char *in = "h\nabc\nABC\nxyz\nab\n\"a\nc\"\nzz1\n";
    EXPECT_RUN(match({"-h", "1", "^[a-c]+$"}, in), 0, "abc\nab\n", "");
    EXPECT_RUN(match({"-h", "-i", "-x", "1", "[a-c]+|z"}, in), 0, "abc\nABC\nxyz\nab\n", "");
    EXPECT_RUN(match({"-h", "-u", "1", "a.c"}, in), 0, "abc\n\"a\nc\"\n", "");
    EXPECT_RUN(match({"-h", "1", "(z)\\1[0-9]"}, in), 0, "zz1\n", "");
    EXPECT_RUN(match({"-h", "-v", "1", "\\w{3}"}, in), 0, "h\nab\n\"a\nc\"\n", "");
    std::string big = "h\n" + std::string(8192, 'a') + "\n";
    for (const char *u : {"-x", "-u"})
        EXPECT_RUN(match({u, "1", "b"}, big), 1, "h\n",
                   "zelk-match: ERROR: record #2, field #1: field length exceeded MAX_FIELD_LENGTH "
                   "(8192)\nzelk-match: file:  'standard input'\n");
}

TEST(Match, HeaderNameAndUsageErrors) {
    EXPECT_RUN(match({"-Q", "n", "2"}, INPUT), 0, "name,n\ny,2\n", "");
    EXPECT_RUN(match({"-Q", "zz", "2"}, INPUT), 1, "",
               "zelk-match: ERROR: FIELD name 'zz' not found in header\n");
    EXPECT_RUN(match({"-h", "-Q", "n", "2"}, ""), 1, "",
               "zelk-match: Error: -h and -Q options not compatible!\n");
    EXPECT_RUN(match({"-o", "-h", "1", "2"}, ""), 1, "",
               "zelk-match: Error: -h and -o options not compatible!\n");
    EXPECT_RUN(match({"1", "("}, INPUT), 1, "",
               "zelk-match: ERROR: failed compiling regex PATTERN '('\n");
    RunResult r = match({"1"}, INPUT);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Program to 'grep' a particular field", 0), 0u);
    EXPECT_EQ(match({"-fx", "1", "a", "b"}, INPUT).err, r.err);
    EXPECT_RUN(match({"0", "a"}, INPUT), 1, "",
               "zelk-match: Invalid value for FIELD: 0 (must be >= 1)\n");
    EXPECT_RUN(match({"1", "a"}, ""), 1, "", "");
}

} // namespace
