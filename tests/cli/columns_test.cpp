#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-columns");

const std::string E = "zelk-columns: ";
const std::string FIVE = "h1,h2,h3,h4,h5\na,b,c,d,e\n";

TEST(Columns, Runs) {
    const std::string order = "id,\"na,me\",age\n1,\"x\"\"y\",30\n";
    std::string list513;
    for (int i = 0; i < 513; i++)
        list513 += i ? ",1" : "1";
    const std::string xyz = "x,y,z\n1,2,3\n";
    const std::string ragged = "h1,h2,h3\na\nb,c,d\n";
    const std::string open = FIVE + "A,B,C\n1,2,3,4,5,6,7\n";
    const std::string two = FIVE + "1,2\n";
    const std::string names = "id,\"q\",name,a-b,id\n1,2,3,4,5\n";
    const std::string blank = "h1,h2\n\nx,y\n";
    TempDir dir;
    std::string f = dir.file("f.csv", "a,b\n1,2\n3,\"4\n");
    const std::string empty_spec = E + "ERROR: invalid FIELDS_LIST field spec ''\n";
    const std::string al = E + "Error: -a and -l options not compatible!\n";
    const std::string lr = E + "Error: -l and -r options not compatible!\n";
    const std::vector<RunCase> runs = {
        // The list's order, repeats and ranges.
        {argv("3,1"), order, "age,id\n30,1\n"},
        {argv("2,2"), order, "\"na,me\",\"na,me\"\n\"x\"\"y\",\"x\"\"y\"\n"},
        {argv("2-4"), FIVE, "h2,h3,h4\nb,c,d\n"},
        {argv("-o", "-s", ";", "-t", "1,3"), FIVE, "a;c\r\n"},
        {argv("-z", "1,3", "-s::"), FIVE, "h1::h3\0a::c\0"s},
        // List errors; an empty input ends before the list is looked at.
        {argv("4-2"), FIVE, "", E + "ERROR: invalid FIELDS_LIST field spec '4-2'\n", 1},
        {argv("1,3-3"), FIVE, "", E + "ERROR: invalid FIELDS_LIST field spec '3-3'\n", 1},
        {argv("2-,4"), FIVE, "", E + "Error: unbounded range must be last in FIELDS_LIST\n", 1},
        {argv("1,"), FIVE, "", empty_spec, 1},
        {argv(""), FIVE, "", empty_spec, 1},
        {argv("1,,2"), FIVE, "", empty_spec, 1},
        {argv(",1"), FIVE, "", empty_spec, 1},
        {argv("1-x"), FIVE, "",
         E + "Invalid value for FIELDS_LIST element: x (does not represent an integer)\n", 1},
        {argv("2x"), FIVE, "",
         E + "Invalid value for FIELDS_LIST element: 2x (includes non-digits)\n", 1},
        {argv("1,0"), FIVE, "", E + "Invalid value for FIELDS_LIST element: 0 (must be >= 1)\n", 1},
        {argv("99999999999"), FIVE, "",
         E + "Invalid value for FIELDS_LIST element: 99999999999 (invalid/out-of-range)\n", 1},
        {argv("6"), FIVE, "",
         E + "ERROR: FIELDS_LIST field spec 6 is beyond number of header files (5)\n", 1},
        {argv("2-9"), FIVE, "",
         E + "ERROR: FIELDS_LIST field spec 9 is beyond number of header files (5)\n", 1},
        {argv("4-2"), "", "", E + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        // Lists longer than the field table are refused.
        {argv(list513), FIVE, "", E + "ERROR: FIELDS_LIST expands to more than 512 fields\n", 1},
        {argv("-a", "1-513"), FIVE, "", E + "ERROR: FIELDS_LIST expands to more than 512 fields\n",
         1},
        {argv("-a", "1,2-512"), FIVE,
         "h1,h2,h3,h4,h5" + std::string(507, ',') + "\na,b,c,d,e" + std::string(507, ',') + "\n"},
        // Fields beyond the header; with -e the failing record is not begun.
        {argv("-a", "5,1"), xyz, ",x\n,1\n"},
        {argv("-a", "-w", "5,1"), xyz, ",x\n,1\n",
         E + "Warning: FIELDS_LIST field spec 5 is beyond number of header files (3)\n" + E +
             "Warning: record #1: field #5 does not exist (3 fields in record), printing blank "
             "field\n" +
             E +
             "Warning: record #2: field #5 does not exist (3 fields in record), printing blank "
             "field\n"},
        {argv("-a", "-e", "1,5"), xyz, "",
         E + "ERROR: record #1: field #5 does not exist (3 fields in record)\n", 1},
        // Short records.
        {argv("3,1"), ragged, "h3,h1\n,a\nd,b\n"},
        {argv("-w", "3,1"), ragged, "h3,h1\n,a\nd,b\n",
         E + "Warning: record #2: field #3 does not exist (1 fields in record), printing blank "
             "field\n"},
        {argv("-e", "3,1"), ragged, "h3,h1\n",
         E + "ERROR: record #2: field #3 does not exist (1 fields in record)\n", 1},
        // An open-ended range fills to the header's width. A start beyond the record but inside
        // the header: the start itself is a missing field.
        {argv("2-"), open, "h2,h3,h4,h5\nb,c,d,e\nB,C,,\n2,3,4,5,6,7\n"},
        {argv("-l", "2-"), open, "h2,h3,h4,h5\nb,c,d,e\nB,C,,\n2,3,4,5\n"},
        // The fields of a range go out as they stand: quoted separators, quotes and line breaks
        // kept, the CR LF ending left behind.
        {argv("2-"), "h1,h2,h3\r\n1,\"a,\"\"b\",c\r\n2,\"x\ny\",\r\n",
         "h2,h3\n\"a,\"\"b\",c\n\"x\ny\",\n"},
        {argv("-a", "5,4-"), "a,b,c,d\n1\n", ",d\n,\n"},
        {argv("-w", "4-"), "a,b,c,d,e\n1\n", "d,e\n,\n",
         E + "Warning: record #2: field #4 does not exist (1 fields in record), printing blank "
             "field\n"},
        // -r leaves out exactly the listed fields. The order of the list does not matter, nor
        // do repeats or an open range's position; listed fields beyond a record are ignored,
        // even with -e, and nothing is filled in.
        {argv("-r", "2,4"), two, "h1,h3,h5\na,c,e\n1\n"},
        {argv("-r", "3-"), two, "h1,h2\na,b\n1,2\n"},
        {argv("-r", "1"), "h\nv\n", "\n\n"},
        {argv("-r", "4,2"), two, "h1,h3,h5\na,c,e\n1\n"},
        {argv("-r", "2,2,4"), two, "h1,h3,h5\na,c,e\n1\n"},
        {argv("-r", "5,1-2"), two, "h3,h4\nc,d\n\n"},
        {argv("-r", "5,3-"), two, "h1,h2\na,b\n1,2\n"},
        {argv("-r", "-e", "-a", "9,1"), two, "h2,h3,h4,h5\nb,c,d,e\n2\n"},
        // Header names; a name is a header field, quoted or not, before it is a range.
        {argv("-Q", "name,id"), names, "name,id\n3,1\n"},
        {argv("-Q", "id-name"), names, "id,\"q\",name\n1,2,3\n"},
        {argv("-Q", "\"q\""), names, "\"q\"\n2\n"},
        {argv("-Q", "q,a-b"), names, "\"q\",a-b\n2,4\n"},
        {argv("-Q", "q-a-b"), names, "\"q\",name,a-b\n2,3,4\n"},
        {argv("-Q", "a-b-"), names, "a-b,id\n4,5\n"},
        {argv("-Q", "x"), names, "", E + "ERROR: FIELD name 'x' not found in header\n", 1},
        {argv("-Q", "a-c"), names, "", E + "ERROR: FIELD name 'a' not found in header\n", 1},
        {argv("-Q", "name-id"), names, "", E + "ERROR: invalid FIELDS_LIST field spec '3-1'\n", 1},
        {argv("-Q", "-r", "name-"), names, "id,\"q\"\n1,2\n"},
        // Blank records; a blank header has no fields, so listed fields are beyond it.
        {argv("2,1"), blank, "h2,h1\ny,x\n"},
        {argv("-b", "2,1"), blank, "h2,h1\n\ny,x\n"},
        {argv("-b", "-z", "2,1"), blank, "h2,h1\0\0y,x\0"s},
        {argv("-1", "1,2"), blank, "h1,h2\n,\nx,y\n"},
        {argv("-1", "-e", "1,2"), blank, "h1,h2\n",
         E + "ERROR: record #2: field #2 does not exist (1 fields in record)\n", 1},
        {argv("-1", "-r", "2"), blank, "h1\n\"\"\nx\n"},
        {argv("1"), "\nx\n", "",
         E + "ERROR: FIELDS_LIST field spec 1 is beyond number of header files (0)\n", 1},
        {argv("-a", "1,2"), "\nx\n", ",\nx,\n"},
        // Inputs and errors; NUL bytes inside fields are data.
        {argv("2", f), "", "b\n2\n",
         read_error("zelk-columns", "record #3, field #2: quoted field not closed by double quote",
                    f, "line 3, byte 11"),
         1},
        {argv("2,1"), "h\0,i\na,b\0c\n"s, "i,h\0\nb\0c,a\n"s},
        {argv("-r", "1"), "h\0,i\0\n"s, "i\0\n"s},
        // Usage and conflicting options.
        {argv(), "", "", USAGE, 1},
        {argv("1", "a", "b"), "", "", USAGE, 1},
        {argv("-la", "1"), "", "", al, 1},
        {argv("-a", "-r", "-l", "1"), "", "", al, 1},
        {argv("-r", "-l", "1"), "", "", lr, 1},
        {argv("-l", "-r", "1"), "", "", lr, 1},
        {argv("-1", "-b", "1"), "", "", E + "Error: -b and -1 options not compatible!\n", 1},
        {argv("-z", "-t", "1"), "", "", E + "Error: -t and -z options not compatible!\n", 1},
    };
    expect_runs("zelk-columns", runs);
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
    RunResult r = run_tool("zelk-columns", {"-w", "3,1-2"}, in);
    EXPECT_TRUE(r.out == out);
    EXPECT_EQ(r.status, 0);
}

} // namespace
