#include "harness.h"

namespace {

const char *IN = "v\n5\n10\n15\n";

RunResult range(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-range", args, input);
}

const std::string RG = "zelk-range: ";

TEST(Range, Runs) {
    const char *blank = "a,b\n1,\n2, \t\n3\n\n4,5\n";
    const std::string pw = RG + "Error: -p and -w options not compatible!\n";
    const std::vector<RunCase> runs = {
        // Inclusive bounds and inversion; a repeated bound replaces the earlier one.
        {argv("-m", "5", "-x10", "1"), IN, "v\n5\n10\n"},
        {argv("-m", "5", "-x10", "-v", "1"), IN, "v\n15\n"},
        {argv("-m10", "1"), IN, "v\n10\n15\n"},
        {argv("-v", "1"), IN, "v\n"},
        {argv("-x", "10", "1"), "v\n10\n10.0000001\n9.99\n", "v\n10\n9.99\n"},
        {argv("-x1", "-x", "12", "-m", "0", "1"), IN, "v\n5\n10\n"},
        {argv("-h", "-o", "-t", "-m6", "1"), "7\n5\n", "",
         RG + "Error: -h and -o options not compatible!\n", 1},
        {argv("-h", "-t", "-m6", "1"), "7\n5\n", "7\r\n"},
        {argv("-o", "-Q", "b", "-x2"), "a,b\nx,1\ny,3\n", "x,1\n"},
        // The number expression: digits first (anything after them), or a point and digits last
        // (anything before them). A quoted field is read as its text would be unquoted, and
        // written as read; one that cannot stand unquoted (a comma, a doubled quote, a line
        // break) is no number.
        {argv("-h", "-m", "11", "-x", "12", "1"), "12abc\n", "12abc\n"},
        {argv("-h", "-x", "0", "1"), "x.5\n.5\n", "x.5\n"},
        {argv("-h", "-m", "999", "1"), "1e3\n1e2\n", "1e3\n"},
        {argv("-h", "-m", "5", "-x", "50", "1"), "\"42\"\n\"100\"\n\"12abc\"\n\".5\"\n\"1e1\"\n",
         "\"42\"\n\"12abc\"\n\"1e1\"\n"},
        {argv("-h", "-w", "1"), "\"\"\n\" \t\"\n", "",
         "Warning: record #1 has blank FIELD\nWarning: record #2 has blank FIELD\n"},
        // Bounds: signs, a point at either end, exponents; a typo is refused.
        {argv("-m5x", "1"), IN, "",
         RG + "Invalid value for -mMIN_VALUE: 5x (not a decimal number)\n", 1},
        {argv("-m", "1e999", "1"), IN, "",
         RG + "Invalid value for -mMIN_VALUE: 1e999 (invalid/out-of-range)\n", 1},
        {argv("-m", "-1e1", "-x+.5e1", "1"), "v\n-11\n-10\n5\n5.5\n", "v\n-10\n5\n"},
        {argv("-m", "5.", "-x", "10", "1"), IN, "v\n5\n10\n"},
        // Signed data fields are numbers like the bounds; the value is that of the decimal
        // prefix only: 0x10 is 0 (a decimal prefix 0), not 16; 2e3x is 2000.
        {argv("-x", "0", "1"), "v\n-3\n+2\n-.5\n-x.5\n0\n", "v\n-3\n-.5\n-x.5\n0\n"},
        {argv("-m", "-2", "-x", "-1", "1"), "v\n-3\n-1.5\n1.5\n", "v\n-1.5\n"},
        {argv("-m", "1", "1"), "v\n0x10\n2e3x\n", "v\n2e3x\n"},
        // Blank and missing fields.
        {argv("2"), blank, "a,b\n4,5\n"},
        {argv("-w", "2"), blank, "a,b\n4,5\n",
         "Warning: record #2 has blank FIELD\nWarning: record #3 has blank FIELD\n"
         "Warning: record #4 is missing FIELD\n"},
        {argv("-p", "-x1", "2"), blank, "a,b\n1,\n2, \t\n3\n"},
        {argv("-b", "2"), blank, "a,b\n\n4,5\n"},
        {argv("-p", "-w", "2"), blank, "", pw, 1},
        {argv("-w", "-p", "2"), blank, "", pw, 1},
        // Inputs and errors.
        {argv("1"), "", ""},
        {argv("1"), "v\n1\n\"2\n", "v\n1\n",
         read_error("zelk-range", "record #3, field #1: quoted field not closed by double quote",
                    "standard input", "line 3, byte 5"),
         1},
        {argv("-Q", "w", "-x1"), IN, "", RG + "ERROR: FIELD name 'w' not found in header\n", 1},
        {argv("-1", "1"), IN, "",
         RG + "invalid option -- '1'\nTry 'zelk-range --help' for more information.\n", 1},
    };
    expect_runs("zelk-range", runs);
    EXPECT_EQ(range({}, IN).err.rfind("Program to filter a CSV file", 0), 0u);
    EXPECT_EQ(range({"1", "a", "b"}, IN).status, 1);
}

// A field that is no number, as the message shows it (a line break escaped).
TEST(Range, NonNumericFieldsAreRefused) {
    for (const char *bad :
         {"abc", " 5", "--3", "+", "\"abc\"", "\" 5\"", "\"1,000\"", "\"4\"\"2\"", "\"1\n2\""}) {
        std::string shown = bad;
        if (size_t i = shown.find('\n'); i != std::string::npos) shown.replace(i, 1, "\\012");
        EXPECT_RUN(range({"-h", "1"}, std::string("7\n") + bad + "\n8\n"), 1, "7\n",
                   RG + "ERROR: record #2 has non-numeric data in FIELD: '" + shown + "'\n");
    }
}

// A bound must be a whole decimal number: a typo is refused rather than read as another
// number.
TEST(Range, BoundsAreWholeDecimalNumbers) {
    for (const char *bad : {"abc", "5x", "0x10", "", "1e", "inf", "nan", "1.2.3", "--1"}) {
        SCOPED_TRACE(bad);
        EXPECT_RUN(range({"-x", bad, "1"}, IN), 1, "",
                   RG + "Invalid value for -xMAX_VALUE: " + bad + " (not a decimal number)\n");
    }
}

} // namespace
