#include <random>

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

// What -k must say of an input, worked out byte by byte apart from the readers: each broken
// record's message (record, field, line and byte of the fault), where the next record starts
// (after the line end at or past the last byte the record consumed), and the records counted.
struct KeepGoing {
    std::string err;
    int records = 0, errors = 0;
};

KeepGoing keep_going_model(const std::string &s) {
    const std::string L = "zelk-lint: ";
    KeepGoing m;
    size_t n = s.size(), i = 0;
    auto line_of = [&](size_t at) { return 1 + std::count(s.begin(), s.begin() + at, '\n'); };
    while (i < n) {
        int rec = ++m.records, field = 1;
        std::string what;
        size_t at = 0, consumed = 0; // the fault, and the end of what was read for it
        size_t j = i;
        for (;;) {
            if (s[j] == '"') {
                size_t open = j++;
                while (j < n && !(s[j] == '"' && (j + 1 == n || s[j + 1] != '"')))
                    j += s[j] == '"' ? 2 : 1;
                if (j >= n) {
                    what = "field #" + std::to_string(field) +
                           ": quoted field not closed by double quote";
                    at = open, consumed = n;
                    break;
                }
                j++; // the closing quote
                if (j < n && s[j] != ',' && s[j] != '\n' && s[j] != '\r') {
                    what = "field #" + std::to_string(field) +
                           ": unescaped double quote char in quoted field";
                    at = j, consumed = j + 1;
                    break;
                }
            } else {
                while (j < n && s[j] != ',' && s[j] != '\n' && s[j] != '\r' && s[j] != '"')
                    j++;
                if (j < n && s[j] == '"') {
                    what = "field #" + std::to_string(field) + ": double-quote in unquoted field";
                    at = j, consumed = j + 1;
                    break;
                }
            }
            if (j < n && s[j] == ',') {
                j++, field++;
                continue;
            }
            if (j < n && s[j] == '\r' && j + 1 < n && s[j + 1] != '\n') {
                what = "carriage return not in quoted field";
                at = j, consumed = j + 2;
                break;
            }
            break; // LF, CR LF, or the end of the input
        }
        if (what.empty()) {
            size_t lf = s.find('\n', j);
            if (lf == std::string::npos)
                m.err += L + "Warning: final record not terminated: file 'standard input'\n";
            i = lf == std::string::npos ? n : lf + 1;
            continue;
        }
        m.errors++;
        m.err += L + "ERROR: record #" + std::to_string(rec) + (what[0] == 'f' ? ", " : ": ") +
                 what + "\n" + L + "file:  'standard input'\n" + L + "line " +
                 std::to_string(line_of(at)) + ", byte " + std::to_string(at + 1) + "\n";
        size_t lf = s.find('\n', consumed);
        i = lf == std::string::npos ? n : lf + 1;
    }
    if (m.records == 0) m.err = L + "Warning: CSVFILE 'standard input' is empty\n";
    return m;
}

// Random near-valid CSV with errors planted (bare quotes, quotes left open, text after a
// closing quote, lone CRs) among CR LF ends and quoted line breaks: -k lists what the model
// finds, from a file and from a pipe alike, and counts it in the report.
TEST(Lint, KeepGoingListsEveryErrorAsTheModelFindsIt) {
    const char *good[] = {"ab",       "",           " x",         "\"q\"",
                          "\"a\nb\"", "\"c\r\nd\"", "\"e\"\"f\"", "\"g,h\""};
    const char *bad[] = {"a\"b", "\"a\"b", "x\ry", "\"open"};
    std::mt19937 rng(20261208);
    for (int round = 0; round < 60; round++) {
        std::string in;
        int nrec = 1 + (int)(rng() % 8);
        for (int r = 0; r < nrec; r++) {
            int nf = 1 + (int)(rng() % 3);
            for (int f = 0; f < nf; f++) {
                if (f) in += ",";
                in += rng() % 6 == 0 ? bad[rng() % 4] : good[rng() % 8];
            }
            in += r + 1 == nrec && rng() % 3 == 0 ? "" : rng() % 2 ? "\r\n" : "\n";
        }
        KeepGoing m = keep_going_model(in);
        SCOPED_TRACE(in);
        for (bool pipe : {false, true}) {
            RunResult r = run_tool("zelk-lint", {"-k"}, with_input(in, pipe));
            EXPECT_EQ(r.err, m.err);
            EXPECT_EQ(r.status, m.errors > 0 ? 1 : 0);
            EXPECT_NE(r.out.find("  Records in total:                            " +
                                 std::to_string(m.records) + "\n"),
                      std::string::npos)
                << r.out;
            EXPECT_NE(r.out.find("  Records with syntax errors:                  " +
                                 std::to_string(m.errors) + "\n"),
                      std::string::npos)
                << r.out;
        }
    }
}

} // namespace
