// The reader against whole files: the project's own inputs in tests/data/csv (quoting,
// line breaks and the awkward shapes of real exports), then, when ../shared/corpora is
// present, public inputs written by others with their expected parses.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "unit.h"

namespace {

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Every string literal of a JSON text, in order, with its escapes decoded. The expected-parse
// files are arrays of flat objects of strings, so keys and values alternate.
std::vector<std::string> json_strings(const std::string &j) {
    std::vector<std::string> out;
    for (size_t i = 0; i < j.size(); i++) {
        if (j[i] != '"') continue;
        std::string s;
        for (i++; i < j.size() && j[i] != '"'; i++) {
            if (j[i] != '\\') {
                s += j[i];
                continue;
            }
            char e = j[++i];
            switch (e) {
            case 'n': s += '\n'; break;
            case 'r': s += '\r'; break;
            case 't': s += '\t'; break;
            default: s += e; break; // \" \\ \/
            }
        }
        out.push_back(s);
    }
    return out;
}

struct ReadAll {
    std::vector<int> counts;
    std::vector<std::string> values; // unquoted field values of records 2..n
    char error = 0;
    std::string err;
};

ReadAll read_all(const std::string &path) {
    ReadAll r;
    std::string bytes = slurp(path);
    MemStream in(bytes);
    StderrCapture cap;
    for (int recnum = 1;; recnum++) {
        char **f;
        int n = csv_record_read_and_split(in, "f", recnum, 1, &f, &r.error);
        if (n < 0) break;
        r.counts.push_back(n);
        for (int i = 0; recnum > 1 && i < n; i++) r.values.emplace_back(csv_field_unquote(f[i], 1));
    }
    r.err = cap.take();
    return r;
}

std::string data_file(const std::string &name) {
    return std::string(ZELK_TEST_DATA_DIR) + "/csv/" + name;
}

TEST(DataFiles, QuotingAndLineBreaks) {
    struct Case {
        const char *file;
        std::vector<std::string> values; // unquoted values of records 2..n
    } cases[] = {
        {"escaped_quotes.csv", {"1", "a \"b\" c", "2", "\""}},
        {"crlf.csv", {"1", "one, two", "2", "line\r\nbreak"}},
        {"newlines.csv", {"1", "line\nbreak", "2", "x,y"}},
        {"empty_fields.csv", {"", "", "", "1", "", ""}},
        {"utf8.csv", {"\xC3\xA6" "ble", "\xE2\x82\xAC"}},
        {"quoted_breaks.csv", {"u", "v"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        ReadAll r = read_all(data_file(c.file));
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.values, c.values);
    }
}

TEST(DataFiles, AwkwardShapes) {
    struct Case {
        const char *file;
        std::vector<int> counts;
        char error;
        const char *err;
    } cases[] = {
        {"ragged.csv", {3, 4, 2, 3}, 0, ""},
        {"blank_lead.csv", {0, 0, 0, 3, 3}, 0, ""},
        {"semicolon.csv", {1, 1}, 0, ""},
        {"tab.tsv", {1, 1}, 0, ""},
        {"bom.csv", {3, 3, 3}, 0, ""},
        {"nul_byte.csv", {3, 3}, 0, ""},
        {"quoted_breaks.csv", {2, 2}, 0, ""},
        // UTF-16 is bytes: each comma is followed (little-endian) or preceded (big-endian) by
        // a NUL, so the NUL after the last LF is one more, unterminated record.
        {"utf16le.csv", {3, 3, 1}, 0, "t: Warning: final record not terminated: file 'f'\n"},
        {"utf16be.csv", {3, 3}, 0, ""},
        {"cr_only.csv", {}, 1,
         "t: ERROR: record #1: carriage return not in quoted field\nt: file:  'f'\n"},
        {"bare_quote.csv", {2}, 1,
         "t: ERROR: record #2, field #2: double-quote in unquoted field\nt: file:  'f'\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        ReadAll r = read_all(data_file(c.file));
        EXPECT_EQ(r.counts, c.counts);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(DataFiles, BomStaysInTheFirstHeaderField) {
    MemStream in(slurp(data_file("bom.csv")));
    char **f;
    char error;
    ASSERT_EQ(csv_record_read_and_split(in, "f", 1, 1, &f, &error), 3);
    EXPECT_STREQ(f[0], "\xEF\xBB\xBF" "city");
}

TEST(DataFiles, NulByteRecordKeepsItsLength) {
    MemStream in(slurp(data_file("nul_byte.csv")));
    int n;
    char error;
    csv_record_read(in, "f", 1, 1, &n, &error);
    const char *t = csv_record_read(in, "f", 2, 1, &n, &error);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(std::string(t, (size_t)csv_record_read_length()), "\0,8,9"s);
}

// ---- Optional: the shared corpora, when present beside the repository ----------------------

std::string corpus_dir(const char *sub) {
    std::string dir = std::string(ZELK_CORPORA_DIR) + "/" + sub;
    return std::filesystem::is_directory(dir) ? dir : std::string();
}

#define CORPUS_OR_SKIP(var, sub)                                                               \
    const std::string var = corpus_dir(sub);                                                   \
    if (var.empty()) GTEST_SKIP() << "skipped: " ZELK_CORPORA_DIR "/" sub " is absent"

const char *const SPECTRUM[] = {"comma_in_quotes", "empty",    "empty_crlf", "escaped_quotes",
                                "json",            "newlines", "newlines_crlf",
                                "quotes_and_newlines", "simple", "simple_crlf", "utf8"};

TEST(Corpus, ConformanceSetMatchesItsExpectedParses) {
    CORPUS_OR_SKIP(dir, "csv-spectrum/");
    for (const char *name : SPECTRUM) {
        SCOPED_TRACE(name);
        ReadAll r = read_all(dir + "csvs/" + name + ".csv");
        EXPECT_EQ(r.error, 0);
        std::vector<std::string> js = json_strings(slurp(dir + "json/" + name + ".json"));
        std::vector<std::string> expected;
        for (size_t i = 1; i < js.size(); i += 2) expected.push_back(js[i]);
        EXPECT_EQ(r.values, expected);
    }
}

TEST(Corpus, ConformanceSetRejectsABareQuote) {
    CORPUS_OR_SKIP(dir, "csv-spectrum/");
    ReadAll r = read_all(dir + "csvs/location_coordinates.csv");
    EXPECT_EQ(r.error, 1);
    EXPECT_EQ(r.counts, std::vector<int>{4});
    EXPECT_EQ(r.err, "t: ERROR: record #2, field #2: double-quote in unquoted field\n"
                     "t: file:  'f'\n");
}

TEST(Corpus, RealWorldExports) {
    CORPUS_OR_SKIP(dir, "csvkit-examples/examples/");
    struct Case {
        const char *file;
        std::vector<int> counts;
        char error;
    } cases[] = {
        {"bad.csv", {3, 4, 2, 3}, 0},
        {"blanks.csv", {6, 6}, 0},
        {"dummy.tsv", {1, 1}, 0},
        {"empty.csv", {0}, 0},
        {"mac_newlines.csv", {}, 1},
        {"null_byte.csv", {3, 3}, 0},
        {"test_header_newline.csv", {3, 3}, 0},
        {"test_latin1.csv", {3, 3, 3}, 0},
        {"test_skip_lines.csv", {0, 0, 0, 3, 3}, 0},
        {"test_utf16_big.csv", {3, 3, 3}, 0},
        {"test_utf16_little.csv", {3, 3, 3}, 0},
        {"test_utf8_bom.csv", {3, 3, 3}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        ReadAll r = read_all(dir + c.file);
        EXPECT_EQ(r.counts, c.counts);
        EXPECT_EQ(r.error, c.error);
    }
}

} // namespace
