#include "harness.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>

namespace {

const std::string USAGE = usage_text("zelk-merge");

const char *TRY = "Try 'zelk-merge --help' for more information.\n";

std::string report(int n1, int n2) {
    return "Number of (non-header) records in CSVFILE1:           " + std::to_string(n1) +
           "\nNumber of records joined from CSVFILE2:               " + std::to_string(n2) + "\n";
}

std::string no_match(const std::string &key) {
    return "zelk-merge: ERROR: CSVFILE2 does not have matching record for key: " + key + "\n";
}

std::string same_key(int first, int later, const std::string &key) {
    return "zelk-merge: Warning: CSVFILE2 records #" + std::to_string(first) + " and #" +
           std::to_string(later) + " have the same key: " + key + "\n";
}

std::string unmatched_o(int recnum, const std::string &key) {
    return "zelk-merge: ERROR: CSVFILE2 record #" + std::to_string(recnum) + " (key " + key +
           ") matched no CSVFILE1 record: with -o, both files must list the same keys in the "
           "same order\n";
}

struct Merge : ::testing::Test {
    TempDir dir;
    std::string f1 = dir.file("f1.csv", "id,a\n1,x\n2,y\n");
    std::string f2 = dir.file("f2.csv", "id,b\n2,q\n1,p\n");
    std::string same = dir.file("same.csv", "id,b\n1,p\n2,q\n");

    RunResult merge(std::vector<std::string> args, const RunOptions &o = {}) {
        return run_tool("zelk-merge", args, o);
    }
};

TEST_F(Merge, CircularScanFindsKeysInAnyOrder) {
    EXPECT_RUN(merge({"1", f1, "1", f2}), 0, "id,a,id,b\n1,x,1,p\n2,y,2,q\n", "");
    EXPECT_RUN(merge({"-s;", "-v", "1", f1, "1", f2}), 0, "id,a;id,b\n1,x;1,p\n2,y;2,q\n",
               report(2, 2));
    EXPECT_RUN(merge({"-t", "1", f1, "1", same}), 0, "id,a,id,b\r\n1,x,1,p\r\n2,y,2,q\r\n", "");
    // Key fields in other places; a record whose key lies behind the scan position is found
    // after the rewind, and one that is missing is found nowhere.
    std::string g1 = dir.file("g1.csv", "a,k\nx,3\ny,1\nz,2\nw,9\n");
    std::string g2 = dir.file("g2.csv", "b,c,k\np,q,1\nr,s,2\nt,u,3\n");
    EXPECT_RUN(merge({"-a", "-v", "2", g1, "3", g2}), 0,
               "a,k,b,c,k\nx,3,t,u,3\ny,1,p,q,1\nz,2,r,s,2\nw,9,,,\n", report(4, 3));
    // CSVFILE2 on standard input that is a regular file can be rewound too.
    RunOptions o;
    o.input = read_file(f2);
    EXPECT_RUN(merge({"1", f1, "1"}, o), 0, "id,a,id,b\n1,x,1,p\n2,y,2,q\n", "");
}

TEST_F(Merge, DuplicateKeysFirstReachedFromScanPositionWins) {
    std::string d1 = dir.file("d1.csv", "id,a\n1,x\n2,y\n1,z\n1,w\n");
    std::string d2 = dir.file("d2.csv", "id,b\n1,p1\n2,q\n1,p2\n");
    // The first look behind the scan position (for the last key) reports the shared key.
    EXPECT_RUN(merge({"1", d1, "1", d2}), 0, "id,a,id,b\n1,x,1,p1\n2,y,2,q\n1,z,1,p2\n1,w,1,p1\n",
               same_key(2, 4, "1"));
    // Each shared key once, by its first two records, in the order of the records; with -u
    // the keys are compared, and named, unquoted. A join that never looks back reports nothing.
    std::string e1 = dir.file("e1.csv", "id\nc\na\n");
    std::string e2 = dir.file("e2.csv", "id,v\na,1\n\"b\",2\nb,3\na,4\n\"a\",5\nc,6\nc,7\n");
    EXPECT_RUN(merge({"-u", "1", e1, "1", e2}), 0, "id,id,v\nc,c,6\na,a,1\n",
               same_key(3, 4, "b") + same_key(2, 5, "a") + same_key(7, 8, "c"));
    EXPECT_RUN(merge({"1", e1, "1", e2}), 0, "id,id,v\nc,c,6\na,a,1\n",
               same_key(2, 5, "a") + same_key(7, 8, "c"));
    std::string e3 = dir.file("e3.csv", "id\na\nb\nc\n");
    EXPECT_RUN(merge({"1", e3, "1", e2}), 0, "id,id,v\na,a,1\nb,b,3\nc,c,6\n", "");
}

TEST_F(Merge, KeysIgnoringCase) {
    // -i ignores the case of ASCII letters in the scan, the index (a hash that folds alike)
    // and the forward pass, and combines with -u; the records are joined as read, and a
    // shared key is named as its later record holds it.
    std::string c1 = dir.file("c1.csv", "id,m\n1,B@y.org\n2,\"e@X.org\"\n3,a@b.c\n");
    std::string c2 = dir.file("c2.csv", "m,v\nA@B.C,x\nb@Y.ORG,y\nE@x.org,z\ne@x.org,w\n");
    for (const char *exe : {"", ZELK_MERGE_REFERENCE, ZELK_MERGE_FEW_HASHES}) {
        RunOptions o;
        o.executable = exe;
        EXPECT_RUN(merge({"-a", "2", c1, "1", c2}, o), 0,
                   "id,m,m,v\n1,B@y.org,,\n2,\"e@X.org\",,\n3,a@b.c,,\n", "");
        EXPECT_RUN(merge({"-a", "-i", "2", c1, "1", c2}, o), 0,
                   "id,m,m,v\n1,B@y.org,b@Y.ORG,y\n2,\"e@X.org\",,\n3,a@b.c,A@B.C,x\n",
                   same_key(4, 5, "e@x.org"));
        EXPECT_RUN(merge({"-iu", "2", c1, "1", c2}, o), 0,
                   "id,m,m,v\n1,B@y.org,b@Y.ORG,y\n2,\"e@X.org\",E@x.org,z\n3,a@b.c,A@B.C,x\n",
                   same_key(4, 5, "e@x.org"));
    }
    std::string c3 = dir.file("c3.csv", "m,v\nb@y.ORG,y\n\"E@x.org\",z\nA@b.c,x\n");
    EXPECT_RUN(merge({"-o", "-i", "-u", "2", c1, "1", c3}), 0,
               "id,m,m,v\n1,B@y.org,b@y.ORG,y\n2,\"e@X.org\",\"E@x.org\",z\n3,a@b.c,A@b.c,x\n", "");
    EXPECT_RUN(merge({"-o", "-u", "2", c1, "1", c3}), 1, "id,m,m,v\n1,B@y.org\n",
               no_match("B@y.org"));
}

TEST_F(Merge, ForwardPass) {
    // The first key finds key 2 waiting, which blocks it.
    EXPECT_RUN(merge({"-o", "1", f1, "1", f2}), 1, "id,a,id,b\n1,x\n", no_match("1"));
    EXPECT_RUN(merge({"-o", "-v", "1", f1, "1", same}), 0, "id,a,id,b\n1,x,1,p\n2,y,2,q\n",
               report(2, 2));
    // With -a a waiting record is matched by a later key, and once CSVFILE2 is used up
    // nothing matches.
    std::string k1 = dir.file("k1.csv", "id\n1\n2\n3\n4\n5\n");
    std::string k3 = dir.file("k3.csv", "id,v\n2,b\n\n\n");
    EXPECT_RUN(merge({"-o", "-a", "-v", "1", k1, "1", k3}), 0,
               "id,id,v\n1,,\n2,2,b\n3,,\n4,,\n5,,\n", report(5, 1));
    // A record that no CSVFILE1 key matches blocks the later matches: the run fails at the
    // end, whether the record is still waiting or was never read (records without the key
    // field do not count). It reads CSVFILE2 once, so a pipe is fine whatever the order.
    std::string k2 = dir.file("k2.csv", "id,v\n1,a\n3,c\n9,z\n4,d\n");
    RunOptions o;
    o.input = read_file(k2);
    o.input_pipe = true;
    for (const RunResult &r :
         {merge({"-o", "-a", "-v", "1", k1, "1", k2}), merge({"-oa", "1", k1, "1"}, o)})
        EXPECT_RUN(r, 1, "id,id,v\n1,1,a\n2,,\n3,3,c\n4,,\n5,,\n", unmatched_o(4, "9"));
    std::string k4 = dir.file("k4.csv", "id,v\n1,a\n2,b\n\n6,f\n");
    std::string k5 = dir.file("k5.csv", "id\n1\n2\n");
    EXPECT_RUN(merge({"-o", "-a", "1", k5, "2", k4}), 1, "id,id,v\n1,,\n2,,\n",
               unmatched_o(2, "a"));
    EXPECT_RUN(merge({"-o", "-a", "1", k5, "1", k4}), 1, "id,id,v\n1,1,a\n2,2,b\n",
               unmatched_o(5, "6"));
    EXPECT_RUN(merge({"-o", "-a", "1", k5, "1", dir.file("k6.csv", "id,v\n1,a\n2,b\n\n")}), 0,
               "id,id,v\n1,1,a\n2,2,b\n", "");
    // Without -a every CSVFILE1 record has its match, and CSVFILE2 may go on.
    EXPECT_RUN(merge({"-o", "1", k5, "1", k4}), 0, "id,id,v\n1,1,a\n2,2,b\n", "");
}

TEST_F(Merge, CsvfileTwoOnAPipe) {
    // What is read from a pipe is copied to an unlinked file in $TMPDIR, so keys may lie
    // behind the scan position there too.
    RunOptions o;
    o.input = read_file(same);
    o.input_pipe = true;
    EXPECT_RUN(merge({"1", f1, "1"}, o), 0, "id,a,id,b\n1,x,1,p\n2,y,2,q\n", "");
    o.input = read_file(f2);
    o.env = {"TMPDIR=" + dir.path()};
    EXPECT_RUN(merge({"-v", "1", f1, "1"}, o), 0, "id,a,id,b\n1,x,1,p\n2,y,2,q\n", report(2, 2));
    EXPECT_RUN(run_shell("ls -A '" + dir.path() + "'"), 0, "f1.csv\nf2.csv\nsame.csv\n", "");
    o.env = {"TMPDIR=" + dir.join("none")};
    EXPECT_RUN(merge({"1", f1, "1"}, o), 1, "",
               "zelk-merge: ERROR: failed creating a temporary copy of CSVFILE2 'standard "
               "input' in '" +
                   dir.join("none") + "': No such file or directory\n");
    // -o needs no copy.
    o.input = read_file(same);
    EXPECT_RUN(merge({"-o", "1", f1, "1"}, o), 0, "id,a,id,b\n1,x,1,p\n2,y,2,q\n", "");
}

TEST_F(Merge, FillFromCsvfileTwoHeader) {
    std::string z = dir.file("z.csv", "id,a\n3,z\n");
    EXPECT_RUN(merge({"1", z, "1", f2}), 1, "id,a,id,b\n3,z\n", no_match("3"));
    EXPECT_RUN(merge({"-a", "-v", "1", z, "1", f2}), 0, "id,a,id,b\n3,z,,\n", report(1, 0));
    std::string one = dir.file("one.csv", "id\n1\n");
    EXPECT_RUN(merge({"-a", "1", z, "1", one}), 0, "id,a,id\n3,z,\n", "");
    std::string three = dir.file("three.csv", "id,b,c\n1,2,3\n");
    EXPECT_RUN(merge({"-a", "-s", "|", "1", z, "1", three}), 0, "id,a|id,b,c\n3,z|,,\n", "");
}

TEST_F(Merge, UnquotedKeys) {
    std::string q1 = dir.file("q1.csv", "id,a\n\"1\",x\n2,y\n\"say \"\"hi\"\"\",z\n");
    std::string q2 = dir.file("q2.csv", "id,b\n1,p\n\"2\",q\n\"say \"\"hi\"\"\",r\n");
    EXPECT_RUN(merge({"-u", "1", q1, "1", q2}), 0,
               "id,a,id,b\n\"1\",x,1,p\n2,y,\"2\",q\n\"say \"\"hi\"\"\",z,\"say \"\"hi\"\"\",r\n",
               "");
    // Without -u the quotes are part of the key.
    EXPECT_RUN(merge({"1", q1, "1", q2}), 1, "id,a,id,b\n\"1\",x\n", no_match("\"1\""));
    // Keys are compared whole, NUL bytes included.
    std::string n1 = dir.file("n1.csv", "id,a\nk\0x,1\n"s);
    std::string n2 = dir.file("n2.csv", "id,b\nk\0y,2\nk\0x,3\n"s);
    EXPECT_RUN(merge({"1", n1, "1", n2}), 0, "id,a,id,b\nk\0x,1,k\0x,3\n"s, "");
    std::string n3 = dir.file("n3.csv", "id,b\n\"k\0y\",2\n\"k\0x\",3\n"s);
    EXPECT_RUN(merge({"-u", "1", n1, "1", n3}), 0, "id,a,id,b\nk\0x,1,\"k\0x\",3\n"s, "");
}

TEST_F(Merge, FieldCounts) {
    std::string bad1 = dir.file("bad1.csv", "id,a\n1,x\n2\n");
    EXPECT_RUN(merge({"1", bad1, "1", f2}), 1, "id,a,id,b\n1,x,1,p\n",
               "zelk-merge: ERROR: CSVFILE1 record #3: incorrect number of fields (1 vs 2 in "
               "header)\n");
    std::string blank1 = dir.file("blank1.csv", "id,a\n\n1,x\n");
    EXPECT_RUN(merge({"1", blank1, "1", f2}), 1, "id,a,id,b\n",
               "zelk-merge: ERROR: CSVFILE1 record #2: incorrect number of fields (0 vs 2 in "
               "header)\n");
    // Only a matched CSVFILE2 record must have its header's field count.
    std::string wide = dir.file("wide.csv", "id,b\n2,q,extra\n1,p\n");
    EXPECT_RUN(merge({"1", f1, "1", wide}), 1, "id,a,id,b\n1,x,1,p\n2,y\n",
               "zelk-merge: ERROR: CSVFILE2 matching record #2: incorrect number of fields (3 "
               "vs 2 in header)\n");
    EXPECT_RUN(merge({"-o", "-a", "1", f1, "1", wide}), 1, "id,a,id,b\n1,x,,\n2,y\n",
               "zelk-merge: ERROR: CSVFILE2 matching record #2: incorrect number of fields (3 "
               "vs 2 in header)\n");
}

TEST_F(Merge, RecordsWithoutKeyNeverMatch) {
    // Blank and short CSVFILE2 records have no key field: they are passed over, in both
    // modes, and never end the run.
    std::string holes = dir.file("holes.csv", "k,id\n\nonly\n1,2\nx,1\n\n");
    std::string r1 = dir.file("r1.csv", "id,a\n2,x\n1,y\n3,z\n");
    EXPECT_RUN(merge({"-a", "1", r1, "2", holes}), 0, "id,a,k,id\n2,x,1,2\n1,y,x,1\n3,z,,\n", "");
    EXPECT_RUN(merge({"-o", "-a", "1", r1, "2", holes}), 0, "id,a,k,id\n2,x,1,2\n1,y,x,1\n3,z,,\n",
               "");
    EXPECT_RUN(merge({"1", r1, "2", holes}), 1, "id,a,k,id\n2,x,1,2\n1,y,x,1\n3,z\n",
               no_match("3"));
    // A key field beyond a header is refused before any record is joined.
    EXPECT_RUN(merge({"3", f1, "1", f2}), 1, "",
               "zelk-merge: ERROR: CSVFILE1 header: KEY_FIELD1 #3 does not exist (2 fields)\n");
    EXPECT_RUN(merge({"-o", "1", f1, "3", f2}), 1, "id,a\n",
               "zelk-merge: ERROR: CSVFILE2 header: KEY_FIELD2 #3 does not exist (2 fields)\n");
    std::string blankhdr = dir.file("blankhdr.csv", "\n\n\n");
    EXPECT_RUN(merge({"1", blankhdr, "1", f2}), 1, "",
               "zelk-merge: ERROR: CSVFILE1 header: KEY_FIELD1 #1 does not exist (0 fields)\n");
}

TEST_F(Merge, CsvErrorsInCsvfileTwoEndTheRun) {
    // Even with -a, and even when the error is met while scanning for another key.
    std::string e1 = dir.file("e1.csv", "id\n2\n1\n");
    std::string e2 = dir.file("e2.csv", "id,b\n1,p\n2,q\n3,\"r\n");
    const std::string msg =
        read_error("zelk-merge", "record #4, field #2: quoted field not closed by double quote", e2,
                   "line 4, byte 16");
    EXPECT_RUN(merge({"-a", "1", e1, "1", e2}), 1, "id,id,b\n2,2,q\n1\n", msg);
    std::string e3 = dir.file("e3.csv", "id\n1\n2\n9\n");
    EXPECT_RUN(merge({"-o", "-a", "1", e3, "1", e2}), 1, "id,id,b\n1,1,p\n2,2,q\n9\n", msg);
    // An unterminated last record is warned about once, however often the scan passes it.
    std::string u1 = dir.file("u1.csv", "id\n3\n2\n1\n");
    std::string u2 = dir.file("u2.csv", "id\n1\n2\n3");
    EXPECT_RUN(merge({"1", u1, "1", u2}), 0, "id,id\n3,3\n2,2\n1,1\n",
               "zelk-merge: Warning: final record not terminated: file '" + u2 + "'\n");
}

TEST_F(Merge, CsvErrorPastEveryMatch) {
    // A CSV error in CSVFILE2 is met when a scan reads that far, as the reference scan meets
    // it: never by a join whose matches all lie before it, always by a key that has to be
    // looked for behind the scan position (CSVFILE2 is read to its end first).
    std::string bad = dir.file("bad.csv", "id,b\n1,p\n2,q\n3,r\n4,\"s\n");
    std::string ahead = dir.file("ahead.csv", "id\n1\n3\n");
    std::string back = dir.file("back.csv", "id\n3\n1\n");
    const std::string msg =
        read_error("zelk-merge", "record #5, field #2: quoted field not closed by double quote",
                   bad, "line 5, byte 20");
    for (const char *exe : {"", ZELK_MERGE_REFERENCE}) {
        RunOptions o;
        o.executable = exe;
        EXPECT_RUN(merge({"1", ahead, "1", bad}, o), 0, "id,id,b\n1,1,p\n3,3,r\n", "");
        EXPECT_RUN(merge({"-a", "1", back, "1", bad}, o), 1, "id,id,b\n3,3,r\n1\n", msg);
    }
}

TEST_F(Merge, EmptyAndUnreadableInputs) {
    std::string empty = dir.file("empty.csv", "");
    EXPECT_RUN(merge({"1", f1, "1", empty}), 1, "id,a\n",
               "zelk-merge: Warning: CSVFILE2 '" + empty + "' is empty\n");
    EXPECT_RUN(merge({"1", f1, "1"}), 1, "id,a\n",
               "zelk-merge: Warning: CSVFILE2 'standard input' is empty\n");
    EXPECT_RUN(merge({"1", empty, "1", f2}), 1, "",
               "zelk-merge: Warning: CSVFILE1 '" + empty + "' is empty\n");
    // Header-only files join to the headers alone.
    std::string h = dir.file("h.csv", "id,a\n");
    EXPECT_RUN(merge({"-v", "1", h, "1", f2}), 0, "id,a,id,b\n", report(0, 0));
    EXPECT_RUN(merge({"1", f1, "1", dir.join("no2")}), 1, "",
               "zelk-merge: ERROR: failed opening CSVFILE2 '" + dir.join("no2") +
                   "': No such file or directory\n");
    RunOptions o;
    o.stdout_path = "/dev/full";
    EXPECT_RUN(merge({"-v", "1", f1, "1", f2}, o), 1, "",
               "zelk-merge: Error: failed writing output to standard output: No space left on "
               "device\n");
}

TEST_F(Merge, HeaderNames) {
    std::string g1 = dir.file("g1.csv", "a,key\nx,2\n");
    EXPECT_RUN(merge({"-Q", "key", g1, "id", f2}), 0, "a,key,id,b\nx,2,2,q\n", "");
    EXPECT_RUN(merge({"-Q", "key", g1, "nope", f2}), 1, "a,key\n",
               "zelk-merge: ERROR: FIELD name 'nope' not found in header\n");
    // Keys of several fields, by names or numbers; a name the header holds whole, comma and
    // all, is one field. Messages show a key's fields separated by commas.
    std::string h1 = dir.file("h1.csv", "\"x,y\",a,key\n1,x,2\n9,y,3\n");
    std::string h2 = dir.file("h2.csv", "k,b,c\n2,x,B\n2,y,C\n");
    for (const RunResult &r :
         {merge({"-Q", "key,a", h1, "k,b", h2}), merge({"3,2", h1, "1-2", h2})})
        EXPECT_RUN(r, 1, "\"x,y\",a,key,k,b,c\n1,x,2,2,x,B\n9,y,3\n", no_match("3,y"));
    EXPECT_RUN(merge({"-a", "-Q", "x,y", h1, "c", h2}), 0,
               "\"x,y\",a,key,k,b,c\n1,x,2,,,\n9,y,3,,,\n", "");
}

TEST_F(Merge, ManyMatchesAndUnmatchedRecords) {
    // -m joins every record of a key in CSVFILE2's order and warns about none; -r writes the
    // records no key matched after the joined ones, in CSVFILE2's order; -x writes only the
    // records without a match, of CSVFILE1, or of CSVFILE2 with -r.
    std::string a = dir.file("a.csv", "id,a\n1,x\n2,y\n3,z\n");
    std::string b = dir.file("b.csv", "k,id,b\nq,2,p1\n\nr,1,p2\ns,4,p3\nt,2,p4\n");
    EXPECT_RUN(merge({"-m", "-a", "-v", "1", a, "2", b}), 0,
               "id,a,k,id,b\n1,x,r,1,p2\n2,y,q,2,p1\n2,y,t,2,p4\n3,z,,,\n", report(3, 3));
    EXPECT_RUN(merge({"-m", "1", a, "2", b}), 1,
               "id,a,k,id,b\n1,x,r,1,p2\n2,y,q,2,p1\n2,y,t,2,p4\n3,z\n", no_match("3"));
    EXPECT_RUN(merge({"-r", "-a", "-s;", "1", a, "2", b}), 0,
               "id,a;k,id,b\n1,x;r,1,p2\n2,y;t,2,p4\n3,z;,,\n,;s,4,p3\n", same_key(2, 6, "2"));
    EXPECT_RUN(merge({"-x", "-o", "1", a, "1", dir.file("o.csv", "id\n1\n2\n")}), 0, "id,a\n3,z\n",
               "");
    EXPECT_RUN(merge({"-x", "-r", "-v", "1", a, "2", b}), 0, "k,id,b\ns,4,p3\n",
               report(3, 0) + "Number of CSVFILE2 records that matched no key:       1\n");
    // An unmatched record must have its header's field count too: a short one is not lost.
    std::string c = dir.file("c.csv", "k,id,b\nr,1,p2\nshort\n");
    EXPECT_RUN(merge({"-r", "-a", "1", a, "2", c}), 1, "id,a,k,id,b\n1,x,r,1,p2\n2,y,,,\n3,z,,,\n",
               "zelk-merge: ERROR: CSVFILE2 unmatched record #3: incorrect number of fields (1 "
               "vs 3 in header)\n");
    EXPECT_RUN(merge({"-o", "-m", "1", a, "2", b}), 1, "",
               "zelk-merge: ERROR: -o does not combine with -m or -r: they index all of "
               "CSVFILE2\n");
}

TEST_F(Merge, UsageAndOptionErrors) {
    EXPECT_RUN(merge({"1", f1}), 1, "", USAGE);
    EXPECT_RUN(merge({"1", f1, "1", f2, f2}), 1, "", USAGE);
    EXPECT_RUN(merge({"1", f1, "1", f2, "-s"}), 1, "",
               std::string("zelk-merge: option requires an argument -- 's'\n") + TRY);
    EXPECT_RUN(merge({"0", f1, "1", f2}), 1, "",
               "zelk-merge: Invalid value for KEY_FIELD1: 0 (must be >= 1)\n");
    EXPECT_RUN(merge({"1", f1, "2x", f2}), 1, "",
               "zelk-merge: Invalid value for KEY_FIELD2: 2x (includes non-digits)\n");
    // Lists of key fields must name as many fields on both sides, all within the header, and
    // end with no open range; the output then holds the headers' whole line at most.
    EXPECT_RUN(merge({"1,2", f1, "1", f2}), 1, "id,a\n",
               "zelk-merge: ERROR: KEY_FIELD1 has 2 fields and KEY_FIELD2 1: keys are compared "
               "field by field\n");
    EXPECT_RUN(merge({"1", f1, "1-", f2}), 1, "",
               "zelk-merge: ERROR: KEY_FIELD2: a key cannot end with an open range\n");
    // A key of several fields too long to hold whole is refused, never compared cut short.
    std::string wide = dir.file("wide.csv", "a,b\n" + std::string(4095, 'x') + "," +
                                                std::string(4095, 'y') + "\n");
    EXPECT_RUN(merge({"1,2", wide, "1,2", wide}), 1, "a,b,a,b\n",
               "zelk-merge: ERROR: CSVFILE1 record #2: key of 2 fields longer than 8191 bytes\n");
    EXPECT_RUN(merge({"1,3", f1, "1,2", f2}), 1, "",
               "zelk-merge: ERROR: FIELDS_LIST field spec 3 is beyond number of header files "
               "(2)\n");
}

// Small random file pairs joined by zelk-merge and by the plain circular scan (and by a build
// whose index sees nearly every key as a hash collision) must give the same stdout, stderr and
// status. Keys come from a small set, so duplicates and misses are common; CSVFILE2 also has
// blank, short and over-long records, quoted fields, CR LF ends, an unterminated last record
// or a CSV error at its end; keys differ in case too, for -i. ZELK_MERGE_DIFF_CASES sets the
// number of pairs.
TEST(MergeIndex, SameResultsAsTheCircularScan) {
    const std::vector<std::string> keys = {"a",    "b",     "c",     "d",     "e",
                                           "A",    "\"A\"", "\"a\"", "\"b\"", "",
                                           "\"\"", "n\0x"s, "n\0y"s, "N\0X"s, "\"q\"\"\""};
    std::mt19937 rng(20261208);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    auto key = [&] { return keys[(size_t)pick((int)keys.size())]; };
    const char *n = getenv("ZELK_MERGE_DIFF_CASES");
    const int cases = n ? atoi(n) : 50;
    int looked_back = 0, failed = 0, joined = 0;
    for (int c = 0; c < cases; c++) {
        TempDir dir;
        const std::string eol = pick(8) ? "\n" : "\r\n";
        std::string t1 = "k,x" + eol;
        for (int i = pick(9); i > 0; i--)
            t1 += pick(40) ? key() + "," + std::to_string(i) + eol : key() + eol;
        std::string t2 = "v,k" + eol;
        for (int i = pick(12); i > 0; i--) {
            int kind = pick(20);
            if (kind == 0)
                t2 += eol;
            else if (kind == 1)
                t2 += "short" + eol;
            else if (kind == 2)
                t2 += "w," + key() + ",extra" + eol;
            else if (kind == 3)
                t2 += "\"p,\nq\"," + key() + eol;
            else
                t2 += "v" + std::to_string(i) + "," + key() + eol;
        }
        if (pick(8) == 0) t2 += "bad,\"open" + eol;
        if (pick(8) == 0 && t2.back() == '\n') t2.resize(t2.size() - eol.size());
        const std::string f1 = dir.file("1.csv", t1), f2 = dir.file("2.csv", t2);

        std::vector<std::string> args;
        for (const char *opt : {"-a", "-i", "-u", "-v", "-t", "-s;"})
            if (pick(opt[1] == 'a' ? 2 : 3) == 0) args.push_back(opt);
        args.insert(args.end(), {"1", f1, "2"});
        std::vector<std::string> with_file = args;
        with_file.push_back(f2);
        RunOptions file, pipe;
        pipe.input = t2;
        pipe.input_pipe = true;
        pipe.env = file.env = {"TMPDIR=" + dir.path()};

        auto runs_alike = [&](std::vector<std::string> a, RunOptions o, const char *what) {
            RunOptions ref = o;
            ref.executable = ZELK_MERGE_REFERENCE;
            RunResult want = run_tool("zelk-merge", a, ref);
            RunResult got = run_tool("zelk-merge", a, o);
            SCOPED_TRACE(std::string(what) + ", case " + std::to_string(c) + "\nCSVFILE1:\n" + t1 +
                         "\nCSVFILE2:\n" + t2);
            EXPECT_RUN(got, want.status, want.out, want.err);
            return want;
        };
        RunResult r = runs_alike(with_file, file, "CSVFILE2 a file");
        file.executable = ZELK_MERGE_FEW_HASHES;
        SCOPED_TRACE("colliding hashes, case " + std::to_string(c));
        EXPECT_RUN(run_tool("zelk-merge", with_file, file), r.status, r.out, r.err);
        runs_alike(args, pipe, "CSVFILE2 on a pipe");
        looked_back += r.err.find("same key") != std::string::npos;
        failed += r.status != 0;
        joined += r.status == 0 && r.out.find('\n') != r.out.rfind('\n');
    }
    // The cases must reach the index at all: duplicates reported, runs ending either way.
    printf("%d cases: %d looked back, %d failed, %d joined\n", cases, looked_back, failed, joined);
    if (cases >= 50) {
        EXPECT_GT(looked_back, cases / 20);
        EXPECT_GT(failed, cases / 10);
        EXPECT_GT(joined, cases / 10);
    }
}

} // namespace

namespace {

// A join written plainly, in memory, as the model of the one-to-many, outer and anti joins: for
// each CSVFILE1 record the CSVFILE2 records with equal keys (all with -m, else the first a
// circular scan from after the previous match reaches), then the CSVFILE2 records whose key no
// CSVFILE1 record has. Fields hold no commas, quotes only around keys; each file has three.
struct JoinModel {
    bool m, r, x, a, u, i;
    bool two; // keys of two fields: CSVFILE1's first and third, CSVFILE2's second and third
    std::string sep, eol;

    static std::vector<std::string> split(const std::string &line) {
        std::vector<std::string> f;
        size_t from = 0;
        for (size_t to; (to = line.find(',', from)) != std::string::npos; from = to + 1)
            f.push_back(line.substr(from, to - from));
        f.push_back(line.substr(from));
        return f;
    }
    std::string norm(std::string k) const {
        if (u && k.size() >= 2 && k.front() == '"' && k.back() == '"') {
            std::string v;
            for (size_t j = 1; j + 1 < k.size(); j++) {
                v += k[j];
                if (k[j] == '"') j++;
            }
            k = v;
        }
        if (i)
            for (char &ch : k)
                if (ch >= 'A' && ch <= 'Z') ch = (char)(ch - 'A' + 'a');
        return k;
    }
    // lines: records without terminators, the header first.
    RunResult join(const std::vector<std::string> &l1, const std::vector<std::string> &l2) const {
        RunResult res;
        res.status = 0;
        auto key = [&](const std::string &line, size_t first) {
            std::vector<std::string> f = split(line);
            return two ? norm(f[first]) + "\n" + norm(f[2]) : norm(f[first]);
        };
        auto key1 = [&](size_t n) { return key(l1[n], 0); };
        auto key2 = [&](size_t n) { return key(l2[n], 1); };
        auto put = [&](const std::string &rec) { res.out += rec + eol; };
        std::set<std::string> keys1;
        for (size_t n = 1; n < l1.size(); n++)
            keys1.insert(key1(n));
        if (x && r)
            put(l2[0]);
        else if (x)
            put(l1[0]);
        else
            put(l1[0] + sep + l2[0]);
        size_t pos = 0; // the record the scan found last (0: the header)
        for (size_t n = 1; n < l1.size() && !(x && r); n++) {
            std::vector<size_t> found;
            for (size_t s = 1; s < l2.size(); s++) {
                size_t at = m ? s : (pos + s - 1) % (l2.size() - 1) + 1;
                if (key2(at) != key1(n)) continue;
                found.push_back(at);
                if (!m) break;
            }
            if (x) {
                if (found.empty()) put(l1[n]);
                continue;
            }
            if (found.empty() && !a) {
                put(l1[n]);
                res.status = 1;
                return res;
            }
            if (found.empty()) put(l1[n] + sep + ",,");
            for (size_t at : found)
                put(l1[n] + sep + l2[at]);
            if (!m && !found.empty()) pos = found[0];
        }
        for (size_t s = 1; r && s < l2.size(); s++)
            if (!keys1.count(key2(s))) put(x ? l2[s] : ",," + sep + l2[s]);
        return res;
    }
};

// Random file pairs, every combination of -m, -r, -x, -a, -u, -i (and -o without -m and -r,
// where CSVFILE2 lists CSVFILE1's keys in its order), keys of one field or two (by numbers or
// with -Q names), CSVFILE2 from a file and from a pipe, against the model.
// ZELK_MERGE_DIFF_CASES sets the number of pairs.
TEST(MergeJoins, SameResultsAsAPlainJoin) {
    const std::vector<std::string> keys = {"a", "b", "c", "A", "\"a\"", "\"b\"", "", "\"\""};
    const std::vector<std::string> seconds = {"p", "P", "\"p\"", "q"};
    std::mt19937 rng(20261209);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    const char *n = getenv("ZELK_MERGE_DIFF_CASES");
    const int cases = n ? atoi(n) / 4 + 1 : 12;
    int ran = 0, many = 0, outer = 0;
    for (int c = 0; c < cases; c++) {
        TempDir dir;
        std::vector<std::string> l1 = {"k,x,j"}, l2 = {"v,k,j"};
        auto second = [&] { return seconds[(size_t)pick((int)seconds.size())]; };
        // Every other pair has distinct keys, CSVFILE2 some of CSVFILE1's in its order, as the
        // forward pass (-o) needs them.
        const bool ordered = c % 2;
        if (ordered) {
            std::vector<std::string> distinct = {"", "a", "b", "c", "d"};
            std::shuffle(distinct.begin(), distinct.end(), rng);
            for (const std::string &k : distinct) {
                if (!pick(3)) continue;
                const std::string j = second();
                l1.push_back(k + "," + std::to_string(l1.size()) + "," + j);
                if (pick(3)) l2.push_back("v" + std::to_string(l2.size()) + "," + k + "," + j);
            }
        } else {
            for (int j = pick(7); j > 0; j--)
                l1.push_back(keys[(size_t)pick((int)keys.size())] + "," + std::to_string(j) + "," +
                             second());
            for (int j = pick(9); j > 0; j--)
                l2.push_back("v" + std::to_string(j) + "," + keys[(size_t)pick((int)keys.size())] +
                             "," + second());
        }
        std::string t1, t2;
        for (auto &l : l1)
            t1 += l + "\n";
        for (auto &l : l2)
            t2 += l + "\n";
        const std::string f1 = dir.file("1.csv", t1), f2 = dir.file("2.csv", t2);
        for (int opts = 0; opts < 64; opts++) {
            JoinModel model{bool(opts & 1), bool(opts & 2),      bool(opts & 4),
                            bool(opts & 8), bool(opts & 16),     bool(opts & 32),
                            pick(2) == 0,   pick(2) ? ";" : ",", "\n"};
            std::vector<std::string> args;
            for (int bit = 0; bit < 6; bit++)
                if (opts & (1 << bit)) args.push_back(std::string("-") + "mrxaui"[bit]);
            if (model.sep != ",") args.push_back("-s;");
            if (pick(4) == 0) {
                args.push_back("-t");
                model.eol = "\r\n";
            }
            if (ordered && !model.m && !model.r && pick(2)) args.push_back("-o");
            if (pick(3) == 0) {
                args.push_back("-Q");
                const char *k = model.two ? "k,j" : "k";
                args.insert(args.end(), {k, f1, k});
            } else {
                args.insert(args.end(), {model.two ? "1,3" : "1", f1, model.two ? "2,3" : "2"});
            }
            RunResult want = model.join(l1, l2);
            RunOptions pipe;
            pipe.input = t2;
            pipe.input_pipe = true;
            pipe.env = {"TMPDIR=" + dir.path()};
            std::vector<std::string> with_file = args;
            with_file.push_back(f2);
            for (const RunResult &got :
                 {run_tool("zelk-merge", with_file), run_tool("zelk-merge", args, pipe)}) {
                SCOPED_TRACE("case " + std::to_string(c) + ", options " + std::to_string(opts) +
                             "\nCSVFILE1:\n" + t1 + "\nCSVFILE2:\n" + t2);
                EXPECT_EQ(got.out, want.out);
                EXPECT_EQ(got.status, want.status) << got.err;
                if ((model.m || model.x) && want.status == 0) {
                    EXPECT_EQ(got.err, "");
                }
            }
            ran++;
            // Some -m joins must write more records than CSVFILE1 has, some -r or -x joins some.
            many += want.status == 0 &&
                    (size_t)std::count(want.out.begin(), want.out.end(), '\n') > l1.size();
            outer += want.status == 0 && (model.r || model.x) &&
                     want.out.find('\n') + 1 != want.out.size();
        }
    }
    EXPECT_GT(many, ran / 32);
    EXPECT_GT(outer, ran / 8);
}

} // namespace
