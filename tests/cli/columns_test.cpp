#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-columns");

RunResult cols(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-columns", args, input);
}

const std::string E = "zelk-columns: ";
const std::string FIVE = "h1,h2,h3,h4,h5\na,b,c,d,e\n";

TEST(Columns, ListOrderRepeatsAndRanges) {
    std::string in = "id,\"na,me\",age\n1,\"x\"\"y\",30\n";
    EXPECT_RUN(cols({"3,1"}, in), 0, "age,id\n30,1\n", "");
    EXPECT_RUN(cols({"2,2"}, in), 0, "\"na,me\",\"na,me\"\n\"x\"\"y\",\"x\"\"y\"\n", "");
    EXPECT_RUN(cols({"2-4"}, FIVE), 0, "h2,h3,h4\nb,c,d\n", "");
    EXPECT_RUN(cols({"-o", "-s", ";", "-t", "1,3"}, FIVE), 0, "a;c\r\n", "");
    EXPECT_RUN(cols({"-z", "1,3", "-s::"}, FIVE), 0, "h1::h3\0a::c\0"s, "");
}

// Records of every length up to past the output buffer's half, with warnings (which flush
// standard output in the middle of a record) on some: the output is the model's, byte for byte.
TEST(Columns, LongOutputAgainstAModel) {
    std::string in = "a,b,c\n", out = "c,a,b\n";
    for (int i = 0; i < 600; i++) {
        std::string a = std::to_string(i), b(i * 997 % 70000 / 3, 'x');
        if (i % 7 == 0) {
            in += a + "," + b + "\n";
            out += "," + a + "," + b + "\n";
        } else {
            in += a + "," + b + ",\"" + a + "\"\n";
            out += "\"" + a + "\"," + a + "," + b + "\n";
        }
    }
    RunResult r = cols({"-w", "3,1-2"}, in);
    EXPECT_TRUE(r.out == out);
    EXPECT_EQ(r.status, 0);
}

TEST(Columns, ListErrors) {
    EXPECT_RUN(cols({"4-2"}, FIVE), 1, "", E + "ERROR: invalid FIELDS_LIST field spec '4-2'\n");
    EXPECT_RUN(cols({"1,3-3"}, FIVE), 1, "", E + "ERROR: invalid FIELDS_LIST field spec '3-3'\n");
    EXPECT_RUN(cols({"2-,4"}, FIVE), 1, "",
               E + "Error: unbounded range must be last in FIELDS_LIST\n");
    for (const char *list : {"1,", "", "1,,2", ",1"})
        EXPECT_EQ(cols({list}, FIVE).err, E + "ERROR: invalid FIELDS_LIST field spec ''\n")
            << list;
    EXPECT_RUN(cols({"1-x"}, FIVE), 1, "",
               E + "Invalid value for FIELDS_LIST element: x (does not represent an integer)\n");
    EXPECT_RUN(cols({"2x"}, FIVE), 1, "",
               E + "Invalid value for FIELDS_LIST element: 2x (includes non-digits)\n");
    EXPECT_RUN(cols({"1,0"}, FIVE), 1, "",
               E + "Invalid value for FIELDS_LIST element: 0 (must be >= 1)\n");
    EXPECT_RUN(cols({"99999999999"}, FIVE), 1, "",
               E + "Invalid value for FIELDS_LIST element: 99999999999 (invalid/out-of-range)\n");
    EXPECT_RUN(cols({"6"}, FIVE), 1, "",
               E + "ERROR: FIELDS_LIST field spec 6 is beyond number of header files (5)\n");
    EXPECT_RUN(cols({"2-9"}, FIVE), 1, "",
               E + "ERROR: FIELDS_LIST field spec 9 is beyond number of header files (5)\n");
    // An empty input ends before the list is looked at.
    EXPECT_RUN(cols({"4-2"}, ""), 1, "", 
               "zelk-columns: ERROR: CSVFILE 'standard input' is empty\n");
}

TEST(Columns, ListsLongerThanTheFieldTableAreRefused) {
    std::string list;
    for (int i = 0; i < 513; i++) list += i ? ",1" : "1";
    EXPECT_RUN(cols({list}, FIVE), 1, "",
               E + "ERROR: FIELDS_LIST expands to more than 512 fields\n");
    EXPECT_RUN(cols({"-a", "1-513"}, FIVE), 1, "",
               E + "ERROR: FIELDS_LIST expands to more than 512 fields\n");
    EXPECT_RUN(cols({"-a", "1,2-512"}, FIVE), 0, "h1,h2,h3,h4,h5" + std::string(507, ',') +
               "\na,b,c,d,e" + std::string(507, ',') + "\n", "");
}

TEST(Columns, FieldsBeyondTheHeader) {
    std::string in = "x,y,z\n1,2,3\n";
    EXPECT_RUN(cols({"-a", "5,1"}, in), 0, ",x\n,1\n", "");
    EXPECT_RUN(cols({"-a", "-w", "5,1"}, in), 0, ",x\n,1\n",
               E + "Warning: FIELDS_LIST field spec 5 is beyond number of header files (3)\n" +
                   E +
                   "Warning: record #1: field #5 does not exist (3 fields in record), printing "
                   "blank field\n" +
                   E +
                   "Warning: record #2: field #5 does not exist (3 fields in record), printing "
                   "blank field\n");
    // The failing record is not begun.
    EXPECT_RUN(cols({"-a", "-e", "1,5"}, in), 1, "",
               E + "ERROR: record #1: field #5 does not exist (3 fields in record)\n");
}

TEST(Columns, ShortRecords) {
    std::string in = "h1,h2,h3\na\nb,c,d\n";
    EXPECT_RUN(cols({"3,1"}, in), 0, "h3,h1\n,a\nd,b\n", "");
    EXPECT_RUN(cols({"-w", "3,1"}, in), 0, "h3,h1\n,a\nd,b\n",
               E + "Warning: record #2: field #3 does not exist (1 fields in record), printing "
                   "blank field\n");
    EXPECT_RUN(cols({"-e", "3,1"}, in), 1, "h3,h1\n",
               E + "ERROR: record #2: field #3 does not exist (1 fields in record)\n");
}

TEST(Columns, OpenEndedRangeFillsToTheHeaderWidth) {
    std::string in = FIVE + "A,B,C\n1,2,3,4,5,6,7\n";
    EXPECT_RUN(cols({"2-"}, in), 0, "h2,h3,h4,h5\nb,c,d,e\nB,C,,\n2,3,4,5,6,7\n", "");
    EXPECT_RUN(cols({"-l", "2-"}, in), 0, "h2,h3,h4,h5\nb,c,d,e\nB,C,,\n2,3,4,5\n", "");
    EXPECT_RUN(cols({"-a", "5,4-"}, "a,b,c,d\n1\n"), 0, ",d\n,\n", "");
    // A start beyond the record but inside the header: the start itself is a missing field.
    EXPECT_RUN(cols({"-w", "4-"}, "a,b,c,d,e\n1\n"), 0, "d,e\n,\n",
               E + "Warning: record #2: field #4 does not exist (1 fields in record), printing "
                   "blank field\n");
}

TEST(Columns, ReverseLeavesOutExactlyTheListedFields) {
    std::string in = FIVE + "1,2\n";
    EXPECT_RUN(cols({"-r", "2,4"}, in), 0, "h1,h3,h5\na,c,e\n1\n", "");
    EXPECT_RUN(cols({"-r", "3-"}, in), 0, "h1,h2\na,b\n1,2\n", "");
    EXPECT_RUN(cols({"-r", "1"}, "h\nv\n"), 0, "\n\n", "");
    // The order of the list does not matter, nor do repeats or an open range's position.
    EXPECT_RUN(cols({"-r", "4,2"}, in), 0, "h1,h3,h5\na,c,e\n1\n", "");
    EXPECT_RUN(cols({"-r", "2,2,4"}, in), 0, "h1,h3,h5\na,c,e\n1\n", "");
    EXPECT_RUN(cols({"-r", "5,1-2"}, in), 0, "h3,h4\nc,d\n\n", "");
    EXPECT_RUN(cols({"-r", "5,3-"}, in), 0, "h1,h2\na,b\n1,2\n", "");
    // Listed fields beyond a record are ignored, even with -e; nothing is filled in.
    EXPECT_RUN(cols({"-r", "-e", "-a", "9,1"}, in), 0, "h2,h3,h4,h5\nb,c,d,e\n2\n", "");
}

TEST(Columns, HeaderNames) {
    std::string in = "id,\"q\",name,a-b,id\n1,2,3,4,5\n";
    EXPECT_RUN(cols({"-Q", "name,id"}, in), 0, "name,id\n3,1\n", "");
    EXPECT_RUN(cols({"-Q", "id-name"}, in), 0, "id,\"q\",name\n1,2,3\n", "");
    EXPECT_RUN(cols({"-Q", "\"q\""}, in), 0, "\"q\"\n2\n", "");
    // A name is a header field, quoted or not, before it is a range.
    EXPECT_RUN(cols({"-Q", "q,a-b"}, in), 0, "\"q\",a-b\n2,4\n", "");
    EXPECT_RUN(cols({"-Q", "q-a-b"}, in), 0, "\"q\",name,a-b\n2,3,4\n", "");
    EXPECT_RUN(cols({"-Q", "a-b-"}, in), 0, "a-b,id\n4,5\n", "");
    EXPECT_RUN(cols({"-Q", "x"}, in), 1, "", E + "ERROR: FIELD name 'x' not found in header\n");
    EXPECT_RUN(cols({"-Q", "a-c"}, in), 1, "", E + "ERROR: FIELD name 'a' not found in header\n");
    EXPECT_RUN(cols({"-Q", "name-id"}, in), 1, "",
               E + "ERROR: invalid FIELDS_LIST field spec '3-1'\n");
    EXPECT_RUN(cols({"-Q", "-r", "name-"}, in), 0, "id,\"q\"\n1,2\n", "");
}

TEST(Columns, BlankRecords) {
    std::string in = "h1,h2\n\nx,y\n";
    EXPECT_RUN(cols({"2,1"}, in), 0, "h2,h1\ny,x\n", "");
    EXPECT_RUN(cols({"-b", "2,1"}, in), 0, "h2,h1\n\ny,x\n", "");
    EXPECT_RUN(cols({"-b", "-z", "2,1"}, in), 0, "h2,h1\0\0y,x\0"s, "");
    EXPECT_RUN(cols({"-1", "1,2"}, in), 0, "h1,h2\n,\nx,y\n", "");
    EXPECT_RUN(cols({"-1", "-e", "1,2"}, in), 1, "h1,h2\n",
               E + "ERROR: record #2: field #2 does not exist (1 fields in record)\n");
    EXPECT_RUN(cols({"-1", "-r", "2"}, in), 0, "h1\n\"\"\nx\n", "");
    // A blank header has no fields: listed fields are beyond it.
    EXPECT_RUN(cols({"1"}, "\nx\n"), 1, "",
               E + "ERROR: FIELDS_LIST field spec 1 is beyond number of header files (0)\n");
    EXPECT_RUN(cols({"-a", "1,2"}, "\nx\n"), 0, ",\nx,\n", "");
}

TEST(Columns, InputsAndErrors) {
    TempDir dir;
    std::string f = dir.file("f.csv", "a,b\n1,2\n3,\"4\n");
    EXPECT_RUN(run_tool("zelk-columns", {"2", f}), 1, "b\n2\n",
               E + "ERROR: record #3, field #2: quoted field not closed by double quote\n" + E +
                   "file:  '" + f + "'\n");
    // NUL bytes inside fields are data.
    EXPECT_RUN(cols({"2,1"}, "h\0,i\na,b\0c\n"s), 0, "i,h\0\nb\0c,a\n"s, "");
    EXPECT_RUN(cols({"-r", "1"}, "h\0,i\0\n"s), 0, "i\0\n"s, "");
}

TEST(Columns, UsageAndConflicts) {
    EXPECT_RUN(cols({}, ""), 1, "", USAGE);
    EXPECT_RUN(cols({"1", "a", "b"}, ""), 1, "", USAGE);
    EXPECT_RUN(cols({"-la", "1"}, ""), 1, "", E + "Error: -a and -l options not compatible!\n");
    EXPECT_RUN(cols({"-a", "-r", "-l", "1"}, ""), 1, "",
               E + "Error: -a and -l options not compatible!\n");
    EXPECT_RUN(cols({"-r", "-l", "1"}, ""), 1, "", E + "Error: -l and -r options not compatible!\n");
    EXPECT_RUN(cols({"-l", "-r", "1"}, ""), 1, "", E + "Error: -l and -r options not compatible!\n");
    EXPECT_RUN(cols({"-1", "-b", "1"}, ""), 1, "", E + "Error: -b and -1 options not compatible!\n");
    EXPECT_RUN(cols({"-z", "-t", "1"}, ""), 1, "", E + "Error: -t and -z options not compatible!\n");
}

} // namespace
