#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-colnum");

struct Colnum : ::testing::Test {
    TempDir dir;
    std::string h = dir.file("h.csv", "id,name,\"q\",age,name\n1,x,y,2,z\n");
};

TEST_F(Colnum, NamesToNumbers) {
    EXPECT_RUN(run_tool("zelk-colnum", {"age,id", h}), 0, "4,1", "");
    EXPECT_RUN(run_tool("zelk-colnum", {"-n", "age,id,age", h}), 0, "4,1,4\n", "");
    // A repeated header name gives its first position; a quoted name is found with or
    // without its quotes.
    EXPECT_RUN(run_tool("zelk-colnum", {"name,\"q\"", h, "-n"}), 0, "2,3\n", "");
    EXPECT_RUN(run_tool("zelk-colnum", {"q", h}), 0, "3", "");
    EXPECT_RUN(run_tool("zelk-colnum", {"Q", h}), 1, "",
               "zelk-colnum: ERROR: FIELD name 'Q' not found in header\n");
}

TEST_F(Colnum, BadNamesKeepWhatWasPrinted) {
    EXPECT_RUN(run_tool("zelk-colnum", {"-n", "name,,age", h}), 1, "2",
               "zelk-colnum: ERROR: invalid format for FIELD_NAMES_LIST\n");
    for (const char *list : {"", ",id", "id,"})
        EXPECT_EQ(run_tool("zelk-colnum", {list, h}).err,
                  "zelk-colnum: ERROR: invalid format for FIELD_NAMES_LIST\n")
            << list;
    EXPECT_RUN(run_tool("zelk-colnum", {"id,nope,age", h}), 1, "1",
               "zelk-colnum: ERROR: FIELD name 'nope' not found in header\n");
}

TEST_F(Colnum, EmptyFileBlankHeaderAndBadInput) {
    std::string e = dir.file("e.csv", "");
    EXPECT_RUN(run_tool("zelk-colnum", {"-n", "a", e}), 1, "",
               "zelk-colnum: ERROR: CSVFILE '" + e + "' is empty\n");
    std::string b = dir.file("b.csv", "\nid\n");
    EXPECT_RUN(run_tool("zelk-colnum", {"id", b}), 1, "",
               "zelk-colnum: Warning: header record is empty in CSVFILE '" + b +
                   "'\nzelk-colnum: ERROR: FIELD name 'id' not found in header\n");
    std::string bad = dir.file("bad.csv", "a\"b\n");
    EXPECT_RUN(run_tool("zelk-colnum", {"a", bad}), 1, "",
               "zelk-colnum: ERROR: record #1, field #1: double-quote in unquoted field\n"
               "zelk-colnum: file:  '" + bad + "'\n");
}

TEST_F(Colnum, NulByteInHeaderFieldIsPartOfTheName) {
    std::string n = dir.file("n.csv", "a\0b,a\n"s);
    EXPECT_RUN(run_tool("zelk-colnum", {"a", n}), 0, "2", "");
}

TEST_F(Colnum, Usage) {
    EXPECT_RUN(run_tool("zelk-colnum", {}), 1, "", USAGE);
    EXPECT_RUN(run_tool("zelk-colnum", {"a", h, h}), 1, "", USAGE);
}

} // namespace
