// The stream readers: csv_record_read, the parse/split/get-field/skip family and the DSV
// readers share one record machine, so most cases run through several of them.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "csv_syntax.h"
#include "unit.h"

namespace {

struct Rec {
    std::string text; // bytes up to the reported length
    int count;
    bool operator==(const Rec &) const = default;
};

void PrintTo(const Rec &r, std::ostream *os) {
    *os << testing::PrintToString(r.text) << "/" << r.count;
}

// Reads all records with csv_record_read; stops at the end or the first error.
struct RawRead {
    std::vector<Rec> recs;
    char error = 0;
    std::string err;
    RawRead(const std::string &bytes, char verbose = 1) {
        MemStream in(bytes);
        StderrCapture cap;
        for (int recnum = 1;; recnum++) {
            int n;
            const char *t = csv_record_read(in, "in.csv", recnum, verbose, &n, &error);
            if (!t) {
                EXPECT_EQ(n, -1);
                break;
            }
            recs.push_back({std::string(t, (size_t)csv_record_read_length()), n});
        }
        err = cap.take();
    }
};

std::vector<std::vector<std::string>> split_all(const std::string &bytes, char sep = ',',
                                                std::string *err = nullptr) {
    MemStream in(bytes);
    StderrCapture cap;
    std::vector<std::vector<std::string>> out;
    for (int recnum = 1;; recnum++) {
        char **f;
        char error;
        int n = sep == ',' ? csv_record_read_and_split(in, "in", recnum, 1, &f, &error)
                           : dsv_record_read_and_split(sep, in, "in", recnum, 1, &f, &error);
        if (n < 0) break;
        std::vector<std::string> rec;
        for (int i = 0; i < n; i++) rec.emplace_back(f[i]);
        out.push_back(rec);
    }
    if (err) *err = cap.take();
    return out;
}

// Each input's records, as text and field count, and the warning it gives when verbose;
// quiet, it gives none.
TEST(RawRead, RecordsAndFieldCounts) {
    const std::string unterminated = "t: Warning: final record not terminated: file 'in.csv'\n";
    const struct {
        std::string input;
        std::vector<Rec> recs;
        std::string warning = "";
    } cases[] = {
        // An empty input is the end of the file.
        {"", {}},
        {"a,b\n", {{"a,b", 2}}},
        {"a,b", {{"a,b", 2}}, unterminated},
        // Blank records have no fields.
        {"\n\r\nx\n", {{"", 0}, {"", 0}, {"x", 1}}},
        // A lone CR at the end of the file is an unterminated record of one empty field; after
        // a complete record it is one more such record. A CR ending the last field is dropped.
        {"\r", {{"", 1}}, unterminated},
        {"a\n\r", {{"a", 1}, {"", 1}}, unterminated},
        {"a,b\r", {{"a,b", 2}}, unterminated},
        {",\n,,\n\"a,b\",c\n\"x\"\"y\"\n\"1\r\n2\",3\r\n",
         {{",", 2}, {",,", 3}, {"\"a,b\",c", 2}, {"\"x\"\"y\"", 1}, {"\"1\r\n2\",3", 2}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.input));
        RawRead r(c.input);
        EXPECT_EQ(r.recs, c.recs);
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(r.err, c.warning);
        EXPECT_EQ(RawRead(c.input, 0).err, "");
    }
}

struct SyntaxCase {
    const char *input;
    int good_records;
    const char *message; // the message, before the "file:" line
};

// The verbose flag governs only the warning about an unterminated final record: a syntax
// error is described whatever it says.
TEST(RawRead, SyntaxErrorsVerboseAndQuiet) {
    const SyntaxCase cases[] = {
        {"ok\na\"b,c\n", 1, "t: ERROR: record #2, field #1: double-quote in unquoted field\n"},
        {"x,y,ab\"\n", 0, "t: ERROR: record #1, field #3: double-quote in unquoted field\n"},
        {"\"ab\"c\n", 0,
         "t: ERROR: record #1, field #1: unescaped double quote char in quoted field\n"},
        {"1,\"ab\" \n", 0,
         "t: ERROR: record #1, field #2: unescaped double quote char in quoted field\n"},
        {"a\rb\n", 0, "t: ERROR: record #1: carriage return not in quoted field\n"},
        {"\rx", 0, "t: ERROR: record #1: carriage return not in quoted field\n"},
        {"a,\"b\"\rc", 0, "t: ERROR: record #1: carriage return not in quoted field\n"},
        {"h\n\n1,\"open\nstill open", 2,
         "t: ERROR: record #3, field #2: quoted field not closed by double quote\n"},
    };
    for (const SyntaxCase &c : cases) {
        SCOPED_TRACE(c.input);
        RawRead v(c.input, 1);
        EXPECT_EQ(v.error, 1);
        EXPECT_EQ((int)v.recs.size(), c.good_records);
        EXPECT_EQ(v.err, std::string(c.message) + "t: file:  'in.csv'\n");
        RawRead q(c.input, 0);
        EXPECT_EQ(q.error, 1);
        EXPECT_EQ(q.err, v.err);
    }
}

TEST(RawRead, StreamIsLeftJustAfterTheFaultyByte) {
    MemStream in("a\"bc\n");
    StderrCapture cap;
    int n;
    char error;
    EXPECT_EQ(csv_record_read(in, "in", 1, 0, &n, &error), nullptr);
    EXPECT_EQ(fgetc(in), 'b');
}

TEST(RawRead, RecordLengthLimit) {
    std::string max(65535, 'x');
    RawRead ok(max + "\n" + max);
    ASSERT_EQ(ok.recs.size(), 2u);
    EXPECT_EQ(ok.recs[0].text.size(), 65535u);
    EXPECT_EQ(ok.recs[1].text.size(), 65535u);

    RawRead over("a\n" + max + "y\n");
    EXPECT_EQ(over.recs.size(), 1u);
    EXPECT_EQ(over.error, 1);
    EXPECT_EQ(over.err, "t: ERROR: record #2: record length exceeded MAX_RECORD_LENGTH (65536)\n"
                        "t: file:  'in.csv'\n");
    // Quoted line breaks count towards the length too.
    RawRead quoted("\"" + std::string(65533, '\n') + "\"\n");
    EXPECT_EQ(quoted.recs.size(), 1u);
    RawRead quoted_over("\"" + std::string(65534, '\n') + "\"\n");
    EXPECT_EQ(quoted_over.error, 1);
}

TEST(RawRead, RawReaderDoesNotLimitFields) {
    std::string rec(600, ',');
    RawRead r(rec + "\n");
    ASSERT_EQ(r.recs.size(), 1u);
    EXPECT_EQ(r.recs[0].count, 601);
}

TEST(RawRead, NulBytesAreData) {
    RawRead r("a\0b,\0\n\0\n"s);
    ASSERT_EQ(r.recs.size(), 2u);
    EXPECT_EQ(r.recs[0].text, "a\0b,\0"s);
    EXPECT_EQ(r.recs[0].count, 2);
    EXPECT_EQ(r.recs[1].text, "\0"s);
    EXPECT_EQ(r.recs[1].count, 1);
}

TEST(RawRead, EndOfFileLeavesThePreviousRecordIntact) {
    MemStream in("first\nlast\n");
    int n;
    char error;
    csv_record_read(in, "in", 1, 1, &n, &error);
    const char *last = csv_record_read(in, "in", 2, 1, &n, &error);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(csv_record_read(in, "in", 3, 1, &n, &error), nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_STREQ(last, "last");
    EXPECT_EQ(csv_record_read_length(), 4);
}

TEST(RawRead, ReadErrorIsReportedWhateverTheVerboseFlag) {
    FILE *dir = fopen("/", "r"); // reading a directory fails with EISDIR
    ASSERT_NE(dir, nullptr);
    StderrCapture cap;
    int n;
    char error;
    EXPECT_EQ(csv_record_read(dir, "/", 7, 0, &n, &error), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(cap.take(), "t: Error: failed reading record #7 from file '/': Is a directory\n");
    fclose(dir);
}

TEST(Parse, FieldTablesAndCounts) {
    MemStream in("a,\"b,c\",d\n\nlast");
    StderrCapture cap;
    int n;
    char **f;
    char error;
    char *t = csv_record_read_and_parse(in, "in", 1, 1, &n, &f, &error);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "a,\"b,c\",d");
    ASSERT_EQ(n, 3);
    EXPECT_EQ(f[0], t);
    EXPECT_EQ(std::string(f[1], (size_t)csv_parsed_field_length(f, n, 2, t + strlen(t))),
              "\"b,c\"");
    EXPECT_STREQ(f[2], "d");

    t = csv_record_read_and_parse(in, "in", 2, 1, &n, &f, &error);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_STREQ(t, "");

    t = csv_record_read_and_parse(in, "in", 3, 1, &n, &f, &error);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 1);

    EXPECT_EQ(csv_record_read_and_parse(in, "in", 4, 1, &n, &f, &error), nullptr);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(cap.take(), "t: Warning: final record not terminated: file 'in'\n");
}

TEST(Parse, SplitGivesNulTerminatedFields) {
    std::string err;
    auto recs = split_all("a,\"b,c\",d\n\n,\n\"\"\n", ',', &err);
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0], (std::vector<std::string>{"a", "\"b,c\"", "d"}));
    EXPECT_TRUE(recs[1].empty());
    EXPECT_EQ(recs[2], (std::vector<std::string>{"", ""}));
    EXPECT_EQ(recs[3], (std::vector<std::string>{"\"\""}));
    EXPECT_EQ(err, "");
}

TEST(Parse, FieldLimit) {
    std::string f512 = "x";
    for (int i = 1; i < 512; i++) f512 += ",x";
    std::string err;
    auto ok = split_all(f512 + "\n" + f512, ',', &err);
    ASSERT_EQ(ok.size(), 2u);
    EXPECT_EQ(ok[0].size(), 512u);
    EXPECT_EQ(err, "t: Warning: final record not terminated: file 'in'\n");

    // A 513th field, whether ended by a terminator, a comma or the end of the file.
    for (const std::string &tail : {",x\n"s, ",\n"s, ",,\n"s}) {
        auto bad = split_all("h\n" + f512 + tail + "next\n", ',', &err);
        EXPECT_EQ(bad.size(), 1u);
        EXPECT_EQ(err, "t: ERROR: record #2: number of fields exceeded MAX_FIELDS (512)\n"
                       "t: file:  'in'\n");
    }
    split_all(f512 + ",x", ',', &err);
    EXPECT_EQ(err, "t: Warning: final record not terminated: file 'in'\n"
                   "t: ERROR: record #1: number of fields exceeded MAX_FIELDS (512)\n"
                   "t: file:  'in'\n");

    // Skipping checks no limit.
    MemStream in(f512 + ",x\n" + std::string(70000, 'y') + "\nz\n");
    char error;
    EXPECT_EQ(csv_record_read_and_skip(in, "in", 1, 1, &error), 1);
    EXPECT_EQ(csv_record_read_and_skip(in, "in", 2, 1, &error), 1);
    int n;
    EXPECT_STREQ(csv_record_read(in, "in", 3, 1, &n, &error), "z");
}

TEST(Parse, GetField) {
    MemStream in("a,\"b,\"\"c\"\"\",d\n\nx\n");
    StderrCapture cap;
    char *field = (char *)"untouched";
    int n;
    char error;
    char *t = csv_record_read_and_get_field(in, "in", 1, 1, 2, &field, &n, &error);
    EXPECT_STREQ(t, "a,\"b,\"\"c\"\"\",d");
    EXPECT_STREQ(field, "\"b,\"\"c\"\"\"");
    EXPECT_EQ(n, 3);
    // Blank record: the text, no field, count 0.
    t = csv_record_read_and_get_field(in, "in", 2, 1, 1, &field, &n, &error);
    EXPECT_STREQ(t, "");
    EXPECT_EQ(field, nullptr);
    EXPECT_EQ(n, 0);
    // Fewer fields than wanted: no message.
    t = csv_record_read_and_get_field(in, "in", 3, 1, 4, &field, &n, &error);
    EXPECT_STREQ(t, "x");
    EXPECT_EQ(field, nullptr);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(csv_record_read_and_get_field(in, "in", 4, 1, 1, &field, &n, &error), nullptr);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(cap.take(), "");
}

TEST(Parse, GetFieldLengthLimit) {
    std::string f8191(8191, 'v');
    MemStream in("a," + f8191 + "\n");
    char *field;
    int n;
    char error;
    csv_record_read_and_get_field(in, "in", 1, 1, 2, &field, &n, &error);
    EXPECT_EQ(strlen(field), 8191u);
    EXPECT_EQ(csv_record_get_field_length(), 8191);
}

TEST(ParseDeathTest, OverlongWantedFieldIsFatal) {
    std::string f8192(8192, 'v');
    EXPECT_EXIT(
        {
            MemStream in("a," + f8192 + "\n");
            char *field;
            int n;
            char error;
            csv_record_read_and_get_field(in, "in", 1, 1, 2, &field, &n, &error);
        },
        ::testing::ExitedWithCode(1),
        "ERROR: record #1, field #2: field length exceeded MAX_FIELD_LENGTH \\(8192\\)\n"
        ".*file:  'in'\n");
}

TEST(Parse, SkipFollowsQuotesAndReportsErrors) {
    MemStream in("\"a\nb,c\",d\n\nlast\"x\n");
    StderrCapture cap;
    char error;
    EXPECT_EQ(csv_record_read_and_skip(in, "in", 1, 1, &error), 1);
    EXPECT_EQ(csv_record_read_and_skip(in, "in", 2, 1, &error), 1);
    EXPECT_EQ(csv_record_read_and_skip(in, "in", 3, 1, &error), 0);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(cap.take(), "t: ERROR: record #3, field #1: double-quote in unquoted field\n"
                          "t: file:  'in'\n");
    MemStream empty("");
    EXPECT_EQ(csv_record_read_and_skip(empty, "in", 1, 1, &error), 0);
    EXPECT_EQ(error, 0);
}

TEST(Parse, ParseAndRawBuffersAreSeparate) {
    MemStream a("raw\n"), b("parsed,x\n");
    int n;
    char error;
    char **f;
    const char *raw = csv_record_read(a, "a", 1, 1, &n, &error);
    csv_record_read_and_parse(b, "b", 1, 1, &n, &f, &error);
    EXPECT_STREQ(raw, "raw");
}

TEST(Dsv, SeparatorReplacesTheComma) {
    auto tab = split_all("a\tb,c\n\tx\n\t\n\n", '\t');
    ASSERT_EQ(tab.size(), 4u);
    EXPECT_EQ(tab[0], (std::vector<std::string>{"a", "b,c"}));
    EXPECT_EQ(tab[1], (std::vector<std::string>{"", "x"}));
    EXPECT_EQ(tab[2], (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(tab[3].empty());

    auto semi = split_all("\"x;y\";z\r\n", ';');
    ASSERT_EQ(semi.size(), 1u);
    EXPECT_EQ(semi[0], (std::vector<std::string>{"\"x;y\"", "z"}));

    // NUL as the separator.
    auto nul = split_all("a\0b\0\"c\0d\"\n"s, '\0');
    ASSERT_EQ(nul.size(), 1u);
    EXPECT_EQ(nul[0].size(), 3u);
    EXPECT_EQ(nul[0][1], "b");
}

// A separator byte of 0x80 or above (found by fuzzing: the byte reader's value never equalled
// the signed separator, so such records were not split at all).
TEST(Dsv, HighByteSeparator) {
    for (char sep : {'\xfe', '\xa7', '\x80'}) {
        std::string line = "a"s + sep + "\"b" + sep + "\"" + sep + "c\n";
        auto recs = split_all(line, sep);
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_EQ(recs[0], (std::vector<std::string>{"a", "\"b"s + sep + "\"", "c"}));
    }
    // A separator among the bytes of a byte order mark at the start of the input separates.
    const struct {
        char sep;
        std::vector<std::string> fields; // {} for a syntax error
    } marks[] = {
        {'\xBF', {"\xEF\xBB", "\"x\""}},
        {'"', {"\xEF\xBB\xBF", "x", ""}},
        {'\xEF', {}}, // then a double quote inside an unquoted field
    };
    for (const auto &m : marks) {
        auto recs = split_all("\xEF\xBB\xBF\"x\"\n", m.sep);
        EXPECT_EQ(recs.empty() ? std::vector<std::string>{} : recs[0], m.fields) << m.sep;
    }
}

TEST(Dsv, CommaSeparatorMatchesCsv) {
    const std::string input = "h1,\"h,2\"\n\n1,\"a\nb\"\r\nlast,";
    MemStream a(input), b(input);
    StderrCapture cap;
    for (int recnum = 1;; recnum++) {
        char **fa, **fb;
        char ea, eb;
        int na = csv_record_read_and_split(a, "in", recnum, 1, &fa, &ea);
        int nb = dsv_record_read_and_split(',', b, "in", recnum, 1, &fb, &eb);
        ASSERT_EQ(na, nb);
        ASSERT_EQ(ea, eb);
        if (na < 0) break;
        for (int i = 0; i < na; i++) EXPECT_STREQ(fa[i], fb[i]);
    }
}

TEST(Dsv, ErrorsAndLimitsAreTheSame) {
    std::string err;
    split_all("a\tb\"c\n", '\t', &err);
    EXPECT_EQ(err, "t: ERROR: record #1, field #2: double-quote in unquoted field\nt: file:  'in'\n");
    std::string f513 = "x";
    for (int i = 1; i < 513; i++) f513 += "|x";
    EXPECT_TRUE(split_all(f513 + "\n", '|', &err).empty());
    EXPECT_EQ(err, "t: ERROR: record #1: number of fields exceeded MAX_FIELDS (512)\nt: file:  'in'\n");
}

// The readers take runs of ordinary bytes many at a time while the stream's buffer holds
// enough of them, and byte by byte otherwise, in blocks as wide as the CPU's vectors allow.
// Through a buffer of 8 bytes every record goes the byte-by-byte way; every block width,
// through the default buffer and through one of 100 bytes (blocks meet the buffer's end at
// every offset), must give the same results: records, field tables, counts, errors with
// their places, and where the stream is left. Skipping many records at a time, alternating
// with the skipper as a counting loop does (mode 5), must count as the skipper alone, and so
// must the library's loop of the two, asked for 1 to 40 records at a time (mode 6); the
// skippers read a regular file, so that their errors say where they lie. Inputs: random
// records over the bytes that matter (NUL included), random records of fields plain, quoted,
// with doubled quotes and line breaks, some with one byte made wrong, fields of every length
// around the block sizes, a wrong byte at every offset of a long record, and records near the
// length and field limits. Batches are asked for at most 0 to 2 records now and then. Of the
// inputs free of faults, the first batch takes every record that ends in the whole blocks the
// buffer then holds, up to the most it was asked for and short of a CR LF cut by a block's end.
struct FileStream { // when wanted, a regular file holding the given bytes, deleted once open
    FILE *fp = nullptr;
    FileStream(const std::string &bytes, bool wanted) {
        char path[] = "/tmp/zelk-unit-XXXXXX";
        int fd = wanted ? mkstemp(path) : -1;
        if (fd < 0) return;
        unlink(path);
        if (write(fd, bytes.data(), bytes.size()) == (ssize_t)bytes.size() &&
            lseek(fd, 0, SEEK_SET) == 0)
            fp = fdopen(fd, "r");
        if (!fp) close(fd);
    }
    ~FileStream() {
        if (fp) fclose(fp);
    }
};

struct ReadTrace {
    std::string out;
    // Mode 5, the first batch: where it began, the bytes then buffered, and where it ended.
    long batch_from = -1, batch_room = 0, batch_end = 0;
    ReadTrace(const std::string &bytes, int mode, size_t buffer, long first_max = LONG_MAX) {
        std::vector<char> vbuf(buffer ? buffer : 1); // outlives the stream
        MemStream mem(bytes);
        bool skips = mode == 2 || mode == 5 || mode == 6;
        FileStream file(bytes, skips);
        FILE *in = skips ? file.fp : mem;
        if (!in) {
            out = "no stream";
            return;
        }
        if (buffer) setvbuf(in, vbuf.data(), _IOFBF, buffer);
        if (mode == 4) csv_count_places(in);
        StderrCapture cap;
        for (int recnum = 1;; recnum++) {
            char error = 0;
            int n = -1;
            char **f = nullptr;
            const char *t = nullptr;
            size_t len = 0;
            if (mode == 0) {
                t = csv_record_read(in, "in", recnum, 1, &n, &error);
                len = (size_t)csv_record_read_length();
            } else if (mode == 1 || mode == 4) {
                t = csv_record_read_and_parse(in, "in", recnum, 1, &n, &f, &error);
                len = (size_t)csv_record_parse_length();
            } else if (mode == 2 || mode == 5) {
                bool first = mode == 5 && recnum >= 2 && batch_from < 0;
                if (first) {
                    batch_from = ftell(in);
                    batch_room = in->_IO_read_end - in->_IO_read_ptr;
                }
                long max = first ? first_max : recnum % 4 ? LONG_MAX : recnum % 3;
                long k = mode == 5 ? csv_records_skip_common(in, "in", recnum, max) : 0;
                if (k > max) out += "more than " + std::to_string(max) + "\n";
                for (; k > 0; k--, recnum++)
                    out += "1:|\n";
                if (first) batch_end = ftell(in);
                n = csv_record_read_and_skip(in, "in", recnum, 1, &error);
                t = n ? "" : nullptr;
            } else if (mode == 6) {
                long max = 1 + recnum * 7 % 40;
                long k = csv_records_skip(in, "in", recnum, max, &error);
                for (long j = 0; j < k; j++)
                    out += "1:|\n";
                if (k == max) { // (more may follow)
                    recnum += (int)k - 1;
                    continue;
                }
                t = nullptr;
            } else {
                t = dsv_record_read_and_parse('\t', in, "in", recnum, 1, &n, &f, &error);
                len = (size_t)dsv_record_parse_length();
            }
            if (!t) {
                out += "end " + std::to_string(error) + " at " + std::to_string(ftell(in));
                break;
            }
            out += std::to_string(n) + ":" + std::string(t, len) + "|";
            for (int i = 0; f && i < n; i++) out += std::to_string(f[i] - t) + " ";
            out += "\n";
        }
        csv_count_places(nullptr);
        out += cap.take();
    }
};

TEST(Parse, BlockScanMatchesByteByByte) {
    std::vector<std::string> inputs;
    unsigned seed = 12345;
    auto rnd = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    const std::string alphabet("aaaaaaaabbbbbbb,,,,,\t\"\"\n\r \0", 28);
    for (int k = 0; k < 300; k++) {
        std::string s;
        int n = (int)(rnd() % 400);
        for (int i = 0; i < n; i++)
            s += alphabet[rnd() % alphabet.size()];
        inputs.push_back(s);
    }
    for (int w = 0; w < 70; w++) { // fields of width w, plain and quoted, in long records
        std::string f(w, 'x'), rec = f;
        for (int i = 0; i < 6; i++) rec += (i % 2 ? ",\"" + f + "\"" : "," + f);
        inputs.push_back(rec + "\n" + rec + ",\r\n" + rec + "\"\n" + rec);
    }
    for (int at = 0; at < 140; at++) // a wrong byte, or a quote opening a field, anywhere
        for (const char *bad : {"\"", "\rx", "\"\"x", ",\"a\"b", "\"a\","}) {
            std::string rec;
            for (int i = 0; i < 150; i++)
                rec += i % 7 == 6 ? ',' : 'a';
            inputs.push_back("h\n" + rec.substr(0, (size_t)at) + bad + rec.substr((size_t)at) +
                             "\n" + rec + "\n");
        }
    // Records as files hold them, some with a fault; the fields with CRs come last.
    const std::string fields[] = {
        "",         "abc",  std::string(36, 'p'), "\"x,y\"", "\"a\"\"b\"",
        "\"l\nm\"", "\"\"", "\"\"\"\"\"\"",       "a\0b"s,   "\"cr\r\nlf\"",
        "\"c\rr\""};
    std::vector<bool> common(inputs.size(), false); // free of faults
    for (int k = 0; k < 300; k++) {
        std::string s = k % 5 == 0 ? "\xEF\xBB\xBF\"bom\",x\n" : "";
        for (int r = (int)(rnd() % 60); r > 0; r--) {
            for (int f = (int)(rnd() % 6); f >= 0; f--)
                s += fields[rnd() % (k % 2 ? 11 : 9)] + (f ? "," : ""); // half with CRs
            int t = (int)(rnd() % 16);
            s += t == 0 && k % 2 ? "\r\n" : t == 1 ? "\n\n" : "\n";
        }
        if (k % 3 == 0 && !s.empty()) s[rnd() % s.size()] = "\"\r\n,\xEF"[rnd() % 5];
        if (k % 7 == 0) s += k % 2 ? "\xEF\xBB\xBF\"x\"\n" : "\ntail";
        inputs.push_back(s);
        common.push_back(k % 3 && k % 7);
    }
    for (int w = 0; w < 70; w++) { // a quoted field after an LF or separator anywhere in a block
        std::string x((size_t)w, 'x');
        inputs.push_back("h\n" + x + "\n\"q\"\n" + x + ",\"q\"\n");
        common.push_back(true);
    }
    std::string wide = "a";
    for (int i = 1; i < 512; i++) wide += ",a";
    inputs.push_back(wide + "\n" + wide + ",a\n");
    inputs.push_back(wide + "\n" + wide + ",\"a\"\n");
    inputs.push_back(wide + ",a,b,c\n");
    std::string longrec(65519, 'x');
    for (int d = 0; d < 70; d++) {
        std::string r = longrec.substr(0, 65519 - (d > 24 ? 48 : 0)) + std::string((size_t)d, ',');
        inputs.push_back(r + "\n" + r + "y,\n");
    }
    const CsvScan scans[] = {CSV_SCAN_SCALAR, CSV_SCAN_SSE2, CSV_SCAN_AVX2};
    common.resize(inputs.size(), false);
    for (size_t i = 0; i < inputs.size(); i++)
        for (int mode = 0; mode < 7; mode++) {
            const std::string &in = inputs[i];
            csv_scan_set(CSV_SCAN_SCALAR);
            const std::string want = ReadTrace(in, mode >= 5 ? 2 : mode, 8).out;
            for (CsvScan scan : scans) {
                if (!csv_scan_set(scan)) continue;
                for (size_t buffer : {0, 100}) {
                    long first_max = i % 3 ? LONG_MAX : (long)(i % 7);
                    ReadTrace got(in, mode, buffer, first_max);
                    ASSERT_EQ(got.out, want) << "scan " << scan << " buffer " << buffer << " mode "
                                             << mode << " input:\n"
                                             << in;
                    if (common[i] && got.batch_from >= 0 && scan == CSV_SCAN_AVX2 && buffer == 0) {
                        long end = got.batch_from, records = 0;
                        bool quoted = false;
                        for (long j = end;
                             j < got.batch_from + got.batch_room / 64 * 64 && records < first_max;
                             j++) {
                            if (in[(size_t)j] == '"') quoted = !quoted;
                            if (in[(size_t)j] == '\r' && !quoted && (j - got.batch_from) % 64 == 63)
                                break;
                            if (in[(size_t)j] == '\n' && !quoted) end = j + 1, records++;
                        }
                        EXPECT_EQ(got.batch_end, end) << in;
                    }
                }
            }
        }
    for (CsvScan scan : scans)
        csv_scan_set(scan); // the widest the CPU has, as before
}

// Where records end, as cutting an input into parts finds them: every width, from any state,
// against a byte-by-byte model, over blocks whose quotes and line feeds fall anywhere.
TEST(RecordEnds, EveryScanAsTheModel) {
    unsigned seed = 2612;
    auto rnd = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    const std::string alphabet("aaaaaa\"\"\n\n,\r", 12);
    const CsvScan scans[] = {CSV_SCAN_SCALAR, CSV_SCAN_SSE2, CSV_SCAN_AVX2};
    for (int k = 0; k < 400; k++) {
        std::string s;
        for (int i = (int)(rnd() % 300); i > 0; i--)
            s += alphabet[rnd() % (k % 3 ? alphabet.size() : 7)]; // some with few line feeds
        for (bool quoted : {true, false})
            for (bool from : {false, true}) {
                bool in = from;
                long count = 0;
                size_t last = 0;
                for (size_t i = 0; i < s.size(); i++) {
                    if (quoted && s[i] == '"') in = !in;
                    if (s[i] == '\n' && (!quoted || !in)) count++, last = i + 1;
                }
                for (CsvScan scan : scans) {
                    if (!csv_scan_set(scan)) continue;
                    bool got_in = from;
                    size_t got_last = 99;
                    EXPECT_EQ(csv_record_ends(s.data(), s.size(), quoted, &got_in, &got_last),
                              count)
                        << "scan " << scan << " quoted " << quoted << " from " << from << ": " << s;
                    EXPECT_EQ(got_last, last) << "scan " << scan << ": " << s;
                    if (quoted) {
                        EXPECT_EQ(got_in, in) << "scan " << scan << ": " << s;
                    }
                }
            }
    }
    for (CsvScan scan : scans)
        csv_scan_set(scan); // the widest the CPU has, as before
}

} // namespace
