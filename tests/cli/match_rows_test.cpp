#include "c_locale.h"
#include "harness.h"

namespace {

const char *MR = "zelk-match-rows";

TEST(MatchRows, Runs) {
    const std::string in = "name,age,city\na,25,X\nb,15,Y\n";
    const std::string quoted = "h\n\"x,y\",3\n\"p\nq\",3\n";
    const std::string blank = "h\n\na,b\n";
    // Records near the record limit, longer together than a pipe holds.
    const std::string big(65000, 'x');
    // Header names that awk would read specially, a byte order mark on the first, a name twice.
    const std::string names = "\xEF\xBB\xBF\"a b\",\"c,d\",\"q\"\"t\",b\\s,\"l\nf\",dup,dup\n";
    const std::string all_names = "$zelk_col(\"a b\")==1 && $zelk_col(\"c,d\")==2 && "
                                  "$zelk_col(\"q\\\"t\")==3 && $zelk_col(\"b\\\\s\")==4 && "
                                  "$zelk_col(\"l\\nf\")==5 && $zelk_col(\"dup\")==6";
    const std::vector<RunCase> runs = {
        // -Q: the code reads fields by header name, by a field's value or its bytes.
        {argv("-Q", all_names), names + "1,2,3,4,5,6,7\n1,2,3,4,5,7,6\n",
         names + "1,2,3,4,5,6,7\n"},
        {argv("-Q", "-o", "$zelk_col(\"\\\"c,d\\\"\")==2"), names + "1,2\n1,3\n", "1,2\n"},
        {argv("-Q", "$zelk_col(\"ab\")"), names + "1\n", names,
         "zelk-match-rows: ERROR: field name 'ab' not found in header\n", 1},
        {argv("-Q", "$zelk_col(\"x\")"), "", "",
         "zelk-match-rows: ERROR: CSVFILE 'standard input' is empty\n", 1},
        {argv("-Q", "-h", "1"), in, "",
         "zelk-match-rows: Error: -h and -Q options not compatible!\n", 1},
        // Selecting on whole records; NR counts the records awk was given, as it would over a
        // plain file.
        {argv("$2>=20"), in, "name,age,city\na,25,X\n"},
        {argv("-v", "-o", "$2>=20"), in, "b,15,Y\n"},
        {argv("-h", "NF==3 && $3 ~ /^[A-Z]$/"), in, "a,25,X\nb,15,Y\n"},
        {argv("NF==3"), "h\na,b,c\na,b\n\"x,y\",b,c\n", "h\na,b,c\n\"x,y\",b,c\n"},
        {argv("NR==2 && FNR==2"), in, "name,age,city\nb,15,Y\n"},
        {argv("$2>100"), in, "name,age,city\n", "", 1},
        {argv("1"), "", "", "", 1},
        // Quoted fields stay whole: the comma and line feed inside the quotes do not split the
        // field, and the quotes stay. -n numbers records, not lines.
        {argv("$2==3 && $1==\"\\\"x,y\\\"\""), quoted, "h\n\"x,y\",3\n"},
        {argv("-n", "$2==3"), quoted + "z,3\n", "1:h\n2:\"x,y\",3\n3:\"p\nq\",3\n4:z,3\n"},
        // -u: the condition sees values; the records written are the bytes read.
        {argv("-u", "$2 == \"net 30, paid\" && NF == 2"),
         "h,t\na,\"net 30, paid\"\nb,net 30\nc,\"\"\"net 30, paid\"\"\"\n",
         "h,t\na,\"net 30, paid\"\n"},
        {argv("-u", "$1 == \"say \\\"hi\\\"\" || $1 == \"p\\nq\" || $2 == 3"),
         "h\n\"say \"\"hi\"\"\",1\n\"p\nq\",2\nx,\"3\"\n\"say hi\",4\n",
         "h\n\"say \"\"hi\"\"\",1\n\"p\nq\",2\nx,\"3\"\n"},
        {argv("-u", "-h", "length($2) == 0 && NF == 3"), "a,\"\",b\nc,,d\ne,\"\"\"\",f\n",
         "a,\"\",b\nc,,d\n"},
        {argv("-u", "-Q", "-n", "$zelk_col(\"c,d\") == \"x,\\\"y\\\"\""),
         names + "1,\"x,\"\"y\"\"\"\n1,x\n", "1:" + names + "2:1,\"x,\"\"y\"\"\"\n"},
        // Blank records, and -q.
        {argv("NF==0"), blank, "h\n", "", 1},
        {argv("-b", "NF==0"), blank, "h\n\n"},
        {argv("-q", "NF==2"), blank, ""},
        {argv("-q", "NF==5"), blank, "", "", 1},
        {argv("-m1", "-t", "1"), "h\n1\n2\n", "h\r\n1\r\n"},
        {argv("-o", "-h", "1"), blank, "",
         "zelk-match-rows: Error: -h and -o options not compatible!\n", 1},
        // Long records, with CR LF.
        {argv("-t", "$2 != 2 && length($1) == 65000"),
         "h\n" + big + ",1\n" + big + ",2\n" + big + ",3\n",
         "h\r\n" + big + ",1\r\n" + big + ",3\r\n"},
        // Framing bytes are refused: a 0x19 would split the field in two, a 0x18 the record.
        {argv("NF==2"), "h\na,b\n\"c\x19\",d\n", "h\na,b\n",
         "zelk-match-rows: ERROR: record #3 holds the byte 0x19, which cannot be passed to AWK (it "
         "delimits records and fields there)\n",
         1},
    };
    expect_runs(MR, runs);
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

// In a UTF-8 locale the code counts and matches characters, whether it is given as the
// condition or in a library; code that looks at no character selects as it would in C.
TEST(MatchRows, CharactersOfTheLocale) {
    ScopedLcAll loc("C.UTF-8");
    if (!loc.ok) GTEST_SKIP() << "no C.UTF-8 locale";
    TempDir dir;
    std::string lib = dir.file("one.awk", "function one() { return /^..4/ }\n"
                                          "function len(s) { return length(s) }\n");
    const std::string in = "h,n\n\xc3\xa9,4\nab,2\n";
    const std::vector<RunCase> runs = {
        {argv("-o", "length($1) == 1"), in, "\xc3\xa9,4\n"},
        {argv("-o", "$1 ~ /^.$/"), in, "\xc3\xa9,4\n"},
        {argv("-o", "-l", lib, "one()"), in, "\xc3\xa9,4\n"},
        {argv("-o", "-l", lib, "len($1) == 1"), in, "\xc3\xa9,4\n"},
        {argv("-o", "$2/2 == 2 || $1 == \"ab\""), in, "\xc3\xa9,4\nab,2\n"},
    };
    expect_runs(MR, runs);
}

} // namespace
