#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-concat");

const char *TRY = "Try 'zelk-concat --help' for more information.\n";

struct Concat : ::testing::Test {
    TempDir dir;
    std::string a = dir.file("a.csv", "id,name\n1,\"x,y\"\n2,\"multi\nline\"\n");
    std::string b = dir.file("b.csv", "id,name\r\n3,z\r\n");
};

TEST_F(Concat, HeaderFromFirstFileOnly) {
    EXPECT_RUN(run_tool("zelk-concat", {a, b}), 0,
               "id,name\n1,\"x,y\"\n2,\"multi\nline\"\n3,z\n", "");
}

TEST_F(Concat, AllHeadersOrNone) {
    EXPECT_RUN(run_tool("zelk-concat", {"-h", a, b}), 0,
               "id,name\n1,\"x,y\"\n2,\"multi\nline\"\nid,name\n3,z\n", "");
    EXPECT_RUN(run_tool("zelk-concat", {"-o", a, b}), 0, "1,\"x,y\"\n2,\"multi\nline\"\n3,z\n",
               "");
}

TEST_F(Concat, Terminators) {
    // Input terminators are never copied; only the chosen one is written.
    EXPECT_RUN(run_tool("zelk-concat", {"-t", b, a}), 0,
               "id,name\r\n3,z\r\n1,\"x,y\"\r\n2,\"multi\nline\"\r\n", "");
    EXPECT_RUN(run_tool("zelk-concat", {"-z", a}), 0,
               "id,name\0001,\"x,y\"\0002,\"multi\nline\"\0"s, "");
}

TEST_F(Concat, StandardInputByDefault) {
    EXPECT_RUN(run_tool("zelk-concat", {}, "h\n1\n2"), 0, "h\n1\n2\n",
               "zelk-concat: Warning: final record not terminated: file 'standard input'\n");
    RunOptions o;
    o.input = "h\n\"open";
    o.input_pipe = true;
    EXPECT_RUN(run_tool("zelk-concat", {}, o), 1, "h\n",
               "zelk-concat: ERROR: record #2, field #1: quoted field not closed by double quote\n"
               "zelk-concat: file:  'standard input'\n");
}

TEST_F(Concat, BlankRecords) {
    std::string s = dir.file("s.csv", "\n\r\nh1,h2\n\nv1,v2\n");
    std::string differs = "zelk-concat: Warning: header of CSVFILE '" + s +
                          "' differs from that of CSVFILE '" + a + "' at field #1\n";
    EXPECT_RUN(run_tool("zelk-concat", {a, s}), 0,
               "id,name\n1,\"x,y\"\n2,\"multi\nline\"\nv1,v2\n", differs);
    // With -b, the blank line is the second file's first kept record, so it is suppressed as
    // its header and the real header line is data.
    EXPECT_RUN(run_tool("zelk-concat", {"-b", a, s}), 0,
               "id,name\n1,\"x,y\"\n2,\"multi\nline\"\n\nh1,h2\n\nv1,v2\n", differs);
    EXPECT_RUN(run_tool("zelk-concat", {"-b", "-z", s}), 0, "\0\0h1,h2\0\0v1,v2\0"s, "");
}

TEST_F(Concat, UnopenableFileIsSkipped) {
    EXPECT_RUN(run_tool("zelk-concat", {dir.join("missing.csv"), b, a}), 1,
               "id,name\n3,z\n1,\"x,y\"\n2,\"multi\nline\"\n",
               "zelk-concat: ERROR: failed opening CSVFILE '" + dir.join("missing.csv") +
                   "': No such file or directory\n");
}

TEST_F(Concat, EmptyFirstFileDoesNotHideTheHeader) {
    std::string e = dir.file("e.csv", "");
    std::string blanks = dir.file("blanks.csv", "\n\n");
    EXPECT_RUN(run_tool("zelk-concat", {e, blanks, b, a}), 0,
               "id,name\n3,z\n1,\"x,y\"\n2,\"multi\nline\"\n", "");
}

TEST_F(Concat, SyntaxErrorEndsThatFileOnly) {
    std::string bad = dir.file("bad.csv", "id,name\n4,ok\n5,a\"b\n6,never\n");
    EXPECT_RUN(run_tool("zelk-concat", {b, bad, a}), 1,
               "id,name\n3,z\n4,ok\n1,\"x,y\"\n2,\"multi\nline\"\n",
               "zelk-concat: ERROR: record #3, field #2: double-quote in unquoted field\n"
               "zelk-concat: file:  '" + bad + "'\n");
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

TEST_F(Concat, RecordsWithNulBytesAreCopiedWhole) {
    std::string n = dir.file("n.csv", "h\na\0b,c\n\0\n"s);
    EXPECT_RUN(run_tool("zelk-concat", {n}), 0, "h\na\0b,c\n\0\n"s, "");
}

TEST_F(Concat, UsageAndOptionErrors) {
    EXPECT_RUN(run_tool("zelk-concat", {"-b", "--help"}), 1, "",
               std::string("zelk-concat: invalid option -- '-'\n") + TRY);
    for (auto args : {std::vector<std::string>{"-h", "-o"}, {"-oh"}, {a, "-o", "-h"}})
        EXPECT_RUN(run_tool("zelk-concat", args), 1, "",
                   "zelk-concat: Error: -h and -o options not compatible!\n");
    EXPECT_RUN(run_tool("zelk-concat", {"-z", "-t"}), 1, "",
               "zelk-concat: Error: -t and -z options not compatible!\n");
}

TEST_F(Concat, OptionsAfterOperandsAndDoubleDash) {
    EXPECT_RUN(run_tool("zelk-concat", {b, "-t"}), 0, "id,name\r\n3,z\r\n", "");
    std::string dash = dir.file("-t", "x\n");
    RunOptions o;
    o.cwd = dir.path();
    EXPECT_RUN(run_tool("zelk-concat", {"--", "-t"}, o), 0, "x\n", "");
}

TEST_F(Concat, AwkwardFiles) {
    // Records go through unchanged apart from terminators; line breaks inside quotes are kept.
    EXPECT_RUN(run_tool("zelk-concat", {test_data("csv/crlf.csv")}), 0,
               "id,text\n1,\"one, two\"\n2,\"line\r\nbreak\"\n", "");
    std::string bare = test_data("csv/bare_quote.csv");
    EXPECT_RUN(run_tool("zelk-concat", {bare}), 1, "lat,lon\n",
               "zelk-concat: ERROR: record #2, field #2: double-quote in unquoted field\n"
               "zelk-concat: file:  '" + bare + "'\n");
    std::string mac = test_data("csv/cr_only.csv");
    EXPECT_RUN(run_tool("zelk-concat", {mac}), 1, "",
               "zelk-concat: ERROR: record #1: carriage return not in quoted field\n"
               "zelk-concat: file:  '" + mac + "'\n");
}

} // namespace
