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

const std::string B = "zelk-beside: ";
const std::string MORE =
    B + "ERROR: mismatch @record #4: CSVFILE1 has more records than CSVFILE2\n";
const std::string LESS =
    B + "ERROR: mismatch @record #4: CSVFILE1 has less records than CSVFILE2\n";
const std::string FIELDS2 =
    B + "ERROR: CSVFILE2 record #2: incorrect number of fields (1 vs 3 in header)\n";

TEST_F(Beside, Runs) {
    std::string n = dir.file("n.csv", "h\0i\nv\0w\n"s);
    std::string broken = dir.file("broken.csv", "a,b\n1,2\n3,4\nx\"y\n");
    std::string bad2 = dir.file("bad2.csv", "a,b\n1,2\n3,4\n5,\"6\n");
    std::string var = dir.file("var.csv", "x,y,z\n1\n1,2,3\n1,2,3,4\n\n");
    std::string four = dir.file("four.csv", "h\nr1\nr2\nr3\nr4\n");
    std::string one = dir.file("one.csv", "h\n\nv\n");
    std::string two = dir.file("two.csv", "k\n\nw\n");
    std::string plain = dir.file("plain.csv", "p\nr1\nr2\n");
    std::string empty = dir.file("empty.csv", "");
    std::string bad = dir.file("bad.csv", "c\n3\"\n");
    const std::string pasted = "c,d,a,b\n5,6,1,2\n7,8,3,4\n";
    const std::vector<RunCase> runs = {
        // Records are pasted one by one; records with NUL bytes are written whole.
        {argv(ab, c), "", "a,b,c\n1,2,3\n"},
        {argv("-s;", ab, c), "", "a,b;c\n1,2;3\n"},
        {argv("-t", "-s", " | ", ab), "c\n\"3\n4\"\n", "a,b | c\r\n1,2 | \"3\n4\"\r\n"},
        {argv(n, n), "", "h\0i,h\0i\nv\0w,v\0w\n"s},
        // The first file longer; -M does not allow this direction.
        {argv(long1, short2), "", "a,b,c,d\n1,2,5,6\n3,4,7,8\nx,y,\n", MORE, 1},
        {argv("-m", long1, short2), "", "a,b,c,d\n1,2,5,6\n3,4,7,8\nx,y,\n"},
        {argv("-m", "-p", "-v", long1, short2), "", "a,b,c,d\n1,2,5,6\n3,4,7,8\nx,y,,\n",
         report(4, 3, 0)},
        {argv("-M", long1, short2), "", "a,b,c,d\n1,2,5,6\n3,4,7,8\nx,y,\n", MORE, 1},
        // The second file longer. With -M the rest of CSVFILE2 is not read at all, so even a
        // broken tail is ignored; without it the record that is one too many is read, and its
        // error names it.
        {argv(short2, long1), "", pasted, LESS, 1},
        {argv("-m", short2, long1), "", pasted, LESS, 1},
        {argv("-M", "-v", short2, broken), "", pasted, report(3, 3, 0)},
        {argv(short2, bad2), "", pasted,
         read_error("zelk-beside", "record #4, field #2: quoted field not closed by double quote",
                    bad2, "line 5, byte 18"),
         1},
        // The second file's field counts. Padding gives short records, blank ones included, the
        // header's field count; a record with too many fields is left as it is. -p alone does
        // not allow short records.
        {argv(four, var), "", "h,x,y,z\nr1,\n", FIELDS2, 1},
        {argv("-a", "-v", four, var), "", "h,x,y,z\nr1,1\nr2,1,2,3\nr3,1,2,3,4\nr4,\n",
         report(5, 5, 3)},
        {argv("-a", "-p", four, var), "", "h,x,y,z\nr1,1,,\nr2,1,2,3\nr3,1,2,3,4\nr4,,,\n"},
        {argv("-p", four, var), "", "h,x,y,z\nr1,\n", FIELDS2, 1},
        // Blank records; without -1 a blank CSVFILE2 record has no fields: a mismatch under -a.
        {argv(one, two), "", "h,k\n",
         B + "ERROR: CSVFILE1 record #2: incorrect number of fields (0 vs 1 in header)\n", 1},
        {argv("-1", "-v", one, two), "", "h,k\n,\nv,w\n", report(3, 3, 0)},
        {argv("-a", "-v", plain, two), "", "p,k\nr1,\nr2,w\n", report(3, 3, 1)},
        {argv("-a", "-v", "-1", plain, two), "", "p,k\nr1,\nr2,w\n", report(3, 3, 0)},
        // Empty and unreadable inputs; a syntax error in CSVFILE2 ends the line already begun,
        // then the run.
        {argv(ab, empty), "", "a,b,\n", B + "Warning: CSVFILE2 '" + empty + "' is empty\n", 1},
        {argv(empty, ab), "", "", B + "Warning: CSVFILE1 '" + empty + "' is empty\n", 1},
        {argv(ab), "", "a,b,\n", B + "Warning: CSVFILE2 'standard input' is empty\n", 1},
        {argv(ab, dir.join("no2")), "", "",
         B + "ERROR: failed opening CSVFILE2 '" + dir.join("no2") +
             "': No such file or directory\n",
         1},
        {argv(ab, bad), "", "a,b,c\n1,2,\n",
         read_error("zelk-beside", "record #2, field #1: double-quote in unquoted field", bad,
                    "line 2, byte 4"),
         1},
        {argv(bad, ab), "", "c,a,b\n",
         read_error("zelk-beside", "record #2, field #1: double-quote in unquoted field", bad,
                    "line 2, byte 4"),
         1},
        // Usage and option errors.
        {argv(), "", "", USAGE, 1},
        {argv(ab, c, c), "", "", USAGE, 1},
        {argv(ab, "-s"), "", "", B + "option requires an argument -- 's'\n" + TRY, 1},
    };
    expect_runs("zelk-beside", runs);
}

TEST_F(Beside, OutputErrors) {
    RunOptions o;
    o.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool("zelk-beside", {"-v", ab, c}, o), 1, "",
               "zelk-beside: Error: failed writing output to standard output: No space left on "
               "device\n");
}

} // namespace
