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

// Four fields: plain, holding the comma, holding a doubled quote, holding a line break; then
// an empty quoted field and an empty field.
const std::string DSV_FIELDS = "a;b,c;\"x;y\";\"say \"\"hi\"\"\";\"l1\nl2\";\"\";\n";

TEST(FromDelim, FieldProcedures) {
    EXPECT_RUN(from({";"}, DSV_FIELDS), 0,
               "a,\"b,c\",\"x;y\",\"say \"\"hi\"\"\",\"l1\nl2\",\"\",\n", "");
    EXPECT_RUN(from({"-u", ";"}, DSV_FIELDS), 0,
               "a,\"b,c\",x;y,\"say \"\"hi\"\"\",\"l1\nl2\",,\n", "");
    EXPECT_RUN(from({"-r", ";"}, DSV_FIELDS), 0,
               "a,\"b,c\",\"x;y\",\"say \"\"hi\"\"\",\"l1<LF>l2\",\"\",\n", "");
    EXPECT_RUN(from({"-ur", ";"}, DSV_FIELDS), 0,
               "a,\"b,c\",x;y,\"say \"\"hi\"\"\",l1<LF>l2,,\n", "");
    // A wrapped field holding the new separator keeps its quotes, and CR LF inside is shown
    // as two markers.
    EXPECT_RUN(from({"-ur", "\\t"}, "\"a,b\r\nc\"\tq\n"), 0, "\"a,b<CR><LF>c\",q\n", "");
    EXPECT_RUN(from({"-u", "\\t"}, "\"a,b\"\t\"\"\"\"\t\" \"\n"), 0, "\"a,b\",\"\"\"\", \n",
               "");
}

TEST(FromDelim, DelimiterOperand) {
    EXPECT_RUN(from({"\\t"}, "a\tb,c\t\n"), 0, "a,\"b,c\",\n", "");
    EXPECT_RUN(from({"|"}, "a|b\n"), 0, "a,b\n", "");
    EXPECT_RUN(from({"\\0"}, "a\0b,c\n"s), 0, "a,\"b,c\"\n", "");
    EXPECT_RUN(from({"\\\\"}, "a\\b\n"), 0, "a,b\n", "");
    EXPECT_RUN(from({"\\e"}, "a\033b\n"), 0, "a,b\n", "");
    EXPECT_RUN(from({","}, "a,\"b,c\",\"d\"\n"), 0, "a,\"b,c\",\"d\"\n", "");
    for (const char *bad : {"ab", "", "\\", "\\tt", ";;"})
        EXPECT_RUN(from({bad}, "x\n"), 1, "",
                   "zelk-from-delim: ERROR: DSV_DELIMITER_CHAR must be a single char\n");
    for (const char *bad : {"\\x", "\\T", "\\xg"})
        EXPECT_RUN(from({bad}, "x\n"), 1, "",
                   "zelk-from-delim: ERROR: DSV_DELIMITER_CHAR is invalid C-style "
                   "escape-sequence\n");
}

TEST(FromDelim, RecordLoop) {
    // Blank records, ragged records with a warning each, CR LF in and out.
    std::string in = "h1;h2;h3\r\n\r\na;b\n\n1;2;3;4\nx;y;z";
    EXPECT_RUN(from({";"}, in), 0, "h1,h2,h3\na,b\n1,2,3,4\nx,y,z\n",
               "zelk-from-delim: Warning: record #3 has less fields than header (2 vs 3)\n"
               "zelk-from-delim: Warning: record #5 has more fields than header (4 vs 3)\n"
               "zelk-from-delim: Warning: final record not terminated: file 'standard input'\n");
    EXPECT_RUN(from({"-bt", ";"}, "h\n\nv\n"), 0, "h\r\n\r\nv\r\n", "");
    // A blank first record makes every later record longer than the header.
    EXPECT_RUN(from({";"}, "\na\n"), 0, "a\n",
               "zelk-from-delim: Warning: record #2 has more fields than header (1 vs 0)\n");
}

TEST(FromDelim, Files) {
    EXPECT_RUN(from({";", test_data("csv/semicolon.csv")}), 0, "x,y,z\n1,2,3\n", "");
    EXPECT_RUN(from({"\\t", test_data("csv/tab.tsv")}), 0, "x,y,z\n1,2,3\n", "");
    // Three blank lines before the header: dropped, or kept with -b.
    EXPECT_RUN(from({"-b", ",", test_data("csv/blank_lead.csv")}), 0, "\n\n\nx,y,z\n1,2,3\n",
               "zelk-from-delim: Warning: record #4 has more fields than header (3 vs 0)\n"
               "zelk-from-delim: Warning: record #5 has more fields than header (3 vs 0)\n");
}

TEST(FromDelim, ErrorsAndUsage) {
    EXPECT_RUN(from({}, ""), 1, "", FROM_USAGE);
    EXPECT_RUN(from({";", "a", "b"}, ""), 1, "", FROM_USAGE);
    // The reader's syntax error ends the run after the records already written.
    EXPECT_RUN(from({";"}, "a;b\nc;d\"e\nf\n"), 1, "a,b\n",
               "zelk-from-delim: ERROR: record #2, field #2: double-quote in unquoted field\n"
               "zelk-from-delim: file:  'standard input'\n");
}

const std::string CSV_FIELDS = "a,\"b;c\",\"x,y\",b;c,\"say \"\"hi\"\"\",\"l1\nl2\",\"\",\n";

TEST(ToDelim, FieldProcedures) {
    EXPECT_RUN(to({";"}, CSV_FIELDS), 0,
               "a;\"b;c\";\"x,y\";\"b;c\";\"say \"\"hi\"\"\";\"l1\nl2\";\"\";\n", "");
    EXPECT_RUN(to({"-u", ";"}, CSV_FIELDS), 0,
               "a;\"b;c\";x,y;\"b;c\";\"say \"\"hi\"\"\";\"l1\nl2\";;\n", "");
    EXPECT_RUN(to({"-r", ";"}, CSV_FIELDS), 0,
               "a;\"b;c\";\"x,y\";\"b;c\";\"say \"\"hi\"\"\";\"l1<LF>l2\";\"\";\n", "");
    EXPECT_RUN(to({"-ur", ";"}, CSV_FIELDS), 0,
               "a;\"b;c\";x,y;\"b;c\";\"say \"\"hi\"\"\";l1<LF>l2;;\n", "");
    // -r on a field holding both the delimiter and a line break: quotes kept, break shown.
    EXPECT_RUN(to({"-ur", ";"}, "\"p;\r\nq\"\n"), 0, "\"p;<CR><LF>q\"\n", "");
}

TEST(ToDelim, Delimiters) {
    EXPECT_RUN(to({"\\t"}, "a,b,\"c\td\"\n"), 0, "a\tb\t\"c\td\"\n", "");
    EXPECT_RUN(to({"\\0"}, "a,b,c\n"), 0, "a\0b\0c\n"s, "");
    // A NUL inside a field is data: it is written, and quoted when NUL is the delimiter.
    EXPECT_RUN(to({"\\0"}, "a\0b,c\n"s), 0, "\"a\0b\"\0c\n"s, "");
    EXPECT_RUN(to({"|"}, "a\0b,c\n"s), 0, "a\0b|c\n"s, "");
    // The comma itself: every field as read, quoted ones with their quotes.
    EXPECT_RUN(to({","}, "a,\"b,c\",\"d\"\n"), 0, "a,\"b,c\",\"d\"\n", "");
    EXPECT_RUN(to({"ab"}, ""), 1, "",
               "zelk-to-delim: ERROR: DSV_DELIMITER_CHAR must be a single char\n");
    EXPECT_RUN(to({"\\q"}, ""), 1, "",
               "zelk-to-delim: ERROR: DSV_DELIMITER_CHAR is invalid C-style escape-sequence\n");
}

TEST(ToDelim, RecordLoopAndErrors) {
    EXPECT_RUN(to({";"}, "h1,h2\n\na\n1,2,3\n"), 0, "h1;h2\na\n1;2;3\n",
               "zelk-to-delim: Warning: record #3 has less fields than header (1 vs 2)\n"
               "zelk-to-delim: Warning: record #4 has more fields than header (3 vs 2)\n");
    EXPECT_RUN(to({"-b", "-t", ";"}, "h\n\nv\n"), 0, "h\r\n\r\nv\r\n", "");
    EXPECT_RUN(to({}, ""), 1, "", TO_USAGE);
    EXPECT_RUN(to({"-z", ";"}, ""), 1, "",
               "zelk-to-delim: invalid option -- 'z'\n"
               "Try 'zelk-to-delim --help' for more information.\n");
    EXPECT_RUN(to({";"}, "a,b\n\"c\"d\n"), 1, "a;b\n",
               "zelk-to-delim: ERROR: record #2, field #1: unescaped double quote char in quoted "
               "field\nzelk-to-delim: file:  'standard input'\n");
    EXPECT_RUN(to({";"}, ""), 0, "", "");
}

// Quoting and replaced line breaks make a field longer than it was; a result that would not
// fit the 8192-byte field buffer is refused, never written past it.
TEST(DsvConvert, FieldBufferIsBounded) {
    const std::string limit = "zelk-from-delim: ERROR: record #1, field #1: field length exceeded "
                              "MAX_FIELD_LENGTH (8192)\nzelk-from-delim: file:  'standard input'\n";
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
        EXPECT_RUN(to(opts, breaks), 1, "",
                   "zelk-to-delim: ERROR: record #1, field #1: field length exceeded "
                   "MAX_FIELD_LENGTH (8192)\nzelk-to-delim: file:  'standard input'\n");
    std::string shown;
    for (int i = 0; i < 2047; i++) shown += "<LF>"; // 8188 bytes
    std::string few = "\"" + std::string(2047, '\n') + "\"\n";
    EXPECT_RUN(to({"-ur", ";"}, few), 0, shown + "\n", "");
    EXPECT_RUN(to({"-r", ";"}, few), 0, "\"" + shown + "\"\n", "");
    // An unwrapped field holding the delimiter, quoted with embeds replaced inside.
    std::string semis = std::string(8190, ';') + "\n";
    EXPECT_RUN(to({"-r", ";"}, semis), 1, "",
               "zelk-to-delim: ERROR: record #1, field #1: field length exceeded MAX_FIELD_LENGTH "
               "(8192)\nzelk-to-delim: file:  'standard input'\n");
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
    // With -r the trip is one-way: line breaks come back as their markers.
    EXPECT_RUN(run_shell("printf 'a,\"l1\\nl2\",\"x;y\\r\\nz\"\\n' | zelk-to-delim -ur ';' | "
                         "zelk-from-delim -u ';'"),
               0, "a,l1<LF>l2,x;y<CR><LF>z\n", "");
}

} // namespace
