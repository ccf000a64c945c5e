#include "harness.h"

namespace {

RunResult subst(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-subst", args, input);
}

const std::string SU = "zelk-subst: ";
const std::string TOO_LONG =
    SU + "ERROR: REPLACEMENT is too long (more than 8191 bytes once converted)\n";

TEST(Subst, Runs) {
    const char *re = "([a-z]+)([0-9]+)";
    // 4095 percent signs take 8190 bytes once converted; one more byte still fits, two do not.
    // A reference to subexpression 9 takes five bytes (%10$s), the others four.
    std::string fits(4095, '%'), pad(8183, 'a'), big(8192, 'x');
    const char *blank = "h\n\nx\n";
    const std::vector<RunCase> runs = {
        // The whole field is replaced; the first and last field, and a one-field record; the
        // rest of the record is kept byte for byte. Without -h the header is copied even if it
        // matches.
        {argv("-h", "2", "b", "X"), "a,abc,c\na,xyz,c\n", "a,X,c\na,xyz,c\n"},
        {argv("-h", "2", "[0-9]+", "<&>"), "x,ab12\n", "x,<12>\n"},
        {argv("-h", "1", "b", "[&]"), "abc\n", "[b]\n"},
        {argv("-h", "-F", "1", "b", "[&]"), "abc\n", "[abc]\n"},
        {argv("-h", "1", "a", "Z"), "a,\"q,\"\"r\",c\n", "Z,\"q,\"\"r\",c\n"},
        {argv("-h", "3", "c", "Z"), "a,\"q,\"\"r\",c\n", "a,\"q,\"\"r\",Z\n"},
        {argv("-t", "1", "a", "Z"), "a\na\n", "a\r\nZ\r\n"},
        {argv("-o", "1", "a", "Z"), "a\na\n", "Z\n"},
        // The replacement text; matched text holding '%' and printf conversions is written as
        // it is.
        {argv("-h", "1", "x", "50%"), "x\n", "50%\n"},
        {argv("-h", "1", "x", "%s%d%n&%"), "x\n", "%s%d%nx%\n"},
        {argv("-h", "1", "x", "a\\&b"), "x\n", "a&b\n"},
        {argv("-h", "1", "x", "\\&&\\"), "x\n", "&x\\\n"},
        {argv("-h", "1", ".*", "<&>"), "%s%n\n", "<%s%n>\n"},
        {argv("-h", "1", "x", "&&"), "x\n", "",
         SU + "ERROR: '&' appears more than once in REPLACEMENT!\n", 1},
        // Numbered references.
        {argv("-h", "-m", "1", re, "&2-&1"), "ab12\n", "12-ab\n"},
        {argv("-h", "-m", "1", re, "&0/&0/&9"), "-ab12-\n", "ab12/ab12/\n"},
        {argv("-h", "-m", "1", "a(x)?b", "[&1]\\&1"), "ab\n", "[]&1\n"},
        {argv("-h", "-m", "1", re, "&x"), "ab12\n", "",
         SU + "ERROR: & not followed by digit in REPLACEMENT\n", 1},
        {argv("-h", "-m", "1", re, "a&"), "ab12\n", "",
         SU + "ERROR: & not followed by digit in REPLACEMENT\n", 1},
        {argv("-m", "-F", "1", "a", "b"), "", "", SU + "Error: -F and -m options not compatible!\n",
         1},
        {argv("-F", "-m", "1", "a", "b"), "", "", SU + "Error: -m and -F options not compatible!\n",
         1},
        // An overlong replacement is refused.
        {argv("-h", "1", "x", fits + "y"), "x\n", fits + "y\n"},
        {argv("-h", "1", "x", fits + "&"), "x\n", "", TOO_LONG, 1},
        {argv("-h", "-m", "1", "x", pad + "&1&1"), "x\n", pad + "\n"},
        {argv("-h", "-m", "1", "x", pad + "&1&9"), "x\n", "", TOO_LONG, 1},
        {argv("-h", "1", "x", std::string(9000, 'a')), "x\n", "", TOO_LONG, 1},
        // Exact matches, case and quotes.
        {argv("-h", "-x", "1", "b", "Z"), "abc\nb\n", "abc\nZ\n"},
        {argv("-h", "-x", "1", "a|b", "Z"), "ax\nxb\nxbx\n", "Z\nZ\nxbx\n"},
        {argv("-h", "-x", "-F", "-i", "1", "ABC", "Z"), "abc\nabcd\n", "Z\nabcd\n"},
        {argv("-h", "-x", "1", "abc", "Z"), "\"abc\"\n", "\"abc\"\n"},
        {argv("-h", "-x", "1", "\"abc\"", "Z"), "\"abc\"\n", "Z\n"},
        // Blank, short and long records.
        {argv("1", "^$", "E"), blank, "h\nx\n"},
        {argv("-b", "1", "^$", "E"), blank, "h\n\nx\n"},
        {argv("-1", "1", "^$", "E"), blank, "h\nE\nx\n"},
        {argv("2", "a", "b"), "h,k\nx,a\ny\nz,a\n", "h,k\nx,b\n",
         SU + "ERROR: record #3 does not contain FIELD #2\n", 1},
        {argv("-Q", "k", "a", "b"), "h,k\nx,a\n", "h,k\nx,b\n"},
        // The field length, and errors.
        {argv("2", "a", "b"), "h\nq," + big + "\n", "h\n",
         read_error("zelk-subst",
                    "record #2, field #2: field length exceeded MAX_FIELD_LENGTH (8192)"),
         1},
        {argv("2", "x$", "b"), "h\nq," + big.substr(1) + "\n", "h\nq,b\n"},
        {argv("1", "(", "b"), "h\n", "", SU + "ERROR: failed compiling PATTERN regex '('\n\n", 1},
        {argv("1", "a", "b"), "", "", SU + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        {argv("1", "a", "b"), "h\n\"x\n", "h\n",
         read_error("zelk-subst", "record #2, field #1: quoted field not closed by double quote"),
         1},
        {argv("-o", "-h", "-Q", "1", "a", "b"), "", "",
         SU + "Error: -h and -o options not compatible!\n", 1},
        {argv("-Q", "-h", "1", "a", "b"), "", "", SU + "Error: -h and -Q options not compatible!\n",
         1},
        // A NUL byte in a record is kept.
        {argv("-h", "2", "b", "<&>"), "a\0z,b\0b,c\0\n"s, "a\0z,<b>,c\0\n"s},
        {argv("-h", "-F", "2", "b", "<&>"), "a,b\0b\n"s, "a,<b\0b>\n"s},
    };
    expect_runs("zelk-subst", runs);
    EXPECT_EQ(subst({"1", "a"}, "").err.rfind("Program to replace values", 0), 0u);
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

// As in zelk-setcell: a reference to the whole quoted old value gives a quoted new value; a
// reference to part of it that breaks the quoting is refused.
TEST(Subst, NewValuesStayValidCsv) {
    const char *in = "id,name\n1,\"Smith, John\"\n";
    const std::vector<RunCase> runs = {
        {argv("2", ".*", "Dr. &"), in, "id,name\n1,\"Dr. Smith, John\"\n"},
        {argv("-F", "2", "\"Smith, John\"", "Dr. &"), in, "id,name\n1,\"Dr. Smith, John\"\n"},
        {argv("-m", "2", ".*", "&0/&0"), in, "id,name\n1,\"Smith, John/Smith, John\"\n"},
        {argv("2", "Smith", "\"&"), in, "id,name\n",
         SU + "ERROR: record #2: new value of FIELD #2 would not be valid CSV: '\"Smith'\n", 1},
        {argv("2", "Smith", "Dr. &"), in, "id,name\n1,Dr. Smith\n"},
    };
    expect_runs("zelk-subst", runs);
}

} // namespace
