#include <algorithm>
#include <climits>
#include <random>
#include <regex.h>

#include "c_locale.h"
#include "harness.h"

namespace {

RunResult subst(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-subst", args, input);
}

// v as a CSV field: quoted when asked or when it needs it.
std::string csv_quoted(const std::string &v, bool quote) {
    if (!quote && v.find_first_of(",\"\r\n") == std::string::npos) return v;
    std::string q = "\"";
    for (char c : v)
        q += c == '"' ? "\"\"" : std::string(1, c);
    return q + "\"";
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
         read_error("zelk-subst", "record #2, field #1: quoted field not closed by double quote",
                    "standard input", "line 2, byte 3"),
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

// -g and -n: each match inside the field's value replaced, sed's way: empty matches, anchors,
// back references, and the quoting of the new value.
TEST(Subst, MatchesInsideTheField) {
    std::string big(8000, 'a');
    const std::vector<RunCase> runs = {
        {argv("-h", "-g", "1", "x*", "-"), "abc\nxax\n\n", "-a-b-c-\n-a-\n"},
        {argv("-h", "-g", "1", "^a", "X"), "aaa\n", "Xaa\n"},
        {argv("-h", "-g", "1", "a$|^b", "X"), "bab\nbaa\n", "Xab\nXaX\n"},
        {argv("-h", "-g", "-m", "1", "([a-z])([0-9])", "&2&1&0\\1"), "a1-b2\n",
         "1aa1\\1-2bb2\\1\n"},
        {argv("-h", "-g", "-x", "1", "a*", "<&>"), "aa\nab\n\"aa\"\n", "<aa>\nab\n\"<aa>\"\n"},
        {argv("-h", "-g", "-F", "-x", "-i", "1", "AB", "x"), "ab\n\"Ab\"\nabc\n",
         "x\n\"x\"\nabc\n"},
        // The value of a quoted field is matched, its quotes never; a new value is quoted when
        // it needs quotes.
        {argv("-h", "-g", "2", "\"", "'"), "a,\"say \"\"hi\"\"\",c\n", "a,\"say 'hi'\",c\n"},
        {argv("-h", "-g", "1", ",", "\n"), "\"a,b\",c\n", "\"a\nb\",c\n"},
        {argv("-h", "-g", "1", "q", "Q"), "\xEF\xBB\xBF\"q,q\"\n", "\xEF\xBB\xBF\"Q,Q\"\n"},
        {argv("-h", "-g", "2", "b", "<&>"), "a,b\0b\n"s, "a,<b>\0<b>\n"s},
        // Errors.
        {argv("-h", "-g", "1", "a", "\\1"), "a\n", "",
         SU + "ERROR: REPLACEMENT refers to \\1, but PATTERN has 0 subexpressions\n", 1},
        {argv("-h", "-g", "-F", "1", "(a)", "\\1"), "a\n", "",
         SU + "ERROR: REPLACEMENT refers to \\1, but PATTERN has 0 subexpressions\n", 1},
        {argv("-h", "-g", "1", "a", "x\\"), "a\n", "",
         SU + "ERROR: '\\' not followed by 1-9, '&' or '\\' in REPLACEMENT\n", 1},
        {argv("-h", "-g", "1", "a", "\\0"), "a\n", "",
         SU + "ERROR: '\\' not followed by 1-9, '&' or '\\' in REPLACEMENT\n", 1},
        {argv("-h", "-n0", "1", "a", "b"), "a\n", "",
         SU + "Invalid value for -nNUM: 0 (must be >= 1)\n", 1},
        {argv("-h", "-g", "1", "a", "&&"), "h\n" + big + "\n", "h\n",
         SU + "ERROR: record #2, field #1: field length exceeded MAX_FIELD_LENGTH (8192)\n"
              "zelk-subst: file:  'standard input'\n",
         1},
    };
    expect_runs("zelk-subst", runs);
}

// -g against a model that finds each leftmost-longest match by trying every substring of the
// value whole (a fixed string as a regular expression of bracketed bytes), applies sed's rule
// for empty matches, and quotes the result, over random fields quoted and not.
TEST(Subst, MatchesInsideTheFieldAsModelled) {
    struct Form {
        std::vector<std::string> opts;
        std::string pattern, repl;
    } forms[] = {
        {{"-g"}, "a", "<&>"},         {{"-g"}, "x*", "-"},
        {{"-g"}, "(a|b)+", "[\\1&]"}, {{"-g"}, "[ ,]", ""},
        {{"-n2"}, "b*", "_"},         {{"-g", "-i"}, "A\"?", "&&"},
        {{"-g", "-F"}, ",", ";\""},   {{"-g", "-F", "-i"}, "Ax", "\\&"},
        {{"-n1", "-F"}, "", "\\\\"},
    };
    std::mt19937 rng(23);
    std::vector<std::string> values, read;
    std::string in = "id,f\n";
    for (int i = 0; i < 150; i++) {
        std::string v;
        for (int k = (int)(rng() % 7); k > 0; k--)
            v += "abAx, \""[rng() % 7];
        values.push_back(v);
        read.push_back(csv_quoted(v, rng() % 3 == 0));
        in += std::to_string(i) + "," + read.back() + "\n";
    }
    for (const Form &form : forms) {
        bool fixed = std::count(form.opts.begin(), form.opts.end(), "-F") > 0;
        bool icase = std::count(form.opts.begin(), form.opts.end(), "-i") > 0;
        int limit = form.opts[0] == "-g" ? INT_MAX : std::stoi(form.opts[0].substr(2));
        std::string re = form.pattern;
        if (fixed) {
            re.clear();
            for (char c : form.pattern)
                re += std::string("[") + c + "]";
        }
        regex_t whole;
        ASSERT_EQ(
            regcomp(&whole, ("^(" + re + ")$").c_str(), REG_EXTENDED | (icase ? REG_ICASE : 0)), 0);
        std::string want = "id,f\n";
        for (size_t r = 0; r < values.size(); r++) {
            const std::string &v = values[r];
            std::string out;
            size_t pos = 0, copied = 0, prev_end = std::string::npos, so, eo;
            int count = 0;
            regmatch_t pm[11];
            auto leftmost_longest = [&] {
                for (so = pos; so <= v.size(); so++)
                    for (eo = v.size() + 1; eo-- > so;)
                        if (regexec(&whole, v.substr(so, eo - so).c_str(), 11, pm, 0) == 0)
                            return true;
                return false;
            };
            while (pos <= v.size() && count < limit && leftmost_longest()) {
                if (so == eo && so == prev_end) {
                    pos = so + 1;
                    continue;
                }
                out += v.substr(copied, so - copied);
                for (size_t k = 0; k < form.repl.size(); k++) {
                    char c = form.repl[k];
                    if (c == '&') {
                        out += v.substr(so, eo - so);
                    } else if (c == '\\' && isdigit((unsigned char)form.repl[k + 1])) {
                        // The model's group 1 is the whole match.
                        const regmatch_t &g = pm[form.repl[++k] - '0' + 1];
                        if (g.rm_so >= 0) out += v.substr(so + g.rm_so, g.rm_eo - g.rm_so);
                    } else {
                        out += c == '\\' ? form.repl[++k] : c;
                    }
                }
                copied = prev_end = eo;
                pos = eo > so ? eo : so + 1;
                count++;
            }
            std::string field =
                count ? csv_quoted(out + v.substr(copied), read[r][0] == '"') : read[r];
            want += std::to_string(r) + "," + field + "\n";
        }
        regfree(&whole);
        std::vector<std::string> args = form.opts;
        args.insert(args.end(), {"2", form.pattern, form.repl});
        SCOPED_TRACE(form.pattern + " -> " + form.repl);
        EXPECT_RUN(subst(args, in), 0, want, "");
    }
}

// In a UTF-8 locale matches are made of characters: an empty match steps over a whole one,
// and folded characters may differ in length. In C the same runs work on bytes, as before.
TEST(Subst, CharactersOfTheLocale) {
    const char *in = "h\n\xc3\xa9t\xc3\xa9\n\xc5\xbfoS\n";
    const std::vector<RunCase> utf8 = {
        {argv("-g", "1", "x*", "-"), in, "h\n-\xc3\xa9-t-\xc3\xa9-\n-\xc5\xbf-o-S-\n"},
        {argv("-g", "-i", "1", "\xc3\x89", "[&]"), in, "h\n[\xc3\xa9]t[\xc3\xa9]\n\xc5\xbfoS\n"},
        {argv("-g", "-iF", "1", "s", "<&>"), in, "h\n\xc3\xa9t\xc3\xa9\n<\xc5\xbf>o<S>\n"},
        {argv("-x", "1", "...", "<&>"), in, "h\n<\xc3\xa9t\xc3\xa9>\n<\xc5\xbfoS>\n"},
    };
    const std::vector<RunCase> c = {
        {argv("-g", "1", "x*", "-"), "h\n\xc3\xa9\n", "h\n-\xc3-\xa9-\n"},
        {argv("-g", "-i", "1", "\xc3\x89", "[&]"), in, "h\n\xc3\xa9t\xc3\xa9\n\xc5\xbfoS\n"},
    };
    {
        ScopedLcAll loc("C.UTF-8");
        if (!loc.ok) GTEST_SKIP() << "no C.UTF-8 locale";
        expect_runs("zelk-subst", utf8);
    }
    ScopedLcAll loc("C");
    expect_runs("zelk-subst", c);
}

} // namespace
