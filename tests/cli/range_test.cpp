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
    // A repeated bound replaces the earlier one; a bound that is not a number is 0.
    EXPECT_RUN(range({"-x1", "-x", "12", "-m", "abc", "1"}, IN), 0, "v\n5\n10\n", "");
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
    for (const char *bad : {"-3", "\"12\"", "abc", " 5"}) {
        EXPECT_RUN(range({"-h", "1"}, std::string("7\n") + bad + "\n8\n"), 1, "7\n",
                   std::string("zelk-range: ERROR: record #2 has non-numeric data in FIELD: '") +
                       bad + "'\n");
    }
}

TEST(Range, ValuesAreReadAsStrtodReadsThem) {
    // Bounds met exactly, whatever the spelling: more digits than a double holds, an exponent,
    // a hexadecimal number, a point with no digits after it.
    struct {
        const char *lo, *hi, *in, *out;
    } cases[] = {
        {"0.3", "0.3", "0.3\n0.30000000000000004\n0.29999999999999998889776975\n0.2999999\n",
         "0.3\n0.29999999999999998889776975\n"},
        {"9007199254740992", "9007199254740992", "9007199254740993\n9007199254740994\n",
         "9007199254740993\n"},
        {"15", "16", "1.5e1\n0x10\n0X11\n2.\n15.000000000000000000001x\n",
         "1.5e1\n0x10\n15.000000000000000000001x\n"},
        {"0.1", "0.1", "0.1\n0.10000000000000001\n0.1000000000000000055511151231257827\n",
         "0.1\n0.10000000000000001\n0.1000000000000000055511151231257827\n"},
    };
    for (const auto &c : cases)
        EXPECT_RUN(range({"-h", "-m", c.lo, "-x", c.hi, "1"}, c.in), 0, c.out, "");
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
