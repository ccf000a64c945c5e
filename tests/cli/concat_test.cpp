#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-concat");

const char *TRY = "Try 'zelk-concat --help' for more information.\n";

struct Concat : ::testing::Test {
    TempDir dir;
    std::string a = dir.file("a.csv", "id,name\n1,\"x,y\"\n2,\"multi\nline\"\n");
    std::string b = dir.file("b.csv", "id,name\r\n3,z\r\n");
};

const std::string C = "zelk-concat: ";
const std::string AB = "id,name\n1,\"x,y\"\n2,\"multi\nline\"\n";

TEST_F(Concat, Runs) {
    std::string s = dir.file("s.csv", "\n\r\nh1,h2\n\nv1,v2\n");
    std::string differs = C + "Warning: header of CSVFILE '" + s +
                          "' differs from that of CSVFILE '" + a + "' at field #1\n";
    std::string missing = dir.join("missing.csv");
    std::string e = dir.file("e.csv", "");
    std::string blanks = dir.file("blanks.csv", "\n\n");
    std::string bad = dir.file("bad.csv", "id,name\n4,ok\n5,a\"b\n6,never\n");
    std::string n = dir.file("n.csv", "h\na\0b,c\n\0\n"s);
    std::string bare = test_data("csv/bare_quote.csv");
    std::string mac = test_data("csv/cr_only.csv");
    const std::string ho = C + "Error: -h and -o options not compatible!\n";
    const std::vector<RunCase> runs = {
        // The header comes from the first file only; -h keeps all headers, -o none.
        {argv(a, b), "", AB + "3,z\n"},
        {argv("-h", a, b), "", AB + "id,name\n3,z\n"},
        {argv("-o", a, b), "", "1,\"x,y\"\n2,\"multi\nline\"\n3,z\n"},
        // Input terminators are never copied; only the chosen one is written.
        {argv("-t", b, a), "", "id,name\r\n3,z\r\n1,\"x,y\"\r\n2,\"multi\nline\"\r\n"},
        {argv("-z", a), "", "id,name\0001,\"x,y\"\0002,\"multi\nline\"\0"s},
        // Standard input by default.
        {argv(), "h\n1\n2", "h\n1\n2\n",
         C + "Warning: final record not terminated: file 'standard input'\n"},
        // Blank records. With -b, the blank line is the second file's first kept record, so it
        // is suppressed as its header and the real header line is data.
        {argv(a, s), "", AB + "v1,v2\n", differs},
        {argv("-b", a, s), "", AB + "\nh1,h2\n\nv1,v2\n", differs},
        {argv("-b", "-z", s), "", "\0\0h1,h2\0\0v1,v2\0"s},
        // A file that cannot be opened is skipped; an empty first file does not hide the header;
        // a syntax error ends that file only.
        {argv(missing, b, a), "", "id,name\n3,z\n1,\"x,y\"\n2,\"multi\nline\"\n",
         C + "ERROR: failed opening CSVFILE '" + missing + "': No such file or directory\n", 1},
        {argv(e, blanks, b, a), "", "id,name\n3,z\n1,\"x,y\"\n2,\"multi\nline\"\n"},
        {argv(b, bad, a), "", "id,name\n3,z\n4,ok\n1,\"x,y\"\n2,\"multi\nline\"\n",
         read_error("zelk-concat", "record #3, field #2: double-quote in unquoted field", bad,
                    "line 3, byte 17"),
         1},
        // Records with NUL bytes are copied whole.
        {argv(n), "", "h\na\0b,c\n\0\n"s},
        // Usage and option errors; options may follow the operands.
        {argv("-b", "--help"), "", "", C + "invalid option -- '-'\n" + TRY, 1},
        {argv("-h", "-o"), "", "", ho, 1},
        {argv("-oh"), "", "", ho, 1},
        {argv(a, "-o", "-h"), "", "", ho, 1},
        {argv("-z", "-t"), "", "", C + "Error: -t and -z options not compatible!\n", 1},
        {argv(b, "-t"), "", "id,name\r\n3,z\r\n"},
        // Awkward files: records go through unchanged apart from terminators; line breaks
        // inside quotes are kept.
        {argv(test_data("csv/crlf.csv")), "", "id,text\n1,\"one, two\"\n2,\"line\r\nbreak\"\n"},
        {argv(bare), "", "lat,lon\n",
         read_error("zelk-concat", "record #2, field #2: double-quote in unquoted field", bare,
                    "line 2, byte 13"),
         1},
        {argv(mac), "", "",
         read_error("zelk-concat", "record #1: carriage return not in quoted field", mac,
                    "line 1, byte 6"),
         1},
    };
    expect_runs("zelk-concat", runs);
    EXPECT_RUN(
        run_tool("zelk-concat", {}, with_input("h\n\"open", true)), 1, "h\n",
        read_error("zelk-concat", "record #2, field #1: quoted field not closed by double quote"));
}

TEST_F(Concat, LaterHeaderThatDiffersIsWarnedOf) {
    // Headers are compared by their field values; the output and status stay as they were.
    struct Case {
        std::string second_header;
        int field; // the first field that differs, 0 for none
    } cases[] = {
        {"name,id", 1}, {"id,name,extra", 3}, {"id", 2}, {"ID,name", 1}, {"id,name ", 2},
        {"id,\"na\"\"me\"", 2}, {"\"id\",\"name\"", 0}, {"\xEF\xBB\xBFid,name", 0},
        {"\xEF\xBB\xBF\"id\",name", 0}, {"\xEF\xBB\xBF\"i\",name", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.second_header);
        std::string second = dir.file("second.csv", c.second_header + "\n5,v\n");
        std::string warning = c.field == 0 ? ""
                                           : "zelk-concat: Warning: header of CSVFILE '" +
                                                 second + "' differs from that of CSVFILE '" + a +
                                                 "' at field #" + std::to_string(c.field) + "\n";
        EXPECT_RUN(run_tool("zelk-concat", {a, second}), 0,
                   "id,name\n1,\"x,y\"\n2,\"multi\nline\"\n5,v\n", warning);
        EXPECT_RUN(run_tool("zelk-concat", {"-o", a, second}), 0,
                   "1,\"x,y\"\n2,\"multi\nline\"\n5,v\n", warning);
    }
    // The header compared with is the one written: that of the first input holding a record.
    std::string e = dir.file("e.csv", "");
    std::string ba = dir.file("ba.csv", "\xEF\xBB\xBFname,\"id\"\n");
    RunOptions o;
    o.input = "name,id\n6,w\n";
    EXPECT_RUN(run_tool("zelk-concat", {e, "-", ba, b}, o), 0, "name,id\n6,w\n3,z\n",
               "zelk-concat: Warning: header of CSVFILE '" + b +
                   "' differs from that of CSVFILE 'standard input' at field #1\n");
}

TEST_F(Concat, DoubleDashEndsTheOptions) {
    std::string dash = dir.file("-t", "x\n");
    RunOptions o;
    o.cwd = dir.path();
    EXPECT_RUN(run_tool("zelk-concat", {"--", "-t"}, o), 0, "x\n", "");
}

} // namespace
