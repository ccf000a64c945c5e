// The reader against public inputs written by others: the conformance set with its expected
// parses, and awkward real-world exports.
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

const char *const SPECTRUM[] = {"comma_in_quotes", "empty",    "empty_crlf", "escaped_quotes",
                                "json",            "newlines", "newlines_crlf",
                                "quotes_and_newlines", "simple", "simple_crlf", "utf8"};

TEST(Corpus, ConformanceSetMatchesItsExpectedParses) {
    const std::string dir = std::string(ZELK_CORPORA_DIR) + "/csv-spectrum/";
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
    ReadAll r = read_all(std::string(ZELK_CORPORA_DIR) +
                         "/csv-spectrum/csvs/location_coordinates.csv");
    EXPECT_EQ(r.error, 1);
    EXPECT_EQ(r.counts, std::vector<int>{4});
    EXPECT_EQ(r.err, "t: ERROR: record #2, field #2: double-quote in unquoted field\n"
                     "t: file:  'f'\n");
}

TEST(Corpus, RealWorldExports) {
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
        ReadAll r = read_all(std::string(ZELK_CORPORA_DIR) + "/csvkit-examples/examples/" + c.file);
        EXPECT_EQ(r.counts, c.counts);
        EXPECT_EQ(r.error, c.error);
    }
}

TEST(Corpus, BomStaysInTheFirstHeaderField) {
    std::string bytes =
        slurp(std::string(ZELK_CORPORA_DIR) + "/csvkit-examples/examples/test_utf8_bom.csv");
    MemStream in(bytes);
    char **f;
    char error;
    ASSERT_EQ(csv_record_read_and_split(in, "f", 1, 1, &f, &error), 3);
    EXPECT_STREQ(f[0], "\xEF\xBB\xBF" "foo");
}

TEST(Corpus, NulByteRecordKeepsItsLength) {
    std::string bytes =
        slurp(std::string(ZELK_CORPORA_DIR) + "/csvkit-examples/examples/null_byte.csv");
    MemStream in(bytes);
    int n;
    char error;
    csv_record_read(in, "f", 1, 1, &n, &error);
    const char *t = csv_record_read(in, "f", 2, 1, &n, &error);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 3);
    std::string rec(t, (size_t)csv_record_read_length());
    EXPECT_EQ(rec.find('\0'), 0u);
    EXPECT_GT(rec.size(), 1u);
}

} // namespace
