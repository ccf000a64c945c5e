#include "harness.h"

namespace {

const char *IN = "a,b\nc,d\ne,f\n";

const std::string SC = "zelk-setcell: ";
const std::string UNCLOSED =
    read_error("zelk-setcell", "record #2, field #1: quoted field not closed by double quote",
               "standard input", "line 2, byte 3");

TEST(Setcell, Runs) {
    const char *ends = "h\n\"p,q\",\"r\"\"s\",t\nu\n";
    std::string big(8192, 'x');
    const std::vector<RunCase> runs = {
        // One cell replaced; & is the old value, once at the most.
        {argv("2", "2", "x"), IN, "a,b\nc,x\ne,f\n"},
        {argv("2", "2", "[&]"), IN, "a,b\nc,[d]\ne,f\n"},
        {argv("2", "2", "100%"), IN, "a,b\nc,100%\ne,f\n"},
        {argv("1", "1", "\\&&%s"), IN, "&a%s,b\nc,d\ne,f\n"},
        {argv("-t", "3", "2", "&&"), IN, "",
         SC + "ERROR: '&' appears more than once in REPLACEMENT!\n", 1},
        // The first, last and only field. A quoted old value inserted with & is quoted as a
        // whole, so the record stays valid.
        {argv("2", "1", "<&>"), ends, "h\n\"<p,q>\",\"r\"\"s\",t\nu\n"},
        {argv("2", "3", "<&>"), ends, "h\n\"p,q\",\"r\"\"s\",<t>\nu\n"},
        {argv("-t", "3", "1", "<&>"), ends, "h\r\n\"p,q\",\"r\"\"s\",t\r\n<u>\r\n"},
        // Embedded line breaks do not shift record numbers; NUL bytes are kept.
        {argv("3", "1", "v"), "\"a\nb\"\n\0x\nu\n"s, "\"a\nb\"\n\0x\nv\n"s},
        // A missing record or field.
        {argv("4", "1", "x"), IN, IN,
         SC + "ERROR: CSVFILE 'standard input' has less than RECORD (4) records\n", 1},
        {argv("2", "3", "x"), IN, "a,b\n",
         SC + "ERROR: record #2 does not contain replacement FIELD #3\n", 1},
        {argv("2", "1", "x"), "a\n\nb\n", "a\n",
         SC + "ERROR: record #2 does not contain replacement FIELD #1\n", 1},
        {argv("1", "1", "x"), "a\n\"b\n", "x\n", UNCLOSED, 1},
        {argv("3", "1", "x"), "a\n\"b\n", "a\n", UNCLOSED, 1},
        // Overlong values are refused.
        {argv("2", "2", "&"), "h\na," + big + ",c\n", "h\n",
         read_error("zelk-setcell",
                    "record #2, field #2: field length exceeded MAX_FIELD_LENGTH (8192)"),
         1},
        {argv("2", "2", "<&>"), "h\na," + big.substr(1) + "\n", "h\na,<" + big.substr(1) + ">\n"},
        {argv("1", "1", std::string(4096, '%')), "a\n", "",
         SC + "ERROR: NEWVALUE is too long (more than 8191 bytes once converted)\n", 1},
        // -Q: FIELD named in record 1, which may itself be the record changed.
        {argv("-Q", "3", "b", "<&>"), IN, "a,b\nc,d\ne,<f>\n"},
        {argv("-Q", "1", "b", "B"), IN, "a,B\nc,d\ne,f\n"},
        {argv("-Q", "2", "z", "x"), IN, "", SC + "ERROR: FIELD name 'z' not found in header\n", 1},
        {argv("-Q", "1", "z", "x"), IN, "", SC + "ERROR: FIELD name 'z' not found in header\n", 1},
        {argv("-Q", "3", "a", "x"), "", "", SC + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        {argv("-Q", "1", "a", "x"), "", "", SC + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        {argv("-Q", "3", "b", "x"), "a,b\nc\n", "a,b\nc\n",
         SC + "ERROR: CSVFILE 'standard input' has less than RECORD (3) records\n", 1},
        {argv("-Q", "2", "b", "x"), "a,b\nc\n", "a,b\n",
         SC + "ERROR: record #2 does not contain replacement FIELD #2\n", 1},
        // Operands.
        {argv("0", "1", "x"), IN, "", SC + "Invalid value for RECORD: 0 (must be >= 1)\n", 1},
        {argv("1", "1x", "x"), IN, "", SC + "Invalid value for FIELD: 1x (includes non-digits)\n",
         1},
        {argv("-b", "1", "1", "x"), IN, "",
         SC + "invalid option -- 'b'\nTry 'zelk-setcell --help' for more information.\n", 1},
    };
    expect_runs("zelk-setcell", runs);
    EXPECT_EQ(run_tool("zelk-setcell", {"1", "1"}, IN).err.rfind("Program to edit (replace)", 0),
              0u);
}

// No record written may be one the readers refuse. A quoted old value inserted whole by a
// reference is unquoted, and the new value quoted; any other invalid new value is refused with
// the record's number.
TEST(Setcell, NewValuesStayValidCsv) {
    const char *in = "id,name\n1,\"Smith, John\"\n2,\"a\"\"b\"\n3,plain\n";
    const std::string kept = "id,name\n1,\"Smith, John\"\n2,\"a\"\"b\"\n";
    const std::string refused =
        SC + "ERROR: record #4: new value of FIELD #2 would not be valid CSV: '";
    const std::vector<RunCase> runs = {
        {argv("2", "2", "Dr. &"), in, "id,name\n1,\"Dr. Smith, John\"\n2,\"a\"\"b\"\n3,plain\n"},
        {argv("3", "2", "x &"), in, "id,name\n1,\"Smith, John\"\n2,\"x a\"\"b\"\n3,plain\n"},
        // Valid results are written as given, commas included.
        {argv("4", "2", "&,\"q\""), in, kept + "3,plain,\"q\"\n"},
        // The message shows the value, a line feed in it escaped.
        {argv("4", "2", "a\"b"), in, kept, refused + "a\"b'\n", 1},
        {argv("4", "2", "a\nb"), in, kept, refused + "a\\012b'\n", 1},
        {argv("4", "2", "\"open"), in, kept, refused + "\"open'\n", 1},
        {argv("4", "2", "\"x\"y"), in, kept, refused + "\"x\"y'\n", 1},
    };
    expect_runs("zelk-setcell", runs);
}

} // namespace
