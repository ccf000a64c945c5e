#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-lint");

// The counts of a report, in report order (the mismatch line is short + extra).
struct Counts {
    int records, header, shortf, extra, blank, fcr, cr, flf, lf, quoted, cleanable, empty, ws,
        ltws;
    int nul = 0;
};

std::string report(const std::string &name, const Counts &c) {
    char buf[2048];
    snprintf(buf, sizeof buf,
             "Report for '%s':\n"
             "------------------------------------------------------\n"
             "Basics:\n"
             "  Records in total:                            %d\n"
             "  Fields in header record:                     %d\n"
             "Syntax:\n"
             "  Records with field count mismatches:         %d\n"
             "                                short:         %d\n"
             "                                extra:         %d\n"
             "  Blank records:                               %d\n"
             "  Records with NUL bytes:                      %d\n"
             "Style:\n"
             "  Fields with embedded carriage-returns:       %d\n"
             "  Embedded carriage-returns:                   %d\n"
             "  Fields with embedded linefeeds:              %d\n"
             "  Embedded linefeeds:                          %d\n"
             "  Quoted fields:                               %d\n"
             "  Cleanable quoted fields:                     %d\n"
             "  Unquoted empty fields:                       %d\n"
             "  Unquoted whitespace fields:                  %d\n"
             "  Unquoted leading/trailing whitespace fields: %d\n",
             name.c_str(), c.records, c.header, c.shortf + c.extra, c.shortf, c.extra, c.blank,
             c.nul, c.fcr, c.cr, c.flf, c.lf, c.quoted, c.cleanable, c.empty, c.ws, c.ltws);
    return buf;
}

RunResult lint(const std::vector<std::string> &args, const std::string &in) {
    return run_tool("zelk-lint", args, in);
}

TEST(Lint, CleanFile) {
    std::string r = report("standard input", {3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_RUN(lint({}, "a,b,c\n1,2,3\n4,5,6\n"), 0, r, "");
    // Every counter line has its number in column 48.
    for (size_t pos = r.find("  "); pos != std::string::npos; pos = r.find("\n  ", pos + 1)) {
        size_t start = r[pos] == '\n' ? pos + 1 : pos;
        size_t colon = r.find(':', start);
        EXPECT_EQ(r.find_first_not_of(' ', colon + 1) - start, 47u) << r.substr(start, 60);
    }
}

TEST(Lint, IssuesAndReport) {
    std::string in = "a,b,c\n"
                     "\"abc\",\"a,b\",\"x\"\"y\"\n"   // quoted: cleanable, comma, inner quote
                     ",   , a\n"                      // empty, whitespace, leading ws
                     "\"l1\n\nl2\",\"r\r\n\",x\n"     // two LFs; a CR and an LF
                     "\n"                             // blank
                     "1,2\n"                          // short
                     "1,2,3,\t4\t\n";                 // extra; leading and trailing tab
    Counts c{7, 3, 1, 1, 1, 1, 1, 2, 3, 5, 1, 1, 1, 2};
    EXPECT_RUN(lint({}, in), 0, report("standard input", c), "");
    EXPECT_RUN(lint({"-v"}, in), 0,
               "Style: record #2, field #1: quoted but cleanable.\n"
               "Style: record #3, field #1: empty and unquoted.\n"
               "Style: record #3, field #2: whitespace only and unquoted.\n"
               "Style: record #3, field #3: leading/trailing whitespace and unquoted.\n"
               "Style: record #4, field #1: embedded linefeed(s) (\\n).\n"
               "Style: record #4, field #2: embedded carriage-returns(s) (\\r).\n"
               "Style: record #4, field #2: embedded linefeed(s) (\\n).\n"
               "Syntax: record #5: blank/empty record.\n"
               "Syntax: record #6: short of fields (2 vs 3 in header).\n"
               "Syntax: record #7: extra fields (4 vs 3 in header).\n"
               "Style: record #7, field #4: leading/trailing whitespace and unquoted.\n"
               "\n" +
                   report("standard input", c),
               "");
}

TEST(Lint, BlankHeaderAndEmptyInput) {
    // A blank first record: no header fields, so every later record has extra fields.
    EXPECT_RUN(lint({}, "\na,b\nc\n"), 0,
               report("standard input", {3, 0, 0, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "");
    EXPECT_RUN(lint({}, ""), 0,
               report("standard input", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
               "zelk-lint: Warning: CSVFILE 'standard input' is empty\n");
    EXPECT_RUN(lint({"-v"}, ""), 0,
               "\n" + report("standard input", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
               "zelk-lint: Warning: CSVFILE 'standard input' is empty\n");
}

TEST(Lint, SyntaxErrorStopsWithoutReport) {
    EXPECT_RUN(lint({"-v"}, "a,b\n,x\n\"q\"\"\"z,1\nnever,seen\n"), 1,
               "Style: record #2, field #1: empty and unquoted.\n",
               "zelk-lint: ERROR: record #3, field #1: unescaped double quote char in quoted "
               "field\nzelk-lint: file:  'standard input'\nzelk-lint: line 3, byte 13\n");
    std::string mac = test_data("csv/cr_only.csv");
    EXPECT_RUN(lint({mac}, ""), 1, "",
               "zelk-lint: ERROR: record #1: carriage return not in quoted field\n"
               "zelk-lint: file:  '" +
                   mac + "'\nzelk-lint: line 1, byte 6\n");
}

TEST(Lint, NulBytesAreData) {
    // The NUL does not end the field: " a\0b" has leading whitespace, "a\0b " trailing, and
    // the quoted field holding a NUL and a comma is not cleanable.
    EXPECT_RUN(lint({}, "h1,h2,h3\n a\0b,a\0b ,\"\0,\"\n"s), 0,
               report("standard input", {2, 3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 1}), "");
}

TEST(Lint, FilesAndErrors) {
    std::string bad = test_data("csv/ragged.csv");
    EXPECT_RUN(lint({bad}, ""), 0, report(bad, {4, 3, 1, 1, 0, 0, 0, 0, 0, 2, 2, 2, 0, 0}), "");
    EXPECT_RUN(lint({"a", "b"}, ""), 1, "", USAGE);
}

} // namespace

namespace {

// Records holding NUL bytes are counted, and a UTF-16 or UTF-32 byte order mark is warned
// about, so that such files are not called plain valid CSV without a word.
TEST(Lint, NulBytesAndWideByteOrderMarks) {
    Counts c{3, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    c.nul = 2;
    EXPECT_RUN(lint({}, "a,b\n1,x\0y\n\0,2\n"s), 0, report("standard input", c), "");
    EXPECT_RUN(lint({"-v"}, "a,b\n1,x\0y\n"s), 0,
               "Syntax: record #2: NUL byte(s) in record.\n\n" +
                   report("standard input", {2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
               "");
    struct Bom {
        std::string bytes, kind;
    } boms[] = {{"\xff\xfe" "a\0\n\0"s, "UTF-16LE"},
                {"\xfe\xff\0a\0\n"s, "UTF-16BE"},
                {"\xff\xfe\0\0a\0\0\0\n\0\0\0"s, "UTF-32LE"},
                {"\0\0\xfe\xff\0\0\0a\0\0\0\n"s, "UTF-32BE"}};
    for (const Bom &b : boms) {
        SCOPED_TRACE(b.kind);
        RunResult r = lint({}, b.bytes);
        EXPECT_EQ(r.err.rfind("zelk-lint: Warning: CSVFILE 'standard input' begins with a " +
                                  b.kind + " byte order mark: it is not CSV text (convert it to "
                                           "UTF-8 first)\n",
                              0),
                  0u)
            << r.err;
    }
    // A UTF-8 byte order mark is no warning, before a quoted first field either, which counts
    // as the quoted field it stands before.
    EXPECT_EQ(lint({}, "\xef\xbb\xbf" "a\n").err, "");
    EXPECT_RUN(lint({"-v"}, "\xef\xbb\xbf\"a\",\"b\"\n1,2\n"), 0,
               lint({"-v"}, "\"a\",\"b\"\n1,2\n").out, "");
}

} // namespace
