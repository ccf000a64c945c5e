#include "harness.h"

namespace {

const char *IN = "v\n5\n10\n15\n";

RunResult range(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-range", args, input);
}

TEST(Range, InclusiveBoundsAndInversion) {
    EXPECT_RUN(range({"-m", "5", "-x10", "1"}, IN), 0, "v\n5\n10\n", "");
    EXPECT_RUN(range({"-m", "5", "-x10", "-v", "1"}, IN), 0, "v\n15\n", "");
    EXPECT_RUN(range({"-m10", "1"}, IN), 0, "v\n10\n15\n", "");
    EXPECT_RUN(range({"-v", "1"}, IN), 0, "v\n", "");
    EXPECT_RUN(range({"-x", "10", "1"}, "v\n10\n10.0000001\n9.99\n"), 0, "v\n10\n9.99\n", "");
    // A repeated bound replaces the earlier one.
    EXPECT_RUN(range({"-x1", "-x", "12", "-m", "0", "1"}, IN), 0, "v\n5\n10\n", "");
    EXPECT_RUN(range({"-h", "-o", "-t", "-m6", "1"}, "7\n5\n"), 1, "",
               "zelk-range: Error: -h and -o options not compatible!\n");
    EXPECT_RUN(range({"-h", "-t", "-m6", "1"}, "7\n5\n"), 0, "7\r\n", "");
    EXPECT_RUN(range({"-o", "-Q", "b", "-x2"}, "a,b\nx,1\ny,3\n"), 0, "x,1\n", "");
}

TEST(Range, NumberExpression) {
    // Digits first (anything after them), or a point and digits last (anything before them).
    EXPECT_RUN(range({"-h", "-m", "11", "-x", "12", "1"}, "12abc\n"), 0, "12abc\n", "");
    EXPECT_RUN(range({"-h", "-x", "0", "1"}, "x.5\n.5\n"), 0, "x.5\n", "");
    EXPECT_RUN(range({"-h", "-m", "999", "1"}, "1e3\n1e2\n"), 0, "1e3\n", "");
    // A quoted field is read as its text would be unquoted, and written as read; one that
    // cannot stand unquoted (a comma, a doubled quote, a line break) is no number.
    EXPECT_RUN(
        range({"-h", "-m", "5", "-x", "50", "1"}, "\"42\"\n\"100\"\n\"12abc\"\n\".5\"\n\"1e1\"\n"),
        0, "\"42\"\n\"12abc\"\n\"1e1\"\n", "");
    EXPECT_RUN(range({"-h", "-w", "1"}, "\"\"\n\" \t\"\n"), 0, "",
               "Warning: record #1 has blank FIELD\nWarning: record #2 has blank FIELD\n");
    for (const char *bad :
         {"abc", " 5", "--3", "+", "\"abc\"", "\" 5\"", "\"1,000\"", "\"4\"\"2\"", "\"1\n2\""}) {
        std::string shown = bad; // as the message shows it, a line break escaped
        if (size_t i = shown.find('\n'); i != std::string::npos) shown.replace(i, 1, "\\012");
        EXPECT_RUN(range({"-h", "1"}, std::string("7\n") + bad + "\n8\n"), 1, "7\n",
                   std::string("zelk-range: ERROR: record #2 has non-numeric data in FIELD: '") +
                       shown + "'\n");
    }
}

// A bound must be a whole decimal number: a typo is refused rather than read as another
// number.
TEST(Range, BoundsAreWholeDecimalNumbers) {
    for (const char *bad : {"abc", "5x", "0x10", "", "1e", "inf", "nan", "1.2.3", "--1"}) {
        SCOPED_TRACE(bad);
        EXPECT_RUN(range({"-x", bad, "1"}, IN), 1, "",
                   std::string("zelk-range: Invalid value for -xMAX_VALUE: ") + bad +
                       " (not a decimal number)\n");
    }
    EXPECT_RUN(range({"-m5x", "1"}, IN), 1, "",
               "zelk-range: Invalid value for -mMIN_VALUE: 5x (not a decimal number)\n");
    EXPECT_RUN(range({"-m", "1e999", "1"}, IN), 1, "",
               "zelk-range: Invalid value for -mMIN_VALUE: 1e999 (invalid/out-of-range)\n");
    // Signs, a point at either end, exponents.
    EXPECT_RUN(range({"-m", "-1e1", "-x+.5e1", "1"}, "v\n-11\n-10\n5\n5.5\n"), 0,
               "v\n-10\n5\n", "");
    EXPECT_RUN(range({"-m", "5.", "-x", "10", "1"}, IN), 0, "v\n5\n10\n", "");
}

// Signed data fields are numbers like the bounds; the value is that of the decimal prefix only.
TEST(Range, SignedAndPrefixedFields) {
    EXPECT_RUN(range({"-x", "0", "1"}, "v\n-3\n+2\n-.5\n-x.5\n0\n"), 0, "v\n-3\n-.5\n-x.5\n0\n",
               "");
    EXPECT_RUN(range({"-m", "-2", "-x", "-1", "1"}, "v\n-3\n-1.5\n1.5\n"), 0, "v\n-1.5\n", "");
    // 0x10 is 0 (a decimal prefix 0), not 16; 2e3x is 2000.
    EXPECT_RUN(range({"-m", "1", "1"}, "v\n0x10\n2e3x\n"), 0, "v\n2e3x\n", "");
}

TEST(Range, BlankAndMissingFields) {
    const char *in = "a,b\n1,\n2, \t\n3\n\n4,5\n";
    EXPECT_RUN(range({"2"}, in), 0, "a,b\n4,5\n", "");
    EXPECT_RUN(range({"-w", "2"}, in), 0, "a,b\n4,5\n",
               "Warning: record #2 has blank FIELD\nWarning: record #3 has blank FIELD\n"
               "Warning: record #4 is missing FIELD\n");
    EXPECT_RUN(range({"-p", "-x1", "2"}, in), 0, "a,b\n1,\n2, \t\n3\n", "");
    EXPECT_RUN(range({"-b", "2"}, in), 0, "a,b\n\n4,5\n", "");
    EXPECT_RUN(range({"-p", "-w", "2"}, in), 1, "",
               "zelk-range: Error: -p and -w options not compatible!\n");
    EXPECT_RUN(range({"-w", "-p", "2"}, in), 1, "",
               "zelk-range: Error: -p and -w options not compatible!\n");
}

TEST(Range, InputsAndErrors) {
    EXPECT_RUN(range({"1"}, ""), 0, "", "");
    EXPECT_RUN(range({"1"}, "v\n1\n\"2\n"), 1, "v\n1\n",
               "zelk-range: ERROR: record #3, field #1: quoted field not closed by double quote\n"
               "zelk-range: file:  'standard input'\n");
    EXPECT_RUN(range({"-Q", "w", "-x1"}, IN), 1, "",
               "zelk-range: ERROR: FIELD name 'w' not found in header\n");
    EXPECT_RUN(
        range({"-1", "1"}, IN), 1, "",
        "zelk-range: invalid option -- '1'\nTry 'zelk-range --help' for more information.\n");
    EXPECT_EQ(range({}, IN).err.rfind("Program to filter a CSV file", 0), 0u);
    EXPECT_EQ(range({"1", "a", "b"}, IN).status, 1);
}

} // namespace
