#include <utility>

#include "harness.h"

namespace {

const char *IN = "a,b\nc,d\ne,f\n";

RunResult setcell(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-setcell", args, input);
}

TEST(Setcell, ReplacesOneCell) {
    EXPECT_RUN(setcell({"2", "2", "x"}, IN), 0, "a,b\nc,x\ne,f\n", "");
    EXPECT_RUN(setcell({"2", "2", "[&]"}, IN), 0, "a,b\nc,[d]\ne,f\n", "");
    EXPECT_RUN(setcell({"2", "2", "100%"}, IN), 0, "a,b\nc,100%\ne,f\n", "");
    EXPECT_RUN(setcell({"1", "1", "\\&&%s"}, IN), 0, "&a%s,b\nc,d\ne,f\n", "");
    EXPECT_RUN(setcell({"-t", "3", "2", "&&"}, IN), 1, "",
               "zelk-setcell: ERROR: '&' appears more than once in REPLACEMENT!\n");
}

TEST(Setcell, FirstLastAndOnlyField) {
    const char *in = "h\n\"p,q\",\"r\"\"s\",t\nu\n";
    // A quoted old value inserted with & is quoted as a whole, so the record stays valid.
    EXPECT_RUN(setcell({"2", "1", "<&>"}, in), 0, "h\n\"<p,q>\",\"r\"\"s\",t\nu\n", "");
    EXPECT_RUN(setcell({"2", "3", "<&>"}, in), 0, "h\n\"p,q\",\"r\"\"s\",<t>\nu\n", "");
    EXPECT_RUN(setcell({"-t", "3", "1", "<&>"}, in), 0, "h\r\n\"p,q\",\"r\"\"s\",t\r\n<u>\r\n", "");
    // Embedded line breaks do not shift record numbers; NUL bytes are kept.
    EXPECT_RUN(setcell({"3", "1", "v"}, "\"a\nb\"\n\0x\nu\n"s), 0, "\"a\nb\"\n\0x\nv\n"s, "");
}

TEST(Setcell, MissingRecordOrField) {
    EXPECT_RUN(setcell({"4", "1", "x"}, IN), 1, IN,
               "zelk-setcell: ERROR: CSVFILE 'standard input' has less than RECORD (4) records\n");
    EXPECT_RUN(setcell({"2", "3", "x"}, IN), 1, "a,b\n",
               "zelk-setcell: ERROR: record #2 does not contain replacement FIELD #3\n");
    EXPECT_RUN(setcell({"2", "1", "x"}, "a\n\nb\n"), 1, "a\n",
               "zelk-setcell: ERROR: record #2 does not contain replacement FIELD #1\n");
    EXPECT_RUN(setcell({"1", "1", "x"}, "a\n\"b\n"), 1, "x\n",
               "zelk-setcell: ERROR: record #2, field #1: quoted field not closed by double quote\n"
               "zelk-setcell: file:  'standard input'\n");
    EXPECT_RUN(setcell({"3", "1", "x"}, "a\n\"b\n"), 1, "a\n",
               "zelk-setcell: ERROR: record #2, field #1: quoted field not closed by double quote\n"
               "zelk-setcell: file:  'standard input'\n");
}

TEST(Setcell, OverlongValuesAreRefused) {
    std::string big(8192, 'x');
    EXPECT_RUN(setcell({"2", "2", "&"}, "h\na," + big + ",c\n"), 1, "h\n",
               "zelk-setcell: ERROR: record #2, field #2: field length exceeded MAX_FIELD_LENGTH "
               "(8192)\nzelk-setcell: file:  'standard input'\n");
    EXPECT_RUN(setcell({"2", "2", "<&>"}, "h\na," + big.substr(1) + "\n"), 0,
               "h\na,<" + big.substr(1) + ">\n", "");
    EXPECT_RUN(setcell({"1", "1", std::string(4096, '%')}, "a\n"), 1, "",
               "zelk-setcell: ERROR: NEWVALUE is too long (more than 8191 bytes once converted)\n");
}

TEST(Setcell, Operands) {
    EXPECT_RUN(setcell({"0", "1", "x"}, IN), 1, "",
               "zelk-setcell: Invalid value for RECORD: 0 (must be >= 1)\n");
    EXPECT_RUN(setcell({"1", "1x", "x"}, IN), 1, "",
               "zelk-setcell: Invalid value for FIELD: 1x (includes non-digits)\n");
    EXPECT_RUN(setcell({"-b", "1", "1", "x"}, IN), 1, "",
               "zelk-setcell: invalid option -- 'b'\n"
               "Try 'zelk-setcell --help' for more information.\n");
    EXPECT_EQ(setcell({"1", "1"}, IN).err.rfind("Program to edit (replace)", 0), 0u);
}

} // namespace

namespace {

// No record written may be one the readers refuse. A quoted old value inserted whole by a
// reference is unquoted, and the new value quoted; any other invalid new value is refused with
// the record's number.
TEST(Setcell, NewValuesStayValidCsv) {
    const char *in = "id,name\n1,\"Smith, John\"\n2,\"a\"\"b\"\n3,plain\n";
    EXPECT_RUN(setcell({"2", "2", "Dr. &"}, in), 0,
               "id,name\n1,\"Dr. Smith, John\"\n2,\"a\"\"b\"\n3,plain\n", "");
    EXPECT_RUN(setcell({"3", "2", "x &"}, in), 0,
               "id,name\n1,\"Smith, John\"\n2,\"x a\"\"b\"\n3,plain\n", "");
    // Valid results are written as given, commas included.
    EXPECT_RUN(setcell({"4", "2", "&,\"q\""}, in), 0,
               "id,name\n1,\"Smith, John\"\n2,\"a\"\"b\"\n3,plain,\"q\"\n", "");
    // The message shows the value, a line feed in it escaped.
    const std::pair<const char *, const char *> refused[] = {
        {"a\"b", "a\"b"}, {"a\nb", "a\\012b"}, {"\"open", "\"open"}, {"\"x\"y", "\"x\"y"}};
    for (const auto &[bad, shown] : refused) {
        SCOPED_TRACE(bad);
        EXPECT_RUN(setcell({"4", "2", bad}, in), 1, "id,name\n1,\"Smith, John\"\n2,\"a\"\"b\"\n",
                   std::string("zelk-setcell: ERROR: record #4: new value of FIELD #2 would not "
                               "be valid CSV: '") +
                       shown + "'\n");
    }
}

} // namespace
