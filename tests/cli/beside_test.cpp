#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-beside");

const char *TRY = "Try 'zelk-beside --help' for more information.\n";

std::string report(int n1, int n2, int mismatches) {
    char buf[256];
    snprintf(buf, sizeof buf,
             "Number of records in CSVFILE1:           %d\n"
             "Number of pasted CSVFILE2 records:       %d\n"
             "CSVFILE2 records with fields mismatches: %d\n",
             n1, n2, mismatches);
    return buf;
}

struct Beside : ::testing::Test {
    TempDir dir;
    std::string ab = dir.file("ab.csv", "a,b\n1,2\n");
    std::string c = dir.file("c.csv", "c\n3\n");
    std::string long1 = dir.file("long1.csv", "a,b\n1,2\n3,4\nx,y\n");
    std::string short2 = dir.file("short2.csv", "c,d\n5,6\n7,8\n");
};

TEST_F(Beside, PastesRecordByRecord) {
    EXPECT_RUN(run_tool("zelk-beside", {ab, c}), 0, "a,b,c\n1,2,3\n", "");
    EXPECT_RUN(run_tool("zelk-beside", {"-s;", ab, c}), 0, "a,b;c\n1,2;3\n", "");
    EXPECT_RUN(run_tool("zelk-beside", {"-t", "-s", " | ", ab}, "c\n\"3\n4\"\n"), 0,
               "a,b | c\r\n1,2 | \"3\n4\"\r\n", "");
    // Records with NUL bytes are written whole.
    std::string n = dir.file("n.csv", "h\0i\nv\0w\n"s);
    EXPECT_RUN(run_tool("zelk-beside", {n, n}), 0, "h\0i,h\0i\nv\0w,v\0w\n"s, "");
}

TEST_F(Beside, FirstFileLonger) {
    EXPECT_RUN(run_tool("zelk-beside", {long1, short2}), 1, "a,b,c,d\n1,2,5,6\n3,4,7,8\nx,y,\n",
               "zelk-beside: ERROR: mismatch @record #4: CSVFILE1 has more records than "
               "CSVFILE2\n");
    EXPECT_RUN(run_tool("zelk-beside", {"-m", long1, short2}), 0,
               "a,b,c,d\n1,2,5,6\n3,4,7,8\nx,y,\n", "");
    EXPECT_RUN(run_tool("zelk-beside", {"-m", "-p", "-v", long1, short2}), 0,
               "a,b,c,d\n1,2,5,6\n3,4,7,8\nx,y,,\n", report(4, 3, 0));
    // -M does not allow this direction.
    EXPECT_RUN(run_tool("zelk-beside", {"-M", long1, short2}), 1,
               "a,b,c,d\n1,2,5,6\n3,4,7,8\nx,y,\n",
               "zelk-beside: ERROR: mismatch @record #4: CSVFILE1 has more records than "
               "CSVFILE2\n");
}

TEST_F(Beside, SecondFileLonger) {
    EXPECT_RUN(run_tool("zelk-beside", {short2, long1}), 1, "c,d,a,b\n5,6,1,2\n7,8,3,4\n",
               "zelk-beside: ERROR: mismatch @record #4: CSVFILE1 has less records than "
               "CSVFILE2\n");
    EXPECT_RUN(run_tool("zelk-beside", {"-m", short2, long1}), 1, "c,d,a,b\n5,6,1,2\n7,8,3,4\n",
               "zelk-beside: ERROR: mismatch @record #4: CSVFILE1 has less records than "
               "CSVFILE2\n");
    // With -M the rest of CSVFILE2 is not read at all, so even a broken tail is ignored.
    std::string broken = dir.file("broken.csv", "a,b\n1,2\n3,4\nx\"y\n");
    EXPECT_RUN(run_tool("zelk-beside", {"-M", "-v", short2, broken}), 0,
               "c,d,a,b\n5,6,1,2\n7,8,3,4\n", report(3, 3, 0));
    // Without -M the record that is one too many is read, and its error names it.
    std::string bad2 = dir.file("bad2.csv", "a,b\n1,2\n3,4\n5,\"6\n");
    EXPECT_RUN(run_tool("zelk-beside", {short2, bad2}), 1, "c,d,a,b\n5,6,1,2\n7,8,3,4\n",
               "zelk-beside: ERROR: record #4, field #2: quoted field not closed by double "
               "quote\n"
               "zelk-beside: file:  '" +
                   bad2 + "'\n");
}

TEST_F(Beside, SecondFileFieldCounts) {
    std::string var = dir.file("var.csv", "x,y,z\n1\n1,2,3\n1,2,3,4\n\n");
    std::string four = dir.file("four.csv", "h\nr1\nr2\nr3\nr4\n");
    EXPECT_RUN(run_tool("zelk-beside", {four, var}), 1, "h,x,y,z\nr1,\n",
               "zelk-beside: ERROR: CSVFILE2 record #2: incorrect number of fields (1 vs 3 in "
               "header)\n");
    EXPECT_RUN(run_tool("zelk-beside", {"-a", "-v", four, var}), 0,
               "h,x,y,z\nr1,1\nr2,1,2,3\nr3,1,2,3,4\nr4,\n", report(5, 5, 3));
    // Padding gives short records, blank ones included, the header's field count; a record
    // with too many fields is left as it is.
    EXPECT_RUN(run_tool("zelk-beside", {"-a", "-p", four, var}), 0,
               "h,x,y,z\nr1,1,,\nr2,1,2,3\nr3,1,2,3,4\nr4,,,\n", "");
    // -p alone does not allow short records.
    EXPECT_RUN(run_tool("zelk-beside", {"-p", four, var}), 1, "h,x,y,z\nr1,\n",
               "zelk-beside: ERROR: CSVFILE2 record #2: incorrect number of fields (1 vs 3 in "
               "header)\n");
}

TEST_F(Beside, BlankRecords) {
    std::string one = dir.file("one.csv", "h\n\nv\n");
    std::string two = dir.file("two.csv", "k\n\nw\n");
    EXPECT_RUN(run_tool("zelk-beside", {one, two}), 1, "h,k\n",
               "zelk-beside: ERROR: CSVFILE1 record #2: incorrect number of fields (0 vs 1 in "
               "header)\n");
    EXPECT_RUN(run_tool("zelk-beside", {"-1", "-v", one, two}), 0, "h,k\n,\nv,w\n",
               report(3, 3, 0));
    // Without -1 a blank CSVFILE2 record has no fields: a mismatch under -a.
    std::string plain = dir.file("plain.csv", "p\nr1\nr2\n");
    EXPECT_RUN(run_tool("zelk-beside", {"-a", "-v", plain, two}), 0, "p,k\nr1,\nr2,w\n",
               report(3, 3, 1));
    EXPECT_RUN(run_tool("zelk-beside", {"-a", "-v", "-1", plain, two}), 0, "p,k\nr1,\nr2,w\n",
               report(3, 3, 0));
}

TEST_F(Beside, EmptyAndUnreadableInputs) {
    std::string empty = dir.file("empty.csv", "");
    EXPECT_RUN(run_tool("zelk-beside", {ab, empty}), 1, "a,b,\n",
               "zelk-beside: Warning: CSVFILE2 '" + empty + "' is empty\n");
    EXPECT_RUN(run_tool("zelk-beside", {empty, ab}), 1, "",
               "zelk-beside: Warning: CSVFILE1 '" + empty + "' is empty\n");
    EXPECT_RUN(run_tool("zelk-beside", {ab}, ""), 1, "a,b,\n",
               "zelk-beside: Warning: CSVFILE2 'standard input' is empty\n");
    EXPECT_RUN(run_tool("zelk-beside", {ab, dir.join("no2")}), 1, "",
               "zelk-beside: ERROR: failed opening CSVFILE2 '" + dir.join("no2") +
                   "': No such file or directory\n");
    // A syntax error in CSVFILE2 ends the line already begun, then the run.
    std::string bad = dir.file("bad.csv", "c\n3\"\n");
    EXPECT_RUN(run_tool("zelk-beside", {ab, bad}), 1, "a,b,c\n1,2,\n",
               "zelk-beside: ERROR: record #2, field #1: double-quote in unquoted field\n"
               "zelk-beside: file:  '" +
                   bad + "'\n");
    EXPECT_RUN(run_tool("zelk-beside", {bad, ab}), 1, "c,a,b\n",
               "zelk-beside: ERROR: record #2, field #1: double-quote in unquoted field\n"
               "zelk-beside: file:  '" +
                   bad + "'\n");
    RunOptions o;
    o.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool("zelk-beside", {"-v", ab, c}, o), 1, "",
               "zelk-beside: Error: failed writing output to standard output: No space left on "
               "device\n");
}

TEST_F(Beside, UsageAndOptionErrors) {
    EXPECT_RUN(run_tool("zelk-beside", {}), 1, "", USAGE);
    EXPECT_RUN(run_tool("zelk-beside", {ab, c, c}), 1, "", USAGE);
    EXPECT_RUN(run_tool("zelk-beside", {ab, "-s"}), 1, "",
               std::string("zelk-beside: option requires an argument -- 's'\n") + TRY);
}

} // namespace
