#include "harness.h"

namespace {

const char *MR = "zelk-match-rows";

TEST(MatchRows, SelectsOnWholeRecords) {
    std::string in = "name,age,city\na,25,X\nb,15,Y\n";
    EXPECT_RUN(run_tool(MR, {"$2>=20"}, in), 0, "name,age,city\na,25,X\n", "");
    EXPECT_RUN(run_tool(MR, {"-v", "-o", "$2>=20"}, in), 0, "b,15,Y\n", "");
    EXPECT_RUN(run_tool(MR, {"-h", "NF==3 && $3 ~ /^[A-Z]$/"}, in), 0, "a,25,X\nb,15,Y\n", "");
    EXPECT_RUN(run_tool(MR, {"NF==3"}, "h\na,b,c\na,b\n\"x,y\",b,c\n"), 0,
               "h\na,b,c\n\"x,y\",b,c\n", "");
    // NR counts the records awk was given, as it would over a plain file.
    EXPECT_RUN(run_tool(MR, {"NR==2 && FNR==2"}, in), 0, "name,age,city\nb,15,Y\n", "");
    EXPECT_RUN(run_tool(MR, {"$2>100"}, in), 1, "name,age,city\n", "");
    EXPECT_RUN(run_tool(MR, {"1"}, ""), 1, "", "");
}

TEST(MatchRows, QuotedFieldsStayWhole) {
    // The comma and line feed inside the quotes do not split the field; the quotes stay.
    std::string in = "h\n\"x,y\",3\n\"p\nq\",3\n";
    EXPECT_RUN(run_tool(MR, {"$2==3 && $1==\"\\\"x,y\\\"\""}, in), 0, "h\n\"x,y\",3\n", "");
    // -n numbers records, not lines.
    EXPECT_RUN(run_tool(MR, {"-n", "$2==3"}, in + "z,3\n"), 0,
               "1:h\n2:\"x,y\",3\n3:\"p\nq\",3\n4:z,3\n", "");
}

TEST(MatchRows, BlankRecordsAndQuiet) {
    std::string in = "h\n\na,b\n";
    EXPECT_RUN(run_tool(MR, {"NF==0"}, in), 1, "h\n", "");
    EXPECT_RUN(run_tool(MR, {"-b", "NF==0"}, in), 0, "h\n\n", "");
    EXPECT_RUN(run_tool(MR, {"-q", "NF==2"}, in), 0, "", "");
    EXPECT_RUN(run_tool(MR, {"-q", "NF==5"}, in), 1, "", "");
    EXPECT_RUN(run_tool(MR, {"-m1", "-t", "1"}, "h\n1\n2\n"), 0, "h\r\n1\r\n", "");
    EXPECT_RUN(run_tool(MR, {"-o", "-h", "1"}, in), 1, "",
               "zelk-match-rows: Error: -h and -o options not compatible!\n");
}

TEST(MatchRows, LongRecordsWithCrLf) {
    // Records near the record limit, longer together than a pipe holds.
    std::string big(65000, 'x');
    std::string in = "h\n" + big + ",1\n" + big + ",2\n" + big + ",3\n";
    EXPECT_RUN(run_tool(MR, {"-t", "$2 != 2 && length($1) == 65000"}, in), 0,
               "h\r\n" + big + ",1\r\n" + big + ",3\r\n", "");
}

TEST(MatchRows, FramingBytesAreRefused) {
    // A 0x19 would split the field in two, a 0x18 the record.
    EXPECT_RUN(run_tool(MR, {"NF==2"}, "h\na,b\n\"c\x19\",d\n"), 1, "h\na,b\n",
               "zelk-match-rows: ERROR: record #3 holds the byte 0x19, which cannot be passed to "
               "AWK (it delimits records and fields there)\n");
}

TEST(MatchRows, AwkFailures) {
    RunResult r = run_tool(MR, {"NF=="}, "h\na\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(": NF==\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("__zelk"), std::string::npos) << r.err;
    // A library rule that ends the run early.
    TempDir dir;
    std::string lib = dir.file("stop.awk", "$1 == \"b\" { exit 0 }\n");
    EXPECT_RUN(run_tool(MR, {"-l", lib, "1"}, "h\na\nb\nc\n"), 1, "h\na\n",
               "zelk-match-rows: ERROR: invalid processed field from AWK\n");
}

} // namespace
