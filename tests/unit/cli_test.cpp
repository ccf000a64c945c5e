// The front end's helpers: integer operands, header field names and input buffers; and the
// message writer they all report through.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "cli.h"
#include "parallel.h"
#include "unit.h"

namespace {

TEST(Intstrconv, AcceptsWhatStrtolAccepts) {
    EXPECT_EQ(intstrconv("7", "FIELD"), 7);
    EXPECT_EQ(intstrconv(" 7", "FIELD"), 7);
    EXPECT_EQ(intstrconv("+7", "FIELD"), 7);
    EXPECT_EQ(intstrconv("0", "N", 0), 0);
    EXPECT_EQ(intstrconv("9", "N", 1, 9), 9);
}

TEST(IntstrconvDeathTest, ReasonsInOrder) {
    auto one = ::testing::ExitedWithCode(1);
    EXPECT_EXIT(intstrconv("0", "FIELD"), one, ": Invalid value for FIELD: 0 \\(must be >= 1\\)\n$");
    EXPECT_EXIT(intstrconv("-3", "FIELD"), one, "Invalid value for FIELD: -3 \\(must be >= 1\\)");
    EXPECT_EXIT(intstrconv("x", "FIELD"), one,
                "Invalid value for FIELD: x \\(does not represent an integer\\)");
    EXPECT_EXIT(intstrconv("", "FIELD"), one, "\\(does not represent an integer\\)");
    EXPECT_EXIT(intstrconv("3x", "RECORD"), one, "Invalid value for RECORD: 3x \\(includes non-digits\\)");
    EXPECT_EXIT(intstrconv("99999999999999999999", "FIELD"), one,
                "Invalid value for FIELD: 99999999999999999999 \\(invalid/out-of-range\\)");
    // Outside int but inside long: out of range rather than a wrapped value.
    EXPECT_EXIT(intstrconv("4294967297", "FIELD"), one, "\\(invalid/out-of-range\\)");
    EXPECT_EXIT(intstrconv("10", "N", 1, 9), one, "Invalid value for N: 10 \\(must be <= 9\\)");
    // An out-of-range value with trailing letters reports the range first.
    EXPECT_EXIT(intstrconv("99999999999999999999x", "FIELD"), one, "invalid/out-of-range");
}

struct Header {
    std::string text;
    char **fields;
    int n;
    explicit Header(const std::string &t) : text(t) {
        char error;
        n = csv_record_string_parse(text.data(), 1, 1, &fields, &error, 0);
    }
};

TEST(Fieldname2fieldnum, FirstFieldThatHoldsTheName) {
    Header h("id,name,\"q\",name");
    EXPECT_EQ(fieldname2fieldnum("name", h.n, h.fields), 2);
    EXPECT_EQ(fieldname2fieldnum("id", h.n, h.fields), 1);
    EXPECT_EQ(fieldname2fieldnum("\"q\"", h.n, h.fields), 3);
    Header d("a,a,b");
    EXPECT_EQ(fieldname2fieldnum("a", d.n, d.fields), 1);
    Header prefix("nam,name");
    EXPECT_EQ(fieldname2fieldnum("nam", prefix.n, prefix.fields), 1);
}

// A name is a field's bytes first, then its value: unquoted, and in field 1 without a BOM.
TEST(HeaderFieldLookup, BytesBeforeValues) {
    struct {
        const char *header;
        const char *name;
        int field;
    } cases[] = {
        {"\"id\",id", "id", 2},                 // the bytes win over the value
        {"\"id\",id", "\"id\"", 1},
        {"\"a\",x,\"a\"", "a", 1},             // the first field of several
        {"a,x,\"a\"", "a", 1},
        {"x,a,a", "a", 2},
        {"\"a\"\"b\",c", "a\"b", 1},           // doubled quotes made single
        {"\"a\"\"b\",c", "a\"\"b", 0},
        {"\"\",x", "", 1},                     // an empty quoted name
        {"\xEF\xBB\xBFid,x", "id", 1},          // a BOM in field 1 is not typed
        {"\xEF\xBB\xBFid,x", "\xEF\xBB\xBFid", 1},
        {"\xEF\xBB\xBF\"id\",x", "id", 1},      // before a quoted field too
        {"x,\xEF\xBB\xBFid", "id", 0},          // nor looked past elsewhere
        {"\xEF\xBB\xBF", "", 1},
        {"first-name,\"x\"", "first-name", 1},
    };
    for (const auto &c : cases) {
        Header h(c.header);
        ASSERT_GT(h.n, 0) << c.header;
        const char *end = h.fields[h.n - 1] + strlen(h.fields[h.n - 1]);
        EXPECT_EQ(header_field_lookup(c.name, h.n, h.fields, end), c.field)
            << c.header << " / " << c.name;
    }
}

TEST(Fieldname2fieldnumDeathTest, NotFound) {
    Header h("id,\"q\",x");
    EXPECT_EXIT(fieldname2fieldnum("Q", h.n, h.fields), ::testing::ExitedWithCode(1),
                ": ERROR: FIELD name 'Q' not found in header\n$");
    EXPECT_EXIT(fieldname2fieldnum("i", h.n, h.fields), ::testing::ExitedWithCode(1),
                "not found in header");
    EXPECT_EXIT(fieldname2fieldnum("", 0, nullptr), ::testing::ExitedWithCode(1),
                "FIELD name '' not found in header");
}

// Inputs read at the same time each keep their own buffer, one more than there are buffers to
// lend included, and a closed input's buffer goes to the next one opened.
TEST(InputBuffers, EachOpenInputReadsItsOwnFile) {
    const int n = 6;
    std::string paths[n], texts[n];
    FILE *fps[n];
    for (int round = 0; round < 2; round++) {
        for (int i = 0; i < n; i++) {
            char path[] = "/tmp/zelk_input_XXXXXX";
            int fd = mkstemp(path);
            ASSERT_GE(fd, 0);
            paths[i] = path;
            texts[i].clear();
            for (int k = 0; k < 20000; k++) texts[i] += std::to_string(i * 100000 + k) + "\n";
            ASSERT_EQ(write(fd, texts[i].data(), texts[i].size()), (ssize_t)texts[i].size());
            close(fd);
            fps[i] = open_csvfile(path);
            ASSERT_NE(fps[i], nullptr);
        }
        std::string got[n];
        for (bool more = true; more;) { // a line from each in turn
            more = false;
            for (int i = 0; i < n; i++) {
                char line[64];
                if (fgets(line, sizeof line, fps[i])) {
                    got[i] += line;
                    more = true;
                }
            }
        }
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(got[i], texts[i]) << "input " << i;
            EXPECT_EQ(close_input(fps[i]), 0);
            unlink(paths[i].c_str());
        }
    }
}

// The record loop on several cores, run over one input after another as a program of several
// inputs does: each run counts every record and gives its memory back.
bool count_lines(FILE *fp, const char *, int *recnum, void *tally) {
    for (int c; (c = getc(fp)) != EOF;)
        if (c == '\n') {
            ++*recnum;
            ++*static_cast<long *>(tally);
        }
    return true;
}
void add_count(void *into, const void *part) {
    *static_cast<long *>(into) += *static_cast<const long *>(part);
}
int mappings(void) {
    FILE *maps = fopen("/proc/self/maps", "r");
    int n = 0;
    for (int c; (c = getc(maps)) != EOF;)
        n += c == '\n';
    fclose(maps);
    return n;
}

TEST(RecordLoop, EachInputCountedAndItsPartsUnmapped) {
    char path[] = "/tmp/zelk_loop_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string text;
    for (int k = 0; k < 5000; k++)
        text += std::to_string(k) + ",x\n";
    ASSERT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
    close(fd);
    setenv("ZELK_JOBS_CHUNK", "1000", 1);
    opt_jobs = 2;
    int before = 0;
    for (int round = 0; round < 8; round++) {
        if (round == 1) before = mappings(); // after what the first run sets up for good
        FILE *fp = fopen(path, "r");
        ASSERT_NE(fp, nullptr);
        long count = 0;
        int recnum = 0;
        EXPECT_TRUE(
            run_record_loop(fp, path, &recnum, {count_lines, &count, sizeof count, add_count}));
        EXPECT_EQ(count, 5000);
        EXPECT_EQ(recnum, 5000);
        fclose(fp);
    }
    EXPECT_EQ(mappings(), before);
    opt_jobs = 0;
    unsetenv("ZELK_JOBS_CHUNK");
    unlink(path);
}

// errorf against snprintf: once no argument holds a control byte, every conversion comes out
// as printf writes it (flags, widths and precisions from the format or from '*').
template <typename... A> void expect_printf_text(const char *fmt, A... args) {
    char want[256];
    snprintf(want, sizeof want, fmt, args...);
    StderrCapture cap;
    errorf(0, fmt, args...);
    EXPECT_EQ(cap.take(), "t: "s + want + "\n") << fmt;
}

TEST(Errorf, WritesEveryConversionAsPrintf) {
    int x = 0;
    expect_printf_text("%d|%5d|%-5d|%05d|%+d|% d|%i", 42, -42, 42, 42, 42, 42, -7);
    expect_printf_text("%ld %lld %zu %zd %jd %td", -1L, 1LL << 40, (size_t)7, (ssize_t)-7,
                       (intmax_t)-9, (ptrdiff_t)3);
    expect_printf_text("%u %x %X %o %#x %#o %lu %hhd %hd", 4000000000u, 255u, 255u, 8u, 255u, 8u,
                       99UL, 300, 70000);
    expect_printf_text("%*d|%-*d|%*d|%.*d|%.*d|%.3d|%*s|", 6, 1, 6, 2, -6, 3, 4, 5, -1, 6, 7, -1,
                       "");
    expect_printf_text("%s|%.3s|%10s|%-10s|%*s|%.*s|%%|%c|%3c|%-3c|", "abc", "abcdef", "r", "l",
                       -4, "n", 2, "xyz", 'q', 'w', 'e');
    expect_printf_text("%g %.2f %e %10.3f %Lg %a", 0.1, 3.14159, 1e10, 2.5, (long double)1.5,
                       1.0);
    expect_printf_text("%p %s", (void *)&x, "end");
}

// Every byte value through %s and %c against a model built from iscntrl: control bytes, DEL
// and the UTF-8 form of a C1 control come out as octal escapes, everything else as it is; the
// format's own newline and strerror's text stay, and errno survives the message.
TEST(Errorf, EscapesTheControlBytesOfArguments) {
    std::string all;
    for (int c = 1; c < 256; c++) all += (char)c;
    all += "\xc2\x9b|\xc2\xa0"; // CSI in UTF-8, then a no-break space
    std::string want;
    for (char c : all) {
        char oct[8];
        snprintf(oct, sizeof oct, "\\%03o", (unsigned char)c);
        want += iscntrl((unsigned char)c) ? std::string(oct) : std::string(1, c);
    }
    for (int c = 0x80; c < 0xa0; c++) {
        std::string raw = "\xc2"s + (char)c;
        char oct[16];
        snprintf(oct, sizeof oct, "\\302\\%03o", c);
        for (size_t i; (i = want.find(raw)) != std::string::npos;) want.replace(i, 2, oct);
    }
    StderrCapture cap;
    errno = ERANGE;
    errorf(EACCES, "v='%s' c=%c%c:\n  next line", all.c_str(), '\033', 'x');
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(cap.take(),
              "t: v='" + want + "' c=\\033x:\n  next line: " + strerror(EACCES) + "\n");
}

} // namespace
