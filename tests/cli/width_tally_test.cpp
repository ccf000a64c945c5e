#include "harness.h"

namespace {

const char *USAGE =
    "Program to check and print out fields counts for the records in a CSV file.\n\n"
    "By default shows counts for header (record 1) and all records, prefixed by record number.\n"
    "Use -m option to see only records whose fields counts do not match header.\n\n"
    "Usage: zelk-width-tally [OPTION...] [CSVFILE]\n\n"
    "Options:\n"
    "  -c       -- counts only, do not print record number prefixes\n"
    "  -fFIRST  -- first record to print fields count for (1-based index, header is 1, the "
    "default)\n"
    "  -h       -- print header (record #1) fields count even if header not in records range\n"
    "  -m       -- mismatches only: print fields counts for records that differ from header\n"
    "  -nNUMBER -- number of records to process (default is all from FIRST)\n"
    "  -v       -- verbose: mark records where fields count differs from header\n";

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
    // Without -v the reader names the file only; with -v it describes the error too.
    std::string bad = "a,b\n1,2\n1,\"2\"x\n3,4\n";
    EXPECT_RUN(tally({}, bad), 1, "1:2\n2:2\n", "zelk-width-tally: file:  'standard input'\n");
    EXPECT_RUN(tally({"-v"}, bad), 1, "1:2\n2:2\n",
               "zelk-width-tally: ERROR: record #3, field #2: unescaped double quote char in "
               "quoted field\nzelk-width-tally: file:  'standard input'\n");
    EXPECT_RUN(tally({"-v"}, "a\nb"), 0, "1:1\n2:1\n",
               "zelk-width-tally: Warning: final record not terminated\n");
    EXPECT_RUN(tally({"/nonexistent/x.csv"}), 1, "",
               "zelk-width-tally: ERROR: failed opening CSVFILE '/nonexistent/x.csv': No such "
               "file or directory\n");
    RunOptions o;
    o.input = IN;
    o.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool("zelk-width-tally", {}, o), 1, "",
               "zelk-width-tally: Error: failed writing output to standard output: No space "
               "left on device\n");
}

TEST(WidthTally, Files) {
    EXPECT_RUN(tally({"-m", test_data("csv/ragged.csv")}), 0, "2:4\n3:2\n", "");
    EXPECT_RUN(tally({test_data("csv/blank_lead.csv")}), 0,
               "1:0\n2:0\n3:0\n4:3\n5:3\n", "");
}

TEST(WidthTally, OptionsAndUsage) {
    EXPECT_RUN(tally({"--help"}), 1, "", USAGE);
    EXPECT_RUN(tally({"a", "b"}), 1, "", USAGE);
    EXPECT_RUN(tally({"-x"}), 1, "",
               "zelk-width-tally: invalid option -- 'x'\n"
               "Try 'zelk-width-tally --help' for more information.\n");
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
