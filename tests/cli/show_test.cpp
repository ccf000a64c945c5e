#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-show");

struct Show : ::testing::Test {
    TempDir dir;
    std::string people = dir.file("people.csv", "id,name\n7,Ann\n8,\"Bob\nJr\",x\n9\n\n10,\"\"\n");
};

const std::string S = "zelk-show: ";
const std::string EMPTY = S + "Warning: CSVFILE 'standard input' is empty\n";

TEST_F(Show, Runs) {
    std::string b = dir.file("b.csv", "k\nv\n");
    std::string missing = dir.join("missing.csv");
    // More fields than a record may be split into.
    std::string wide = "h\n" + std::string(512, ',') + "\n";
    // Read (the place is known), or kept as the last record and split afterwards.
    const std::string kept_too_wide =
        read_error("zelk-show", "record #2: number of fields exceeded MAX_FIELDS (512)");
    const std::string too_wide = kept_too_wide + "zelk-show: line 2, byte 515\n";
    const std::vector<RunCase> runs = {
        // One field per line; quoted fields keep their quotes, and a line break inside one is
        // shown as it is.
        {argv("2", people), "", "1: '7'\n2: 'Ann'\n"},
        {argv("3", people), "", "1: '8'\n2: '\"Bob\nJr\"'\n3: 'x'\n"},
        {argv("1"), "a,b,c,d,e,f,g,h,i,j\n",
         " 1: 'a'\n 2: 'b'\n 3: 'c'\n 4: 'd'\n 5: 'e'\n 6: 'f'\n 7: 'g'\n 8: 'h'\n"
         " 9: 'i'\n10: 'j'\n"},
        {argv("2"), "h\na\0b,c\n"s, "1: 'a\0b'\n2: 'c'\n"s},
        // Header labels: names longer than "[EXTRA]" set the width, and it pads to them; a
        // blank header has no names, so every field is extra.
        {argv("-h", "2", people), "", "1: id:   '7'\n2: name: 'Ann'\n"},
        {argv("-h", "3", people), "",
         "1: id:      '8'\n2: name:    '\"Bob\nJr\"'\n3: [EXTRA]: 'x'\n"},
        {argv("-h", "4", people), "", "1: id:   '9'\n2: name: [MISSING]\n"},
        {argv("-h", "2"), "long_name8,b\n1,2,3\n",
         "1: long_name8: '1'\n2: b:          '2'\n3: [EXTRA]:    '3'\n"},
        {argv("-h", "2"), "abcdefgh,b\n1,2,3\n",
         "1: abcdefgh: '1'\n2: b:        '2'\n3: [EXTRA]:  '3'\n"},
        {argv("-h", "2"), "\n1,2\n", "1: [EXTRA]: '1'\n2: [EXTRA]: '2'\n"},
        // Several records.
        {argv("-n3", "4", people), "",
         "Record #4:\n1: '9'\n\nRecord #5 is blank\n\nRecord #6:\n1: '10'\n2: '\"\"'\n"},
        {argv("-n", "5", "5", people), "",
         "Record #5 is blank\n\nRecord #6:\n1: '10'\n2: '\"\"'\n\n",
         S + "Warning: less than NUM (5) records after FIRST_RECORD (5) in CSVFILE '" + people +
             "'\n",
         1},
        // The last record.
        {argv("-h", "L", people), "", "Record #6:\n1: id:   '10'\n2: name: '\"\"'\n"},
        {argv("L"), "only,one\n", "Record #1:\n1: 'only'\n2: 'one'\n"},
        {argv("-h", "L"), "only,one\n", ""},
        {argv("L"), "a\n\n", "", S + "Warning: last record is empty\n", 1},
        {argv("L"), "", "", EMPTY, 1},
        // A last record that cannot be split, refused by number, and the same record shown
        // through the range, refused by the reader alike.
        {argv("L"), wide, "", kept_too_wide, 1},
        {argv("L"), "h\na\0b\n"s, "",
         read_error("zelk-show", "record #2 holds a NUL byte and cannot be split into fields"), 1},
        {argv("2"), wide, "", too_wide, 1},
        // Short files and errors; a CSV error while skipping is reported by the reader alone.
        {argv("9", people), "", "",
         S + "ERROR: less than FIRST_RECORD (9) records in CSVFILE '" + people + "'\n", 1},
        {argv("7", people), "", "",
         S + "ERROR: less than FIRST_RECORD (7) records in CSVFILE '" + people + "'\n", 1},
        {argv("1"), "", "", EMPTY, 1},
        {argv("-h", "2"), "", "", EMPTY, 1},
        {argv("3"), "a\"b\nc\nd\n", "",
         read_error("zelk-show", "record #1, field #1: double-quote in unquoted field",
                    "standard input", "line 1, byte 2"),
         1},
        {argv("-h", "5"), "h\n1\n\"open\n", "",
         read_error("zelk-show", "record #3, field #1: quoted field not closed by double quote",
                    "standard input", "line 4, byte 11"),
         1},
        {argv("-n2", "2"), "h\n1\n2,\"x\"y\n", "Record #2:\n1: '1'\n\n",
         read_error("zelk-show", "record #3, field #2: unescaped double quote char in quoted field",
                    "standard input", "line 3, byte 10"),
         1},
        // Several files, each after the first with a banner.
        {argv("-h", "2", people, b, missing, people), "",
         "1: id:   '7'\n2: name: 'Ann'\n\n==> " + b + " <==\n1: k: 'v'\n\n==> " + people +
             " <==\n1: id:   '7'\n2: name: 'Ann'\n",
         S + "ERROR: failed opening CSVFILE '" + missing + "': No such file or directory\n", 1},
        // Usage and argument errors.
        {argv(), "", "", USAGE, 1},
        {argv("-n3", "L"), "", "",
         S + "Error: FIRST_RECORD of 'L' not compatible with -nNUM > 1!\n", 1},
        {argv("-n1", "L"), "a\n", "Record #1:\n1: 'a'\n"},
        {argv("-h", "1"), "", "", S + "Error: -h option not compatible with FIRST_RECORD of '1'!\n",
         1},
        {argv("-nx", "2"), "", "",
         S + "Invalid value for -nNUM: x (does not represent an integer)\n", 1},
        {argv("-5"), "", "",
         S + "invalid option -- '5'\nTry 'zelk-show --help' for more information.\n", 1},
    };
    expect_runs("zelk-show", runs);
}

} // namespace
