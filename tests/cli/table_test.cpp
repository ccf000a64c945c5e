#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-table");

RunResult table(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-table", args, input);
}

const std::string E = "zelk-table: ";
const std::string NAMES = "id,name\n1,Alexander\n";

TEST(Table, Justification) {
    EXPECT_RUN(table({}, NAMES), 0, "id name     \n1  Alexander\n", "");
    EXPECT_RUN(table({"-r"}, NAMES), 0, "id      name\n 1 Alexander\n", "");
    // An odd surplus puts the extra blank on the right; the later of -r and -c decides.
    EXPECT_RUN(table({"-r", "-c"}, NAMES), 0, "id   name   \n1  Alexander\n", "");
    EXPECT_RUN(table({"-c", "-r"}, NAMES), 0, "id      name\n 1 Alexander\n", "");
    EXPECT_RUN(table({"-c", "-w6,2"}, "abc,x\nab,xyz\n"), 0, " abc   x \n  ab   xyz\n", "");
    EXPECT_RUN(table({"-s", " | ", "-m3"}, NAMES), 0, "id  | name     \n1   | Alexander\n", "");
}

TEST(Table, MeasuringWindow) {
    std::string in = "a,b\n1,2\nlonger,3\n";
    EXPECT_RUN(table({}, in), 0, "a      b\n1      2\nlonger 3\n", "");
    // Widths from the first two records only: the longer value pushes its line right.
    EXPECT_RUN(table({"-n2"}, in), 0, "a b\n1 2\nlonger 3\n", "");
    EXPECT_RUN(table({"-n", "1", "-x4"}, "a,b\n1,2,3\n\n"), 1, "a b\n",
               E + "ERROR: record #2 has 3 fields (2 in header)\n");
    EXPECT_RUN(table({"-n", "1", "-x4", "-a"}, "a,b\n1,2,3\n"), 0, "a b\n1 2 3   \n", "");
    EXPECT_RUN(table({"-n", "1", "-a"}, "a,b\n1,2,3\n"), 1, "a b\n",
               E + "ERROR: record #2 has 3 fields, but only 2 field widths available\n");
}

TEST(Table, WidthList) {
    EXPECT_RUN(table({"-w3,4"}, "a,b,c\n"), 1, "",
               E + "ERROR: record #1 has 3 fields, but only 2 field widths available\n");
    EXPECT_RUN(table({"-w3,4", "-x5"}, "a,b,c\n"), 0, "a   b    c    \n", "");
    EXPECT_RUN(table({"-w3,,4"}, "a\n"), 1, "",
               E + "Invalid value for WIDTHS_LIST element:  (does not represent an integer)\n");
    EXPECT_RUN(table({"-w3,0"}, "a\n"), 1, "",
               E + "Invalid value for WIDTHS_LIST element: 0 (must be >= 1)\n");
    std::string widths = "1";
    for (int i = 1; i < 513; i++) widths += ",1";
    EXPECT_RUN(table({"-w" + widths}, "a\n"), 1, "",
               E + "ERROR: WIDTHS_LIST has more than 512 entries\n");
    // The file is opened before the list is read.
}

TEST(Table, FixedWidth) {
    EXPECT_RUN(table({"-f4"}, "a,bcdef\n1,2,3\n"), 1, "a    bcdef\n",
               E + "ERROR: record #2 has 3 fields (2 in header)\n");
    EXPECT_RUN(table({"-f4", "-a", "-r"}, "a,bcdef\n1,2,3\n"), 0,
               "   a bcdef\n   1    2    3\n", "");
}

TEST(Table, OptionConflictsAndValues) {
    EXPECT_RUN(table({"-n0"}, ""), 1, "", E + "Invalid value for -nNUMRECS: 0 (must be >= 1)\n");
    EXPECT_RUN(table({"-f0"}, ""), 1, "", E + "Invalid value for -fWIDTH: 0 (must be >= 1)\n");
    EXPECT_RUN(table({"-m2x"}, ""), 1, "", E + "Invalid value for -mWIDTH: 2x (includes non-digits)\n");
    EXPECT_RUN(table({"-xy"}, ""), 1, "",
               E + "Invalid value for -xWIDTH: y (does not represent an integer)\n");
    const std::string f = E + "Error: -f option not compatible with -m, -n, -w, and -x options!\n";
    EXPECT_RUN(table({"-m3", "-f5"}, ""), 1, "", f);
    EXPECT_RUN(table({"-n3", "-f5"}, ""), 1, "", f);
    EXPECT_RUN(table({"-w3", "-f5"}, ""), 1, "", f);
    EXPECT_RUN(table({"-x3", "-f5"}, ""), 1, "", f);
    EXPECT_RUN(table({"-f5", "-x3"}, ""), 1, "", E + "Error: -f and -x options not compatible!\n");
    EXPECT_RUN(table({"-f5", "-m3"}, ""), 1, "",
               E + "Error: -m option not compatible with -f and -w options!\n");
    EXPECT_RUN(table({"-w5", "-n3"}, ""), 1, "",
               E + "Error: -n option not compatible with -f and -w options!\n");
    EXPECT_RUN(table({"-m1", "-w5"}, ""), 1, "",
               E + "Error: -w option not compatible with -f, -m, and -n options!\n");
    // -n with its default value does not count as given.
    EXPECT_RUN(table({"-n10", "-f2"}, "a\n"), 0, "a \n", "");
    EXPECT_RUN(table({"-w3", "-x2"}, "a,b\n"), 0, "a   b \n", "");
}

TEST(Table, EmptyAndBlankInput) {
    // Nothing to measure: status 1, and a message that says so.
    EXPECT_RUN(table({}, ""), 1, "", E + "ERROR: CSVFILE 'standard input' is empty\n");
    EXPECT_RUN(table({}, "\n\n"), 1, "", E + "ERROR: CSVFILE 'standard input' is empty\n");
    EXPECT_RUN(table({"-f3"}, ""), 0, "", "");
    EXPECT_RUN(table({"-w3"}, "\n"), 0, "", "");
    std::string in = "\nab,c\n\nx,yz\n";
    EXPECT_RUN(table({}, in), 0, "ab c \nx  yz\n", "");
    EXPECT_RUN(table({"-b"}, in), 0, "\nab c \n\nx  yz\n", "");
    // A skipped blank first line does not become the header: the first record with fields is.
    EXPECT_RUN(table({"-f2"}, in), 0, "ab c \nx  yz\n", "");
    EXPECT_RUN(table({"-f2", "-b"}, in + "1\n"), 1, "\nab c \n\nx  yz\n",
               E + "ERROR: record #5 has 1 fields (2 in header)\n");
}

TEST(Table, Unquoting) {
    std::string in = "h1,h2\n\"a \"\"b\"\"\",\"x\ny\"\n";
    EXPECT_RUN(table({"-u"}, in), 0, "h1    h2    \na \"b\" x<LF>y\n", "");
    EXPECT_RUN(table({}, in), 0, "h1        h2   \n\"a \"\"b\"\"\" \"x\ny\"\n", "");
    EXPECT_RUN(table({"-u", "-f3"}, in), 0, "h1  h2 \na \"b\" x<LF>y\n", "");
}

TEST(Table, NulBytes) {
    std::string in = "a,b\nx\0y,z\n"s;
    EXPECT_RUN(table({"-f4"}, in), 0, "a    b   \nx\0y  z   \n"s, "");
    EXPECT_RUN(table({"-n1"}, in), 0, "a b\nx\0y z\n"s, "");
    EXPECT_RUN(table({}, in), 1, "",
               E + "ERROR: record #2: a NUL byte cannot be measured for field widths\n");
    EXPECT_RUN(table({"-u", "-f4"}, in), 1, "a    b   \n",
               E + "ERROR: record #2, field #1: a NUL byte cannot be unquoted\n");
}

TEST(Table, InputAndOutputErrors) {
    EXPECT_RUN(table({"-n1"}, "a,b\n1,2\n3,\"4\n"), 1, "a b\n1 2\n",
               E + "ERROR: record #3, field #2: quoted field not closed by double quote\n" + E +
                   "file:  'standard input'\n");
    EXPECT_RUN(table({}, "a,b\n1,\"2\n"), 1, "",
               E + "ERROR: record #2, field #2: quoted field not closed by double quote\n" + E +
                   "file:  'standard input'\n");
}

TEST(Table, Usage) {
    EXPECT_RUN(table({"a", "b"}, ""), 1, "", USAGE);
}

} // namespace

namespace {

// Widths are display widths in a UTF-8 locale (two columns for a wide character, none for a
// combining mark) and bytes otherwise; -n measures as many records as asked.
TEST(Table, DisplayWidthsAndManyMeasuredRecords) {
    TempDir dir;
    std::string f = dir.file("u.csv", "city,n\nZ\xc3\xbcrich,1\n\xe6\x9d\xb1\xe4\xba\xac,22\n"
                                      "e\xcc\x81t\xc3\xa9,3\n\xff\xfe,4\n");
    EXPECT_RUN(run_shell("LC_ALL=C.UTF-8 zelk-table -s'|' '" + f + "'"), 0,
               "city  |n \nZ\xc3\xbcrich|1 \n\xe6\x9d\xb1\xe4\xba\xac  |22\n"
               "e\xcc\x81t\xc3\xa9   |3 \n\xff\xfe    |4 \n",
               "");
    EXPECT_RUN(run_shell("LC_ALL=C zelk-table -r '" + f + "'"), 0,
               "   city  n\nZ\xc3\xbcrich  1\n \xe6\x9d\xb1\xe4\xba\xac 22\n"
               " e\xcc\x81t\xc3\xa9  3\n     \xff\xfe  4\n",
               "");
    // The widest value at record 15 sets the width with -n20.
    std::string in = "v\n";
    for (int i = 0; i < 13; i++) in += "a\n";
    in += "abcdef\nb\n";
    std::string wide = "v     \n", narrow = "v\n";
    for (int i = 0; i < 13; i++) wide += "a     \n", narrow += "a\n";
    EXPECT_RUN(table({"-n20"}, in), 0, wide + "abcdef\nb     \n", "");
    EXPECT_RUN(table({"-n3"}, in), 0, narrow + "abcdef\nb\n", "");
}

} // namespace
