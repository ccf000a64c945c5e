#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-colnum");

struct Colnum : ::testing::Test {
    TempDir dir;
    std::string h = dir.file("h.csv", "id,name,\"q\",age,name\n1,x,y,2,z\n");
};

const std::string CN = "zelk-colnum: ";

TEST_F(Colnum, Runs) {
    std::string e = dir.file("e.csv", "");
    std::string b = dir.file("b.csv", "\nid\n");
    std::string bad = dir.file("bad.csv", "a\"b\n");
    std::string n = dir.file("n.csv", "a\0b,a\n"s);
    const std::string format = CN + "ERROR: invalid format for FIELD_NAMES_LIST\n";
    const std::vector<RunCase> runs = {
        // Names to numbers. A repeated header name gives its first position; a quoted name is
        // found with or without its quotes.
        {argv("age,id", h), "", "4,1"},
        {argv("-n", "age,id,age", h), "", "4,1,4\n"},
        {argv("name,\"q\"", h, "-n"), "", "2,3\n"},
        {argv("q", h), "", "3"},
        {argv("Q", h), "", "", CN + "ERROR: FIELD name 'Q' not found in header\n", 1},
        // Bad names keep what was printed.
        {argv("-n", "name,,age", h), "", "2", format, 1},
        {argv("", h), "", "", format, 1},
        {argv(",id", h), "", "", format, 1},
        {argv("id,", h), "", "1", format, 1},
        {argv("id,nope,age", h), "", "1", CN + "ERROR: FIELD name 'nope' not found in header\n", 1},
        // An empty file, a blank header and bad input.
        {argv("-n", "a", e), "", "", CN + "ERROR: CSVFILE '" + e + "' is empty\n", 1},
        {argv("id", b), "", "",
         CN + "Warning: header record is empty in CSVFILE '" + b + "'\n" + CN +
             "ERROR: FIELD name 'id' not found in header\n",
         1},
        {argv("a", bad), "", "",
         read_error("zelk-colnum", "record #1, field #1: double-quote in unquoted field", bad,
                    "line 1, byte 2"),
         1},
        // A NUL byte in a header field is part of the name.
        {argv("a", n), "", "2"},
        // Usage.
        {argv(), "", "", USAGE, 1},
        {argv("a", h, h), "", "", USAGE, 1},
    };
    expect_runs("zelk-colnum", runs);
}

} // namespace
