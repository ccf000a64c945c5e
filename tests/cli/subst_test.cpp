#include "harness.h"

namespace {

RunResult subst(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-subst", args, input);
}

TEST(Subst, ReplacesTheWholeField) {
    EXPECT_RUN(subst({"-h", "2", "b", "X"}, "a,abc,c\na,xyz,c\n"), 0, "a,X,c\na,xyz,c\n", "");
    EXPECT_RUN(subst({"-h", "2", "[0-9]+", "<&>"}, "x,ab12\n"), 0, "x,<12>\n", "");
    EXPECT_RUN(subst({"-h", "1", "b", "[&]"}, "abc\n"), 0, "[b]\n", "");
    EXPECT_RUN(subst({"-h", "-F", "1", "b", "[&]"}, "abc\n"), 0, "[abc]\n", "");
    // First and last field, and a one-field record; the rest of the record is kept byte for byte.
    EXPECT_RUN(subst({"-h", "1", "a", "Z"}, "a,\"q,\"\"r\",c\n"), 0, "Z,\"q,\"\"r\",c\n", "");
    EXPECT_RUN(subst({"-h", "3", "c", "Z"}, "a,\"q,\"\"r\",c\n"), 0, "a,\"q,\"\"r\",Z\n", "");
    // Without -h the header is copied even if it matches.
    EXPECT_RUN(subst({"-t", "1", "a", "Z"}, "a\na\n"), 0, "a\r\nZ\r\n", "");
    EXPECT_RUN(subst({"-o", "1", "a", "Z"}, "a\na\n"), 0, "Z\n", "");
}

// A pattern of literal bytes is searched for without the matcher: the same output as the
// equivalent expression that needs it, at the start, middle and end of the field, twice in
// it, as the whole field and not at all; quoted and with a NUL byte.
TEST(Subst, LiteralPatternAsTheMatcher) {
    const std::string in = "ab,xab,abab,zz,ab\0x,\"q ab\"\n"s + "x,ab,yy,abx,ab,\"\"\n";
    const std::vector<std::vector<std::string>> opts = {
        {"[&]"}, {"-x", "[&]"}, {"-m", "&0/&1"}, {"-x", "-m", "&0&9"}, {"-1", "."}};
    for (const auto &o : opts) {
        for (const char *field : {"1", "2", "3", "4", "5", "6"}) {
            std::vector<std::string> lit = {"-h"}, re = {"-h"};
            lit.insert(lit.end(), o.begin(), o.end() - 1);
            re.insert(re.end(), o.begin(), o.end() - 1);
            lit.insert(lit.end(), {field, "ab", o.back()});
            re.insert(re.end(), {field, "a[b]", o.back()});
            SCOPED_TRACE(o.back() + std::string(" field ") + field);
            RunResult want = subst(re, in);
            EXPECT_EQ(want.status, 0);
            EXPECT_RUN(subst(lit, in), want.status, want.out, want.err);
        }
    }
}

TEST(Subst, ReplacementText) {
    EXPECT_RUN(subst({"-h", "1", "x", "50%"}, "x\n"), 0, "50%\n", "");
    EXPECT_RUN(subst({"-h", "1", "x", "%s%d%n&%"}, "x\n"), 0, "%s%d%nx%\n", "");
    EXPECT_RUN(subst({"-h", "1", "x", "a\\&b"}, "x\n"), 0, "a&b\n", "");
    EXPECT_RUN(subst({"-h", "1", "x", "\\&&\\"}, "x\n"), 0, "&x\\\n", "");
    // Matched text holding '%' and printf conversions is written as it is.
    EXPECT_RUN(subst({"-h", "1", ".*", "<&>"}, "%s%n\n"), 0, "<%s%n>\n", "");
    EXPECT_RUN(subst({"-h", "1", "x", "&&"}, "x\n"), 1, "",
               "zelk-subst: ERROR: '&' appears more than once in REPLACEMENT!\n");
}

TEST(Subst, NumberedReferences) {
    const char *re = "([a-z]+)([0-9]+)";
    EXPECT_RUN(subst({"-h", "-m", "1", re, "&2-&1"}, "ab12\n"), 0, "12-ab\n", "");
    EXPECT_RUN(subst({"-h", "-m", "1", re, "&0/&0/&9"}, "-ab12-\n"), 0, "ab12/ab12/\n", "");
    EXPECT_RUN(subst({"-h", "-m", "1", "a(x)?b", "[&1]\\&1"}, "ab\n"), 0, "[]&1\n", "");
    EXPECT_RUN(subst({"-h", "-m", "1", re, "&x"}, "ab12\n"), 1, "",
               "zelk-subst: ERROR: & not followed by digit in REPLACEMENT\n");
    EXPECT_RUN(subst({"-h", "-m", "1", re, "a&"}, "ab12\n"), 1, "",
               "zelk-subst: ERROR: & not followed by digit in REPLACEMENT\n");
    EXPECT_RUN(subst({"-m", "-F", "1", "a", "b"}, ""), 1, "",
               "zelk-subst: Error: -F and -m options not compatible!\n");
    EXPECT_RUN(subst({"-F", "-m", "1", "a", "b"}, ""), 1, "",
               "zelk-subst: Error: -m and -F options not compatible!\n");
}

TEST(Subst, OverlongReplacementIsRefused) {
    // 4095 percent signs take 8190 bytes once converted; one more byte still fits, two do not.
    std::string fits(4095, '%');
    EXPECT_RUN(subst({"-h", "1", "x", fits + "y"}, "x\n"), 0, fits + "y\n", "");
    EXPECT_RUN(subst({"-h", "1", "x", fits + "&"}, "x\n"), 1, "",
               "zelk-subst: ERROR: REPLACEMENT is too long (more than 8191 bytes once "
               "converted)\n");
    // A reference to subexpression 9 takes five bytes (%10$s), the others four.
    EXPECT_RUN(subst({"-h", "-m", "1", "x", std::string(8183, 'a') + "&1&1"}, "x\n"), 0,
               std::string(8183, 'a') + "\n", "");
    EXPECT_RUN(subst({"-h", "-m", "1", "x", std::string(8183, 'a') + "&1&9"}, "x\n"), 1, "",
               "zelk-subst: ERROR: REPLACEMENT is too long (more than 8191 bytes once "
               "converted)\n");
    EXPECT_RUN(subst({"-h", "1", "x", std::string(9000, 'a')}, "x\n"), 1, "",
               "zelk-subst: ERROR: REPLACEMENT is too long (more than 8191 bytes once "
               "converted)\n");
}

TEST(Subst, ExactCaseAndQuotes) {
    EXPECT_RUN(subst({"-h", "-x", "1", "b", "Z"}, "abc\nb\n"), 0, "abc\nZ\n", "");
    EXPECT_RUN(subst({"-h", "-x", "1", "a|b", "Z"}, "ax\nxb\nxbx\n"), 0, "Z\nZ\nxbx\n", "");
    EXPECT_RUN(subst({"-h", "-x", "-F", "-i", "1", "ABC", "Z"}, "abc\nabcd\n"), 0, "Z\nabcd\n", "");
    EXPECT_RUN(subst({"-h", "-x", "1", "abc", "Z"}, "\"abc\"\n"), 0, "\"abc\"\n", "");
    EXPECT_RUN(subst({"-h", "-x", "1", "\"abc\"", "Z"}, "\"abc\"\n"), 0, "Z\n", "");
}

TEST(Subst, BlankShortAndLongRecords) {
    const char *in = "h\n\nx\n";
    EXPECT_RUN(subst({"1", "^$", "E"}, in), 0, "h\nx\n", "");
    EXPECT_RUN(subst({"-b", "1", "^$", "E"}, in), 0, "h\n\nx\n", "");
    EXPECT_RUN(subst({"-1", "1", "^$", "E"}, in), 0, "h\nE\nx\n", "");
    EXPECT_RUN(subst({"2", "a", "b"}, "h,k\nx,a\ny\nz,a\n"), 1, "h,k\nx,b\n",
               "zelk-subst: ERROR: record #3 does not contain FIELD #2\n");
    EXPECT_RUN(subst({"-Q", "k", "a", "b"}, "h,k\nx,a\n"), 0, "h,k\nx,b\n", "");
}

TEST(Subst, FieldLengthAndErrors) {
    std::string big(8192, 'x');
    EXPECT_RUN(subst({"2", "a", "b"}, "h\nq," + big + "\n"), 1, "h\n",
               "zelk-subst: ERROR: record #2, field #2: field length exceeded MAX_FIELD_LENGTH "
               "(8192)\nzelk-subst: file:  'standard input'\n");
    EXPECT_RUN(subst({"2", "x$", "b"}, "h\nq," + big.substr(1) + "\n"), 0, "h\nq,b\n", "");
    EXPECT_RUN(subst({"1", "(", "b"}, "h\n"), 1, "",
               "zelk-subst: ERROR: failed compiling PATTERN regex '('\n\n");
    EXPECT_RUN(subst({"1", "a", "b"}, ""), 1, "", 
               "zelk-subst: ERROR: CSVFILE 'standard input' is empty\n");
    EXPECT_RUN(subst({"1", "a", "b"}, "h\n\"x\n"), 1, "h\n",
               "zelk-subst: ERROR: record #2, field #1: quoted field not closed by double quote\n"
               "zelk-subst: file:  'standard input'\n");
    EXPECT_RUN(subst({"-o", "-h", "-Q", "1", "a", "b"}, ""), 1, "",
               "zelk-subst: Error: -h and -o options not compatible!\n");
    EXPECT_RUN(subst({"-Q", "-h", "1", "a", "b"}, ""), 1, "",
               "zelk-subst: Error: -h and -Q options not compatible!\n");
    EXPECT_EQ(subst({"1", "a"}, "").err.rfind("Program to replace values", 0), 0u);
}

TEST(Subst, NulByteInRecordIsKept) {
    EXPECT_RUN(subst({"-h", "2", "b", "<&>"}, "a\0z,b\0b,c\0\n"s), 0, "a\0z,<b>,c\0\n"s, "");
    EXPECT_RUN(subst({"-h", "-F", "2", "b", "<&>"}, "a,b\0b\n"s), 0, "a,<b\0b>\n"s, "");
}

} // namespace

namespace {

// As in zelk-setcell: a reference to the whole quoted old value gives a quoted new value; a
// reference to part of it that breaks the quoting is refused.
TEST(Subst, NewValuesStayValidCsv) {
    const char *in = "id,name\n1,\"Smith, John\"\n";
    for (auto args : {std::vector<std::string>{"2", ".*", "Dr. &"},
                      {"-F", "2", "\"Smith, John\"", "Dr. &"},
                      {"-m", "2", ".*", "&0/&0"}}) {
        std::string expect = args[0] == "-m" ? "\"Smith, John/Smith, John\"" : "\"Dr. Smith, John\"";
        EXPECT_RUN(run_tool("zelk-subst", args, in), 0, "id,name\n1," + expect + "\n", "");
    }
    EXPECT_RUN(run_tool("zelk-subst", {"2", "Smith", "\"&"}, in), 1, "id,name\n",
               "zelk-subst: ERROR: record #2: new value of FIELD #2 would not be valid CSV: "
               "'\"Smith'\n");
    EXPECT_RUN(run_tool("zelk-subst", {"2", "Smith", "Dr. &"}, in), 0, "id,name\n1,Dr. Smith\n",
               "");
}

} // namespace
