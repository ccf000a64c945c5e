#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-table");

RunResult table(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-table", args, input);
}

const std::string E = "zelk-table: ";
const std::string NAMES = "id,name\n1,Alexander\n";

TEST(Table, Runs) {
    const std::string window = "a,b\n1,2\nlonger,3\n";
    std::string widths = "1";
    for (int i = 1; i < 513; i++)
        widths += ",1";
    const std::string f = E + "Error: -f option not compatible with -m, -n, -w, and -x options!\n";
    const std::string empty = E + "ERROR: CSVFILE 'standard input' is empty\n";
    const std::string blank = "\nab,c\n\nx,yz\n";
    const std::string quoted = "h1,h2\n\"a \"\"b\"\"\",\"x\ny\"\n";
    const std::string nul = "a,b\nx\0y,z\n"s;
    const std::vector<RunCase> runs = {
        // Justification. An odd surplus puts the extra blank on the right; the later of -r and
        // -c decides.
        {argv(), NAMES, "id name     \n1  Alexander\n"},
        {argv("-r"), NAMES, "id      name\n 1 Alexander\n"},
        {argv("-r", "-c"), NAMES, "id   name   \n1  Alexander\n"},
        {argv("-c", "-r"), NAMES, "id      name\n 1 Alexander\n"},
        {argv("-c", "-w6,2"), "abc,x\nab,xyz\n", " abc   x \n  ab   xyz\n"},
        {argv("-s", " | ", "-m3"), NAMES, "id  | name     \n1   | Alexander\n"},
        // The measuring window: with -n2, widths come from the first two records only, and the
        // longer value pushes its line right.
        {argv(), window, "a      b\n1      2\nlonger 3\n"},
        {argv("-n2"), window, "a b\n1 2\nlonger 3\n"},
        {argv("-n", "1", "-x4"), "a,b\n1,2,3\n\n", "a b\n",
         E + "ERROR: record #2 has 3 fields (2 in header)\n", 1},
        {argv("-n", "1", "-x4", "-a"), "a,b\n1,2,3\n", "a b\n1 2 3   \n"},
        {argv("-n", "1", "-a"), "a,b\n1,2,3\n", "a b\n",
         E + "ERROR: record #2 has 3 fields, but only 2 field widths available\n", 1},
        // The width list.
        {argv("-w3,4"), "a,b,c\n", "",
         E + "ERROR: record #1 has 3 fields, but only 2 field widths available\n", 1},
        {argv("-w3,4", "-x5"), "a,b,c\n", "a   b    c    \n"},
        {argv("-w3,,4"), "a\n", "",
         E + "Invalid value for WIDTHS_LIST element:  (does not represent an integer)\n", 1},
        {argv("-w3,0"), "a\n", "", E + "Invalid value for WIDTHS_LIST element: 0 (must be >= 1)\n",
         1},
        {argv("-w" + widths), "a\n", "", E + "ERROR: WIDTHS_LIST has more than 512 entries\n", 1},
        // A fixed width.
        {argv("-f4"), "a,bcdef\n1,2,3\n", "a    bcdef\n",
         E + "ERROR: record #2 has 3 fields (2 in header)\n", 1},
        {argv("-f4", "-a", "-r"), "a,bcdef\n1,2,3\n", "   a bcdef\n   1    2    3\n"},
        // Option conflicts and values; -n with its default value does not count as given.
        {argv("-n0"), "", "", E + "Invalid value for -nNUMRECS: 0 (must be >= 1)\n", 1},
        {argv("-f0"), "", "", E + "Invalid value for -fWIDTH: 0 (must be >= 1)\n", 1},
        {argv("-m2x"), "", "", E + "Invalid value for -mWIDTH: 2x (includes non-digits)\n", 1},
        {argv("-xy"), "", "", E + "Invalid value for -xWIDTH: y (does not represent an integer)\n",
         1},
        {argv("-m3", "-f5"), "", "", f, 1},
        {argv("-n3", "-f5"), "", "", f, 1},
        {argv("-w3", "-f5"), "", "", f, 1},
        {argv("-x3", "-f5"), "", "", f, 1},
        {argv("-f5", "-x3"), "", "", E + "Error: -f and -x options not compatible!\n", 1},
        {argv("-f5", "-m3"), "", "",
         E + "Error: -m option not compatible with -f and -w options!\n", 1},
        {argv("-w5", "-n3"), "", "",
         E + "Error: -n option not compatible with -f and -w options!\n", 1},
        {argv("-m1", "-w5"), "", "",
         E + "Error: -w option not compatible with -f, -m, and -n options!\n", 1},
        {argv("-n10", "-f2"), "a\n", "a \n"},
        {argv("-w3", "-x2"), "a,b\n", "a   b \n"},
        // An empty or blank input: with nothing to measure, status 1 and a message that says
        // so. A skipped blank first line does not become the header: the first record with
        // fields is.
        {argv(), "", "", empty, 1},
        {argv(), "\n\n", "", empty, 1},
        {argv("-f3"), "", ""},
        {argv("-w3"), "\n", ""},
        {argv(), blank, "ab c \nx  yz\n"},
        {argv("-b"), blank, "\nab c \n\nx  yz\n"},
        {argv("-f2"), blank, "ab c \nx  yz\n"},
        {argv("-f2", "-b"), blank + "1\n", "\nab c \n\nx  yz\n",
         E + "ERROR: record #5 has 1 fields (2 in header)\n", 1},
        // Unquoting.
        {argv("-u"), quoted, "h1    h2    \na \"b\" x<LF>y\n"},
        {argv(), quoted, "h1        h2   \n\"a \"\"b\"\"\" \"x\ny\"\n"},
        {argv("-u", "-f3"), quoted, "h1  h2 \na \"b\" x<LF>y\n"},
        // NUL bytes.
        {argv("-f4"), nul, "a    b   \nx\0y  z   \n"s},
        {argv("-n1"), nul, "a b\nx\0y z\n"s},
        {argv(), nul, "", E + "ERROR: record #2: a NUL byte cannot be measured for field widths\n",
         1},
        {argv("-u", "-f4"), nul, "a    b   \n",
         E + "ERROR: record #2, field #1: a NUL byte cannot be unquoted\n", 1},
        // Input errors, and usage.
        {argv("-n1"), "a,b\n1,2\n3,\"4\n", "a b\n1 2\n",
         read_error("zelk-table", "record #3, field #2: quoted field not closed by double quote",
                    "standard input", "line 3, byte 11"),
         1},
        {argv(), "a,b\n1,\"2\n", "",
         read_error("zelk-table", "record #2, field #2: quoted field not closed by double quote",
                    "standard input", "line 2, byte 7"),
         1},
        {argv("a", "b"), "", "", USAGE, 1},
    };
    expect_runs("zelk-table", runs);
}

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
