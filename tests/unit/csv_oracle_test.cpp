// The record reader against a second parser of the same grammar, written here plainly from
// the rules (a field is quoted when its first byte is a double quote, or at the start of the
// input when a UTF-8 byte order mark and a double quote begin it; CR only before LF or at the
// end of the file; at most 65535 bytes of record text), over random inputs weighted towards
// the bytes that matter: quotes, commas, CR, LF, NUL, byte order marks whole or cut short, and
// runs near the length limit.
// Both must agree on every record's text and field count, on the verdict, on the record that
// fails, and on where the stream is left.
#include <random>
#include <string>
#include <vector>

#include "unit.h"

namespace {

struct Outcome {
    enum Kind { RECORD, END, ERROR } kind;
    std::string text;
    int count = -1;
    size_t pos = 0; // where the reading stops
};

// One record of s from pos, by the grammar.
Outcome oracle_record(const std::string &s, size_t pos) {
    const size_t n = s.size();
    if (pos == n) return {Outcome::END, "", -1, pos};
    std::string text;
    int commas = 0;
    size_t i = pos;
    auto error_after = [&](size_t at) { return Outcome{Outcome::ERROR, "", -1, at}; };
    auto done = [&](size_t next, bool terminated) {
        int count = terminated && text.empty() && commas == 0 ? 0 : commas + 1;
        return Outcome{Outcome::RECORD, text, count, next};
    };
    // Stores s[at]; false when it would be the 65536th byte of the text.
    auto store = [&](size_t at) {
        if (text.size() == 65535) return false;
        text += s[at];
        return true;
    };
    const std::string bom = "\xEF\xBB\xBF";
    for (;;) { // at the start of a field
        if (i == n) return done(n, false);
        if (i == 0 && s.compare(0, 4, bom + '"') == 0) {
            for (size_t k = 0; k < 3; k++) store(k); // never near the length limit
            i = 3;
        }
        if (s[i] == '"') {
            if (!store(i)) return error_after(i + 1);
            i++;
            for (;;) {
                if (i == n) return error_after(n); // quoted field not closed
                char c = s[i];
                if (!store(i)) return error_after(i + 1);
                i++;
                if (c != '"') continue;
                if (i < n && s[i] == '"') {
                    if (!store(i)) return error_after(i + 1);
                    i++;
                    continue;
                }
                break;
            }
            if (i < n && s[i] != ',' && s[i] != '\n' && s[i] != '\r') return error_after(i + 1);
        } else {
            while (i < n && s[i] != ',' && s[i] != '\n' && s[i] != '\r') {
                if (s[i] == '"') return error_after(i + 1); // quote in an unquoted field
                if (!store(i)) return error_after(i + 1);
                i++;
            }
        }
        if (i == n) return done(n, false);
        if (s[i] == ',') {
            if (!store(i)) return error_after(i + 1);
            commas++;
            i++;
            continue;
        }
        if (s[i] == '\n') return done(i + 1, true);
        // CR: before LF, or the last byte of the file (dropped).
        if (i + 1 == n) return done(n, false);
        if (s[i + 1] == '\n') return done(i + 2, true);
        return error_after(i + 2);
    }
}

// Random text over a weighted alphabet, sometimes with a run that brings a record to the
// length limit.
std::string random_input(std::mt19937 &rng) {
    static const char alphabet[] = {'a', 'b', ',', ',', '"', '"', '"', '\n', '\n', '\r', ' ', '\0'};
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1), len(0, 40), coin(0, 19);
    std::string s;
    int n = len(rng);
    for (int i = 0; i < n; i++) s += alphabet[pick(rng)];
    // A byte order mark or the start of one, often before a double quote, at the start of the
    // input or anywhere else.
    if (coin(rng) < 4) {
        std::uniform_int_distribution<int> at(0, (int)s.size()), cut(1, 3);
        std::string mark = std::string("\xEF\xBB\xBF", (size_t)cut(rng));
        if (coin(rng) < 10) mark += '"';
        s.insert(coin(rng) < 10 ? 0 : (size_t)at(rng), mark);
    }
    if (coin(rng) == 0) {
        std::uniform_int_distribution<int> near(65530, 65540), at(0, (int)s.size());
        s.insert((size_t)at(rng), std::string((size_t)near(rng), coin(rng) < 10 ? 'x' : ','));
    }
    return s;
}

TEST(CsvOracle, ReaderAgreesWithAPlainParserOfTheGrammar) {
    std::mt19937 rng(20261208);
    StderrCapture quiet;
    for (int round = 0; round < 4000; round++) {
        std::string input = random_input(rng);
        MemStream in(input);
        size_t pos = 0;
        for (int recnum = 1;; recnum++) {
            SCOPED_TRACE("input #" + std::to_string(round) + ", record " + std::to_string(recnum));
            Outcome want = oracle_record(input, pos);
            int count;
            char err;
            const char *text = csv_record_read(in, "oracle", recnum, 0, &count, &err);
            ASSERT_EQ(want.kind == Outcome::RECORD, text != nullptr) << testing::PrintToString(input.substr(0, 80));
            ASSERT_EQ(want.kind == Outcome::ERROR, err == 1);
            ASSERT_EQ((long)want.pos, ftell(in));
            if (!text) break;
            ASSERT_EQ(want.count, count);
            ASSERT_EQ(want.text, std::string(text, (size_t)csv_record_read_length()));
            pos = want.pos;
        }
    }
}

// csv_fields_count states the grammar once more, for text that stands in a record: it must
// count a text's fields exactly when the reader, given the text and a terminator, reads it
// back as one record of the same text (an empty text, a blank record to the reader, being one
// empty field), and give 0 otherwise. The readers' length limit is the writers' to check
// there, so texts past it are left out.
// Fields joined by commas, quoted or not, with the odd byte changed: texts near the edge of
// the grammar.
std::string random_fields(std::mt19937 &rng) {
    static const char bytes[] = {'a', ',', '"', '\n', '\r', ' ', '\0', '\xEF'};
    std::uniform_int_distribution<int> pick(0, sizeof bytes - 1), nfields(1, 6), len(0, 8),
        coin(0, 9);
    std::string s;
    for (int f = nfields(rng); f > 0; f--) {
        bool quoted = coin(rng) < 5;
        std::string v;
        for (int i = len(rng); i > 0; i--) {
            char c = bytes[pick(rng)];
            if (!quoted && (c == ',' || c == '"' || c == '\n' || c == '\r')) c = 'b';
            v += c;
            if (c == '"') v += c;
        }
        s += (s.empty() ? "" : ",") + (quoted ? '"' + v + '"' : v);
    }
    if (!s.empty() && coin(rng) < 3)
        s[std::uniform_int_distribution<size_t>(0, s.size() - 1)(rng)] = bytes[pick(rng)];
    if (coin(rng) < 2) s.insert(0, coin(rng) < 5 ? "\xEF\xBB\xBF" : "\xEF\xBB");
    return s;
}

TEST(CsvOracle, FieldsCountAgreesWithTheReader) {
    std::mt19937 rng(20261209);
    StderrCapture quiet;
    for (int round = 0; round < 20000; round++) {
        std::string text = round % 2 ? random_input(rng) : random_fields(rng);
        if (text.size() > 65535) continue;
        for (bool start : {false, true}) {
            SCOPED_TRACE(testing::PrintToString(text.substr(0, 80)) +
                         (start ? " at the start" : ""));
            MemStream in(text + "\n");
            int count;
            char err;
            const char *rec = csv_record_read(in, "count", start ? 1 : 2, 0, &count, &err);
            bool whole = rec && std::string(rec, (size_t)csv_record_read_length()) == text &&
                         ftell(in) == (long)text.size() + 1;
            int want = !whole ? 0 : count == 0 ? 1 : count;
            EXPECT_EQ(csv_fields_count(text.data(), text.size(), start), want);
        }
    }
}

} // namespace
