#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-width-tally");

// A 3-field header, records of 3, 2 (one field quoted, holding a comma and a line break) and
// 3 fields, then a blank line.
const std::string IN = "a,b,c\n1,2,3\n\"x,\ny\",2\n1,2,3\n\n";

RunResult tally(const std::vector<std::string> &args, const std::string &in = IN) {
    return run_tool("zelk-width-tally", args, in);
}

TEST(WidthTally, Layouts) {
    EXPECT_RUN(tally({}), 0, "1:3\n2:3\n3:2\n4:3\n5:0\n", "");
    EXPECT_RUN(tally({"-m"}), 0, "3:2\n5:0\n", "");
    EXPECT_RUN(tally({"-v"}), 0, "1:3\n2:3\n3:2*\n4:3\n5:0*\n", "");
    EXPECT_RUN(tally({"-c"}), 0, "3\n3\n2\n3\n0\n", "");
    EXPECT_RUN(tally({"-c", "-h"}), 0, "3\n3\n2\n3\n0\n", "");
}

TEST(WidthTally, RangeOfRecords) {
    EXPECT_RUN(tally({"-f3"}), 0, "3:2\n4:3\n5:0\n", "");
    EXPECT_RUN(tally({"-f", "3", "-h"}), 0, "1:3\n3:2\n4:3\n5:0\n", "");
    EXPECT_RUN(tally({"-f3", "-n1"}), 0, "3:2\n", "");
    // The header line printed only because of -h does not count towards NUMBER.
    EXPECT_RUN(tally({"-f3", "-h", "-n1"}), 0, "1:3\n3:2\n", "");
    EXPECT_RUN(tally({"-n1"}), 0, "1:3\n", "");
    EXPECT_RUN(tally({"-n2", "-c"}), 0, "3\n3\n", "");
    // Under -m the header is never counted: -n1 examines record 2 only, which matches.
    EXPECT_RUN(tally({"-m", "-n1"}), 0, "", "");
    EXPECT_RUN(tally({"-m", "-n2"}), 0, "3:2\n", "");
    EXPECT_RUN(tally({"-f9"}), 0, "", "");
}

TEST(WidthTally, EmptyInputAndErrors) {
    EXPECT_RUN(tally({}, ""), 1, "", "zelk-width-tally: Warning: CSVFILE is empty\n");
    // A blank line alone is a record of 0 fields, not an empty input.
    EXPECT_RUN(tally({}, "\n"), 0, "1:0\n", "");
    std::string bad = "a,b\n1,2\n1,\"2\"x\n3,4\n";
    // The reader's message comes whatever -v says.
    EXPECT_RUN(tally({}, bad), 1, "1:2\n2:2\n",
               "zelk-width-tally: ERROR: record #3, field #2: unescaped double quote char in "
               "quoted field\nzelk-width-tally: file:  'standard input'\n"
               "zelk-width-tally: line 3, byte 14\n");
    EXPECT_RUN(tally({"-v"}, bad), 1, "1:2\n2:2\n",
               "zelk-width-tally: ERROR: record #3, field #2: unescaped double quote char in "
               "quoted field\nzelk-width-tally: file:  'standard input'\n"
               "zelk-width-tally: line 3, byte 14\n");
    EXPECT_RUN(tally({"-v"}, "a\nb"), 0, "1:1\n2:1\n",
               "zelk-width-tally: Warning: final record not terminated: file 'standard input'\n");
}

TEST(WidthTally, Files) {
    EXPECT_RUN(tally({"-m", test_data("csv/ragged.csv")}), 0, "2:4\n3:2\n", "");
    EXPECT_RUN(tally({test_data("csv/blank_lead.csv")}), 0,
               "1:0\n2:0\n3:0\n4:3\n5:3\n", "");
}

TEST(WidthTally, OptionsAndUsage) {
    EXPECT_RUN(tally({"a", "b"}), 1, "", USAGE);
    struct {
        std::vector<std::string> args;
        const char *msg;
    } conflicts[] = {
        {{"-m", "-c"}, "Error: -c option not compatible with -m and -v options!"},
        {{"-v", "-c"}, "Error: -c option not compatible with -m and -v options!"},
        {{"-v", "-h"}, "Error: -h option not compatible with -m and -v options!"},
        {{"-c", "-m"}, "Error: -m option not compatible with -c, -h, -v options!"},
        {{"-hm"}, "Error: -m option not compatible with -c, -h, -v options!"},
        {{"-h", "-v"}, "Error: -v option not compatible with -c, -h, -m options!"},
        {{"-m", "-v"}, "Error: -v option not compatible with -c, -h, -m options!"},
    };
    for (auto &c : conflicts)
        EXPECT_RUN(tally(c.args), 1, "", std::string("zelk-width-tally: ") + c.msg + "\n");
    EXPECT_RUN(tally({"-f0"}), 1, "",
               "zelk-width-tally: Invalid value for -fFIRST: 0 (must be >= 1)\n");
    EXPECT_RUN(tally({"-n", "2x"}), 1, "",
               "zelk-width-tally: Invalid value for -nNUMBER: 2x (includes non-digits)\n");
    EXPECT_RUN(tally({"-f", " +3"}), 0, "3:2\n4:3\n5:0\n", "");
}

} // namespace
