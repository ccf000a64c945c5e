// zelk-from-delim and zelk-to-delim: the delimiter operand, the field procedures, the record
// loop, and round trips between the two.
#include "harness.h"

namespace {

const std::string FROM_USAGE = usage_text("zelk-from-delim");

const std::string TO_USAGE = usage_text("zelk-to-delim");

RunResult from(const std::vector<std::string> &args, const std::string &in = "") {
    return run_tool("zelk-from-delim", args, in);
}
RunResult to(const std::vector<std::string> &args, const std::string &in = "") {
    return run_tool("zelk-to-delim", args, in);
}

const std::string FD = "zelk-from-delim: ";
const std::string TD = "zelk-to-delim: ";

// The field procedures, the same options both ways. Delimited text of four fields: plain,
// holding the comma, holding a doubled quote, holding a line break; then an empty quoted field
// and an empty field. CSV of the same, with a field that holds the delimiter unquoted.
TEST(DsvConvert, FieldProcedures) {
    const std::string dsv = "a;b,c;\"x;y\";\"say \"\"hi\"\"\";\"l1\nl2\";\"\";\n";
    const std::string csv = "a,\"b;c\",\"x,y\",b;c,\"say \"\"hi\"\"\",\"l1\nl2\",\"\",\n";
    const struct {
        std::vector<std::string> opts;
        std::string from, to; // what zelk-from-delim makes of dsv, zelk-to-delim of csv
    } cases[] = {
        {{},
         "a,\"b,c\",\"x;y\",\"say \"\"hi\"\"\",\"l1\nl2\",\"\",\n",
         "a;\"b;c\";\"x,y\";\"b;c\";\"say \"\"hi\"\"\";\"l1\nl2\";\"\";\n"},
        {{"-u"},
         "a,\"b,c\",x;y,\"say \"\"hi\"\"\",\"l1\nl2\",,\n",
         "a;\"b;c\";x,y;\"b;c\";\"say \"\"hi\"\"\";\"l1\nl2\";;\n"},
        {{"-r"},
         "a,\"b,c\",\"x;y\",\"say \"\"hi\"\"\",\"l1<LF>l2\",\"\",\n",
         "a;\"b;c\";\"x,y\";\"b;c\";\"say \"\"hi\"\"\";\"l1<LF>l2\";\"\";\n"},
        {{"-ur"},
         "a,\"b,c\",x;y,\"say \"\"hi\"\"\",l1<LF>l2,,\n",
         "a;\"b;c\";x,y;\"b;c\";\"say \"\"hi\"\"\";l1<LF>l2;;\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.opts;
        args.push_back(";");
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_RUN(from(args, dsv), 0, c.from, "");
        EXPECT_RUN(to(args, csv), 0, c.to, "");
    }
}

TEST(FromDelim, Runs) {
    const std::string single = FD + "ERROR: DSV_DELIMITER_CHAR must be a single char\n";
    const std::string escape =
        FD + "ERROR: DSV_DELIMITER_CHAR is invalid C-style escape-sequence\n";
    const std::vector<RunCase> runs = {
        // A wrapped field holding the new separator keeps its quotes, and CR LF inside is shown
        // as two markers.
        {argv("-ur", "\\t"), "\"a,b\r\nc\"\tq\n", "\"a,b<CR><LF>c\",q\n"},
        {argv("-u", "\\t"), "\"a,b\"\t\"\"\"\"\t\" \"\n", "\"a,b\",\"\"\"\", \n"},
        // The delimiter operand.
        {argv("\\t"), "a\tb,c\t\n", "a,\"b,c\",\n"},
        {argv("|"), "a|b\n", "a,b\n"},
        {argv("\\0"), "a\0b,c\n"s, "a,\"b,c\"\n"},
        {argv("\\\\"), "a\\b\n", "a,b\n"},
        {argv("\\e"), "a\033b\n", "a,b\n"},
        {argv(","), "a,\"b,c\",\"d\"\n", "a,\"b,c\",\"d\"\n"},
        // The record loop: blank records, ragged records with a warning each, CR LF in and out.
        // A blank first record makes every later record longer than the header.
        {argv(";"), "h1;h2;h3\r\n\r\na;b\n\n1;2;3;4\nx;y;z", "h1,h2,h3\na,b\n1,2,3,4\nx,y,z\n",
         FD + "Warning: record #3 has less fields than header (2 vs 3)\n" + FD +
             "Warning: record #5 has more fields than header (4 vs 3)\n" + FD +
             "Warning: final record not terminated: file 'standard input'\n"},
        {argv("-bt", ";"), "h\n\nv\n", "h\r\n\r\nv\r\n"},
        {argv(";"), "\na\n", "a\n",
         FD + "Warning: record #2 has more fields than header (1 vs 0)\n"},
        // Files; three blank lines before the header: dropped, or kept with -b.
        {argv(";", test_data("csv/semicolon.csv")), "", "x,y,z\n1,2,3\n"},
        {argv("\\t", test_data("csv/tab.tsv")), "", "x,y,z\n1,2,3\n"},
        {argv("-b", ",", test_data("csv/blank_lead.csv")), "", "\n\n\nx,y,z\n1,2,3\n",
         FD + "Warning: record #4 has more fields than header (3 vs 0)\n" + FD +
             "Warning: record #5 has more fields than header (3 vs 0)\n"},
        // -q: no quoting, as in tab-separated values; a quote is data, and the output quotes
        // the fields that hold one or a comma. A byte order mark stays before the quotes.
        {argv("-q", "\\t"), "size\tnote\n5\" screen\t\"x\"\na,b\t\n",
         "size,note\n\"5\"\" screen\",\"\"\"x\"\"\"\n\"a,b\",\n"},
        {argv("-q", ";"), "\xef\xbb\xbf\"id\";v\n", "\xef\xbb\xbf\"\"\"id\"\"\",v\n"},
        {argv("-q", ","), "a,\"b\"\n", "a,\"\"\"b\"\"\"\n"},
        {argv("-q", "\""), "a\"b,c\n", "a,\"b,c\"\n"},
        {argv("-qbt", "\\t"), "h\r\n\nv", "h\r\n\r\nv\r\n",
         FD + "Warning: final record not terminated: file 'standard input'\n"},
        {argv("-q", ";"), "a;b\r\nc\rd\n", "a,b\n",
         read_error("zelk-from-delim", "record #2: carriage return not followed by line feed"), 1},
        {argv("-q", ";"), "a\n" + std::string(512, ';') + "\n", "a\n",
         read_error("zelk-from-delim", "record #2: number of fields exceeded MAX_FIELDS (512)"), 1},
        {argv("-q", ";"), std::string(65536, 'x') + "\n", "",
         read_error("zelk-from-delim",
                    "record #1: record length exceeded MAX_RECORD_LENGTH (65536)"),
         1},
        // Errors and usage; the reader's syntax error ends the run after the records already
        // written.
        {argv(), "", "", FROM_USAGE, 1},
        {argv(";", "a", "b"), "", "", FROM_USAGE, 1},
        {argv(";"), "a;b\nc;d\"e\nf\n", "a,b\n",
         read_error("zelk-from-delim", "record #2, field #2: double-quote in unquoted field",
                    "standard input", "line 2, byte 8"),
         1},
    };
    expect_runs("zelk-from-delim", runs);
    // A delimiter operand that is not one byte, or an escape that does not name one.
    for (const char *bad : {"ab", "", "\\", "\\tt", ";;"})
        EXPECT_RUN(from({bad}, "x\n"), 1, "", single);
    for (const char *bad : {"\\x", "\\T", "\\xg"})
        EXPECT_RUN(from({bad}, "x\n"), 1, "", escape);
}

TEST(ToDelim, Runs) {
    const std::vector<RunCase> runs = {
        // -r on a field holding both the delimiter and a line break: quotes kept, break shown.
        {argv("-ur", ";"), "\"p;\r\nq\"\n", "\"p;<CR><LF>q\"\n"},
        // Delimiters. A NUL inside a field is data: it is written, and quoted when NUL is the
        // delimiter. The comma itself: every field as read, quoted ones with their quotes.
        {argv("\\t"), "a,b,\"c\td\"\n", "a\tb\t\"c\td\"\n"},
        {argv("\\0"), "a,b,c\n", "a\0b\0c\n"s},
        {argv("\\0"), "a\0b,c\n"s, "\"a\0b\"\0c\n"s},
        {argv("|"), "a\0b,c\n"s, "a\0b|c\n"s},
        {argv(","), "a,\"b,c\",\"d\"\n", "a,\"b,c\",\"d\"\n"},
        {argv("ab"), "", "", TD + "ERROR: DSV_DELIMITER_CHAR must be a single char\n", 1},
        {argv("\\q"), "", "", TD + "ERROR: DSV_DELIMITER_CHAR is invalid C-style escape-sequence\n",
         1},
        // The record loop and errors.
        {argv(";"), "h1,h2\n\na\n1,2,3\n", "h1;h2\na\n1;2;3\n",
         TD + "Warning: record #3 has less fields than header (1 vs 2)\n" + TD +
             "Warning: record #4 has more fields than header (3 vs 2)\n"},
        {argv("-b", "-t", ";"), "h\n\nv\n", "h\r\n\r\nv\r\n"},
        {argv(), "", "", TO_USAGE, 1},
        {argv("-z", ";"), "", "",
         TD + "invalid option -- 'z'\nTry 'zelk-to-delim --help' for more information.\n", 1},
        {argv(";"), "a,b\n\"c\"d\n", "a;b\n",
         read_error("zelk-to-delim",
                    "record #2, field #1: unescaped double quote char in quoted field",
                    "standard input", "line 2, byte 8"),
         1},
        {argv(";"), "", ""},
    };
    expect_runs("zelk-to-delim", runs);
}

// Where no field holds a double quote, reading without quoting (-q) and with it agree, over
// lines that cross the input buffer's edges: records, blank records, line ends, field counts
// and the warnings about them.
TEST(FromDelim, WithoutQuotesReadsAsWithQuotes) {
    const std::string bytes = "ab ,;|\\\xc3\xa9\x01"s + '\0';
    std::string tsv;
    unsigned seed = 7;
    auto next = [&seed](unsigned n) { return (seed = seed * 1103515245 + 12345) / 65536 % n; };
    for (int r = 0; tsv.size() < 300000; r++) {
        for (unsigned f = 0, nf = r % 50 ? 3 : 1 + next(5); f < nf; f++) {
            if (f) tsv += '\t';
            for (unsigned i = next(40); i > 0; i--)
                tsv += bytes[next((unsigned)bytes.size())];
        }
        tsv += next(4) ? "\n" : next(2) ? "\r\n" : "\n\n";
    }
    for (const char *tail : {"", "x\ty"}) {
        for (const char *blank : {"-t", "-b"}) {
            RunResult with = from({blank, "\\t"}, tsv + tail);
            ASSERT_EQ(with.status, 0);
            EXPECT_NE(with.err, "");
            EXPECT_RUN(from({blank, "-q", "\\t"}, tsv + tail), 0, with.out, with.err);
        }
    }
}

// Quoting and replaced line breaks make a field longer than it was; a result that would not
// fit the 8192-byte field buffer is refused, never written past it.
TEST(DsvConvert, FieldBufferIsBounded) {
    const std::string too_long =
        "record #1, field #1: field length exceeded MAX_FIELD_LENGTH (8192)";
    const std::string limit = read_error("zelk-from-delim", too_long);
    // An unwrapped field holding a comma: 8189 bytes quote to 8191, which fits; 8190 do not.
    std::string fits = std::string(8188, 'a') + ",";
    EXPECT_RUN(from({";"}, fits + "\n"), 0, "\"" + fits + "\"\n", "");
    EXPECT_RUN(from({";"}, fits + "a\n"), 1, "", limit);
    // Doubled quotes count twice.
    std::string quotes = ",\"" + std::string(4096, '"') + "\"\n"; // a wrapped field: unchanged
    EXPECT_EQ(to({";"}, quotes).status, 0);
    // Line breaks shown as four bytes each, with -r alone and with -u -r.
    std::string breaks = "\"" + std::string(2048, '\n') + "\"\n";
    for (auto opts : {std::vector<std::string>{"-r", ";"}, {"-ur", ";"}})
        EXPECT_RUN(to(opts, breaks), 1, "", read_error("zelk-to-delim", too_long));
    std::string shown;
    for (int i = 0; i < 2047; i++) shown += "<LF>"; // 8188 bytes
    std::string few = "\"" + std::string(2047, '\n') + "\"\n";
    EXPECT_RUN(to({"-ur", ";"}, few), 0, shown + "\n", "");
    EXPECT_RUN(to({"-r", ";"}, few), 0, "\"" + shown + "\"\n", "");
    // An unwrapped field holding the delimiter, quoted with embeds replaced inside.
    std::string semis = std::string(8190, ';') + "\n";
    EXPECT_RUN(to({"-r", ";"}, semis), 1, "", read_error("zelk-to-delim", too_long));
}

// CSV to delimited text and back gives the CSV again, whatever the fields hold; a field that
// held the delimiter comes back quoted, and with -u both ways the result has quotes only
// where CSV needs them.
TEST(DsvConvert, RoundTrips) {
    TempDir dir;
    const std::string rec1 = "id,\"semi;colon\",\"pipe|bar\",\"tab\tstop\",\"say \"\"hi\"\"\","
                             "\"line\nbreak\",\"cr\r\nlf\",\"a,b\",plain,\n";
    const std::string rec1_clean = "id,semi;colon,pipe|bar,tab\tstop,\"say \"\"hi\"\"\","
                                   "\"line\nbreak\",\"cr\r\nlf\",\"a,b\",plain,\n";
    auto rec2 = [](const std::string &semi, const std::string &pipe, const std::string &tab) {
        return "2," + semi + "," + pipe + "," + tab + ",\"\"\"\",\"\n\",x,\",\",p,\n";
    };
    std::string path = dir.file("in.csv", rec1 + "\n" + rec2(";", "|", "\t"));
    struct Case {
        std::string delim, plain;
    } cases[] = {
        {"';'", rec1 + rec2("\";\"", "|", "\t")},
        {"'|'", rec1 + rec2(";", "\"|\"", "\t")},
        {"'\\t'", rec1 + rec2(";", "|", "\"\t\"")},
        {"'\\0'", rec1 + rec2(";", "|", "\t")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.delim);
        EXPECT_RUN(run_shell("zelk-to-delim " + c.delim + " '" + path + "' | zelk-from-delim " +
                             c.delim),
                   0, c.plain, "");
        EXPECT_RUN(run_shell("zelk-to-delim -u " + c.delim + " '" + path +
                             "' | zelk-from-delim -u " + c.delim),
                   0, rec1_clean + rec2(";", "|", "\t"), "");
    }
    // Blank records survive both ways with -b.
    EXPECT_RUN(run_shell("zelk-to-delim -b -u '|' '" + path + "' | zelk-from-delim -b -u '|'"), 0,
               rec1_clean + "\n" + rec2(";", "|", "\t"), "");
    // Fields without tabs, line breaks or double quotes go through tab-separated values
    // without quoting and come back as they were.
    const std::string plain =
        "\xef\xbb\xbfid,\"a,b\",,\" sp \",'s\\,Z\xc3\xbcrich\n\n1,2,3,4,5,6\n";
    std::string plain_path = dir.file("plain.csv", plain);
    EXPECT_RUN(
        run_shell("zelk-to-delim -u -b '\\t' '" + plain_path + "' | zelk-from-delim -q -b '\\t'"),
        0, "\xef\xbb\xbfid,\"a,b\",, sp ,'s\\,Z\xc3\xbcrich\n\n1,2,3,4,5,6\n", "");
    // With -r the trip is one-way: line breaks come back as their markers.
    EXPECT_RUN(run_shell("printf 'a,\"l1\\nl2\",\"x;y\\r\\nz\"\\n' | zelk-to-delim -ur ';' | "
                         "zelk-from-delim -u ';'"),
               0, "a,l1<LF>l2,x;y<CR><LF>z\n", "");
}

} // namespace
