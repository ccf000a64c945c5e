#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-rows");

struct Rows : ::testing::Test {
    TempDir dir;
    std::string five = dir.file("five.csv", "h\n1\n\"2\nx\"\n3\n4\n");
    std::string blanks = dir.file("blanks.csv", "h\n1\n\n2\r\n\n");
    // Record k, after the header, is k,"a<LF>b" with CR LF: enough of them for records to be
    // skipped many at a time, and their number in each.
    std::string many = [this] {
        std::string s = "h\r\n";
        for (int k = 2; k <= 400; k++)
            s += std::to_string(k) + ",\"a\nb\"\r\n";
        return dir.file("many.csv", s);
    }();
};

const std::string R = "zelk-rows: ";

TEST_F(Rows, Runs) {
    std::string e = dir.file("e.csv", "");
    std::string two = dir.file("two.csv", "h\nonly\n");
    std::string missing = dir.join("missing.csv");
    const std::vector<RunCase> runs = {
        // The range and the count; the range runs to the end of the file: every record asked
        // for is printed, status 0.
        {argv("-h", "-n2", "2", five), "", "h\n1\n\"2\nx\"\n"},
        {argv("-n", "1", "3", five), "", "\"2\nx\"\n"},
        {argv("4", five), "", "3\n4\n"},
        {argv("-n2", "299", many), "", "299,\"a\nb\"\n300,\"a\nb\"\n"},
        {argv("400", many), "", "400,\"a\nb\"\n"},
        {argv("1"), "a\nb", "a\nb\n",
         R + "Warning: final record not terminated: file 'standard input'\n"},
        {argv("-t", "-n2", "1", five), "", "h\r\n1\r\n"},
        {argv("-z", "3", five), "", "\"2\nx\"\0003\0004\0"s},
        // Dropped blank records do not count towards NUM; with -b they are printed and count.
        // A range of blank records only is not a short file.
        {argv("-n2", "2", blanks), "", "1\n2\n"},
        {argv("-b", "-n2", "2", blanks), "", "1\n\n"},
        {argv("-v", "-b", "3", blanks), "", "3:\n4:2\n5:\n"},
        {argv("5", blanks), "", ""},
        // The last record. Blank records count here, whatever -b says; in a file of one record
        // its header is all there is.
        {argv("L", five), "", "4\n"},
        {argv("-v", "L"), "a\nb\nc\n", "3:c\n"},
        {argv("-h", "-n1", "L", five), "", "h\n4\n"},
        {argv("-v", "L", blanks), "", "5:\n"},
        {argv("-h", "L"), "only\n", "only\n"},
        {argv("L"), "only\n", "only\n"},
        {argv("L"), "", "", R + "Warning: CSVFILE 'standard input' is empty\n", 1},
        {argv("L"), "a\nb\"\nc\n", "",
         read_error("zelk-rows", "record #2, field #1: double-quote in unquoted field",
                    "standard input", "line 2, byte 4"),
         1},
        // Short files. With 6 the skip ends exactly at the end of the file: the read of the
        // range finds nothing.
        {argv("7", five), "", "",
         R + "ERROR: less than FIRST_RECORD (7) records in CSVFILE '" + five + "'\n", 1},
        {argv("6", five), "", "",
         R + "ERROR: less than FIRST_RECORD (6) records in CSVFILE '" + five + "'\n", 1},
        {argv("-n5", "4", five), "", "3\n4\n",
         R + "Warning: less than NUM (5) records after FIRST_RECORD (4) in CSVFILE '" + five +
             "'\n",
         1},
        {argv("1", e), "", "", R + "Warning: CSVFILE '" + e + "' is empty\n", 1},
        {argv("3", e), "", "", R + "Warning: CSVFILE '" + e + "' is empty\n", 1},
        {argv("-h", "2", e), "", "", R + "Warning: CSVFILE '" + e + "' is empty\n", 1},
        // An error while skipping: the reader's message stands alone, no "empty" or "less
        // than" after it. An error inside the range ends that file after the records before it.
        {argv("3"), "a\"b\nc\nd\n", "",
         read_error("zelk-rows", "record #1, field #1: double-quote in unquoted field",
                    "standard input", "line 1, byte 2"),
         1},
        {argv("4"), "h\n1\n\"open\n", "",
         read_error("zelk-rows", "record #3, field #1: quoted field not closed by double quote",
                    "standard input", "line 4, byte 11"),
         1},
        {argv("2"), "h\n1\n2\r3\n4\n", "1\n",
         read_error("zelk-rows", "record #3: carriage return not in quoted field", "standard input",
                    "line 3, byte 6"),
         1},
        // Several files.
        {argv("-v", "-h", "-n1", "3", five, missing, two), "",
         five + ":1:h\n" + five + ":3:\"2\nx\"\n" + two + ":1:h\n",
         R + "ERROR: failed opening CSVFILE '" + missing + "': No such file or directory\n" + R +
             "ERROR: less than FIRST_RECORD (3) records in CSVFILE '" + two + "'\n",
         1},
        {argv("L", five, two), "", "4\nonly\n"},
        // NUL bytes are copied.
        {argv("2"), "h\na\0b,c\n"s, "a\0b,c\n"s},
        {argv("L"), "h\na\0b,c\n"s, "a\0b,c\n"s},
        // Usage and argument errors.
        {argv(), "", "", USAGE, 1},
        {argv("-n2", "L", five), "", "",
         R + "Error: FIRST_RECORD of 'L' not compatible with -nNUM > 1!\n", 1},
        {argv("-h", "1", five), "", "",
         R + "Error: -h option not compatible with FIRST_RECORD of '1'!\n", 1},
        {argv("0", five), "", "", R + "Invalid value for FIRST_RECORD: 0 (must be >= 1)\n", 1},
        {argv("l", five), "", "",
         R + "Invalid value for FIRST_RECORD: l (does not represent an integer)\n", 1},
        {argv("-n0", "2", five), "", "", R + "Invalid value for -nNUM: 0 (must be >= 1)\n", 1},
        {argv("-z", "-t", "2", five), "", "", R + "Error: -t and -z options not compatible!\n", 1},
        {argv("-o", "2"), "", "",
         R + "invalid option -- 'o'\nTry 'zelk-rows --help' for more information.\n", 1},
    };
    expect_runs("zelk-rows", runs);
}

} // namespace
