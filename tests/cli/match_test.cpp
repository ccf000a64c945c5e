#include "c_locale.h"
#include "harness.h"

namespace {

const char *INPUT = "name,n\nx,1\ny,2\n";

RunResult match(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-match", args, input);
}

const std::string M = "zelk-match: ";

TEST(Match, Runs) {
    TempDir d;
    const char *pf = "h\nab\n\ncd\nxy\n";
    std::string empty = d.file("empty", "");
    std::string blank = d.file("blank", "zz\n\n");
    std::string two = d.file("two", "c\nX"); // no final LF
    std::string cr = d.file("cr", "ab\r\n");
    std::string missing = d.join("missing");
    const char *limit = "h\na1\nb\na2\n\"bad\n";
    const char *fixed = "abc\na.c\nA.C\n";
    const char *shortrec = "h,k\n\nx\ny,1\n";
    const char *quoted = "h\n\"a,b\"\n\"say \"\"hi\"\"\"\n\"odd\n";
    std::string nul = "h\nab\0cd\nabxcd\n"s;
    const char *re = "h\nabc\nABC\nxyz\nab\n\"a\nc\"\nzz1\n";
    std::string big = "h\n" + std::string(8192, 'a') + "\n";
    const std::string too_long = read_error(
        "zelk-match", "record #2, field #1: field length exceeded MAX_FIELD_LENGTH (8192)");
    const std::vector<RunCase> runs = {
        // Selecting, inverting and numbering. The header is never tested and never counts as a
        // selection; record numbers count records, not lines.
        {argv("2", "1"), INPUT, "name,n\nx,1\n"},
        {argv("-v", "2", "1"), INPUT, "name,n\ny,2\n"},
        {argv("-n", "2", "1"), INPUT, "1:name,n\n2:x,1\n"},
        {argv("-o", "-q", "2", "3"), INPUT, "", "", 1},
        {argv("-q", "2", "2"), INPUT, ""},
        {argv("2", "n"), INPUT, "name,n\n", "", 1},
        {argv("-h", "-t", "2", "n"), INPUT, "name,n\r\n"},
        {argv("-n", "1", "z"), "h\n\"a\nb\"\nz\n", "1:h\n3:z\n"},
        // Exact anchors are text, not a group: ^a|b$ selects fields that begin with a or end
        // with b.
        {argv("-h", "-x", "1", "1"), "10\n1\n", "1\n"},
        {argv("-h", "1", "1"), "10\n1\n", "10\n1\n"},
        {argv("-h", "-x", "1", "a|b"), "axx\nxxb\nxbx\n", "axx\nxxb\n"},
        // Fixed strings.
        {argv("-h", "-F", "1", "a.c"), fixed, "a.c\n"},
        {argv("-h", "1", "a.c"), fixed, "abc\na.c\n"},
        {argv("-h", "-iF", "1", "a.c"), fixed, "a.c\nA.C\n"},
        {argv("-h", "-i", "-x", "-F", "1", "abc"), "ABC\nABCD\n", "ABC\n"},
        {argv("-h", "-F", "1", "(x|y)*"), "(x|y)*z\nxy\n", "(x|y)*z\n"},
        // A pattern file. A CR before the LF stays part of the pattern; the last -f names the
        // file.
        {argv("-f" + blank, "1"), pf, "h\nab\ncd\nxy\n"},
        {argv("-x", "-f", blank, "-1", "1"), pf, "h\n\n"},
        {argv("-f" + empty, "1"), pf, "h\n", "", 1},
        {argv("-v", "-f" + empty, "1"), pf, "h\nab\ncd\nxy\n"},
        {argv("-i", "-f" + two, "1"), pf, "h\ncd\nxy\n"},
        {argv("-f" + cr, "1"), pf, "h\n", "", 1},
        {argv("-f" + empty, "-f" + two, "1"), pf, "h\ncd\n"},
        {argv("-f" + missing, "1"), pf, "",
         M + "Error opening PATTERNS_FILE: No such file or directory\n", 1},
        {argv("-f" + d.path(), "1"), pf, "",
         M + "ERROR: failed reading from PATTERNS_FILE '" + d.path() + "': Is a directory\n", 1},
        // The run stops after the limit without reading on.
        {argv("-m", "1", "1", "a"), limit, "h\na1\n"},
        {argv("-m2", "1", "a"), limit, "h\na1\na2\n"},
        {argv("-m3", "1", "a"), limit, "h\na1\na2\n",
         read_error("zelk-match", "record #5, field #1: quoted field not closed by double quote",
                    "standard input", "line 5, byte 11"),
         1},
        {argv("-m0", "1", "a"), limit, "", M + "Invalid value for -mNUM: 0 (must be >= 1)\n", 1},
        // Blank and short records; a blank record taken as one empty field has no field 2.
        {argv("2", "1"), shortrec, "h,k\ny,1\n"},
        {argv("-b", "-q", "2", "1"), shortrec, "\n"},
        {argv("-b", "-n", "-v", "2", "1"), shortrec, "1:h,k\n\n", "", 1},
        {argv("-w", "2", "1"), shortrec, "h,k\ny,1\n", "Warning: record #3 is missing FIELD\n"},
        {argv("-1", "1", "^$"), shortrec, "h,k\n\n"},
        {argv("-1", "-w", "-v", "2", "1"), shortrec, "h,k\n",
         "Warning: record #2 is missing FIELD\nWarning: record #3 is missing FIELD\n", 1},
        {argv("-b", "-1", "1", "x"), shortrec, "", M + "Error: -b and -1 options not compatible!\n",
         1},
        // -u tests the value but writes the text.
        {argv("-u", "-x", "1", "a,b"), "h\n\"a,b\"\n", "h\n\"a,b\"\n"},
        {argv("-x", "1", "a,b"), "h\n\"a,b\"\n", "h\n", "", 1},
        {argv("-u", "-F", "1", "\"hi\""), quoted, "h\n\"say \"\"hi\"\"\"\n",
         read_error("zelk-match", "record #4, field #1: quoted field not closed by double quote",
                    "standard input", "line 4, byte 22"),
         1},
        // A NUL byte is data.
        {argv("-F", "1", "cd"), nul, "h\nab\0cd\nabxcd\n"s},
        {argv("-x", "1", "ab[^x]cd"), nul, "h\nab\0cd\n"s},
        {argv("-x", "1", "ab"), nul, "h\n", "", 1},
        // The expressions the automaton takes and those left to regexec, with -i and -x, on the
        // same fields; and the field length limit, which holds whether or not the field is
        // unquoted.
        {argv("-h", "1", "^[a-c]+$"), re, "abc\nab\n"},
        {argv("-h", "-i", "-x", "1", "[a-c]+|z"), re, "abc\nABC\nxyz\nab\n"},
        {argv("-h", "-u", "1", "a.c"), re, "abc\n\"a\nc\"\n"},
        {argv("-h", "1", "(z)\\1[0-9]"), re, "zz1\n"},
        {argv("-h", "-v", "1", "\\w{3}"), re, "h\nab\n\"a\nc\"\n"},
        {argv("-x", "1", "b"), big, "h\n", too_long, 1},
        {argv("-u", "1", "b"), big, "h\n", too_long, 1},
        // Header names and usage errors.
        {argv("-Q", "n", "2"), INPUT, "name,n\ny,2\n"},
        {argv("-Q", "zz", "2"), INPUT, "", M + "ERROR: FIELD name 'zz' not found in header\n", 1},
        {argv("-h", "-Q", "n", "2"), "", "", M + "Error: -h and -Q options not compatible!\n", 1},
        {argv("-o", "-h", "1", "2"), "", "", M + "Error: -h and -o options not compatible!\n", 1},
        {argv("1", "("), INPUT, "", M + "ERROR: failed compiling regex PATTERN '('\n", 1},
        {argv("0", "a"), INPUT, "", M + "Invalid value for FIELD: 0 (must be >= 1)\n", 1},
        {argv("1", "a"), "", "", "", 1},
    };
    expect_runs("zelk-match", runs);
    RunResult r = match({"1"}, INPUT);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Program to 'grep' a particular field", 0), 0u);
    EXPECT_EQ(match({"-fx", "1", "a", "b"}, INPUT).err, r.err);
}

// In a UTF-8 locale a pattern matches characters: '.', negated brackets and folded letters
// take a whole one, a byte that starts none is matched only by itself, and ASCII patterns
// still select as in C. In C every byte is a character, as before.
TEST(Match, CharactersOfTheLocale) {
    const char *names = "h\n\xc3\x89mile\n\xc3\xa9mile\nEMILE\n\xc5\xbfky\n\xff\n7e\n";
    const std::vector<RunCase> utf8 = {
        {argv("-i", "1", "\xc3\xa9mile"), names, "h\n\xc3\x89mile\n\xc3\xa9mile\n"},
        {argv("-x", "1", ".mile"), names, "h\n\xc3\x89mile\n\xc3\xa9mile\n"},
        {argv("-iF", "1", "\xc3\x89MILE"), names, "h\n\xc3\x89mile\n\xc3\xa9mile\n"},
        {argv("-i", "1", "sk"), names, "h\n\xc5\xbfky\n"},
        {argv("-x", "1", "[^a]"), names, "h\n", "", 1},
        {argv("-x", "1", "\xff"), names, "h\n\xff\n"},
        {argv("-x", "1", "[0-9]e|EM.*"), names, "h\nEMILE\n7e\n"},
    };
    const std::vector<RunCase> c = {
        {argv("-i", "1", "\xc3\xa9mile"), names, "h\n\xc3\xa9mile\n"},
        {argv("-x", "1", ".mile"), names, "h\n", "", 1},
        {argv("-iF", "1", "\xc3\x89MILE"), names, "h\n\xc3\x89mile\n"},
        {argv("-x", "1", "[^a]"), names, "h\n\xff\n"},
    };
    {
        ScopedLcAll loc("C.UTF-8");
        if (!loc.ok) GTEST_SKIP() << "no C.UTF-8 locale";
        expect_runs("zelk-match", utf8);
    }
    ScopedLcAll loc("C");
    expect_runs("zelk-match", c);
}

} // namespace
