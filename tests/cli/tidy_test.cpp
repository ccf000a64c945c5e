#include <algorithm>

#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-tidy");

RunResult tidy(const std::vector<std::string> &args, const std::string &in = "") {
    return run_tool("zelk-tidy", args, in);
}

TEST(Tidy, CopiesUnchangedByDefault) {
    std::string in = "h1,h2\r\n\"a,b\",\"x\r\ny\"\n\n\"\",  \n";
    EXPECT_RUN(tidy({}, in), 0, "h1,h2\n\"a,b\",\"x\r\ny\"\n\n\"\",  \n", "");
    EXPECT_RUN(tidy({"-t"}, in), 0, "h1,h2\r\n\"a,b\",\"x\r\ny\"\r\n\r\n\"\",  \r\n", "");
    // A NUL byte is data, also where whitespace is trimmed.
    EXPECT_RUN(tidy({"-X"}, "h\n a\0b \n\0\n"s), 0, "h\na\0b\n\0\n"s, "");
}

// One record holding a quoted field, an unquoted one, an empty one, a whitespace-only one, one
// with leading and trailing blanks, a quoted one with inner blanks, an empty quoted one and a
// quoted one holding doubled quotes; each option's effect on each.
TEST(Tidy, FieldRules) {
    const std::string head = "1,2,3,4,5,6,7,8\n";
    const std::string rec = "\"q\",u,,   , x ,\"a b\",\"\",\"say \"\"hi\"\"\"\n";
    struct {
        std::vector<std::string> opts;
        std::string out;
    } cases[] = {
        {{}, rec},
        {{"-e"}, "\"q\",u,\"\",   , x ,\"a b\",\"\",\"say \"\"hi\"\"\"\n"},
        {{"-c"}, "q,u,,   , x ,a b,,\"say \"\"hi\"\"\"\n"},
        {{"-c", "-e"}, "q,u,\"\",   , x ,a b,\"\",\"say \"\"hi\"\"\"\n"},
        {{"-u"}, "q,u,,   , x ,a b,,say \"hi\"\n"},
        {{"-u", "-s", "|"}, "q|u||   | x |a b||say \"hi\"\n"},
        {{"-r"}, rec},
        {{"-c", "-r"}, "q,u,,   , x ,a b,,\"say \"\"hi\"\"\"\n"},
        {{"-u", "-r"}, "q,u,,   , x ,a b,,say \"hi\"\n"},
        {{"-w"}, "\"q\",u,,\"   \", x ,\"a b\",\"\",\"say \"\"hi\"\"\"\n"},
        {{"-W"}, "\"q\",u,,, x ,\"a b\",\"\",\"say \"\"hi\"\"\"\n"},
        {{"-W", "-e"}, "\"q\",u,\"\",\"\", x ,\"a b\",\"\",\"say \"\"hi\"\"\"\n"},
        {{"-w", "-W"}, "\"q\",u,,\"   \", x ,\"a b\",\"\",\"say \"\"hi\"\"\"\n"},
        {{"-x"}, "\"q\",u,,   ,\" x \",\"a b\",\"\",\"say \"\"hi\"\"\"\n"},
        {{"-X"}, "\"q\",u,,   ,x,\"a b\",\"\",\"say \"\"hi\"\"\"\n"},
        {{"-x", "-X", "-u"}, "q,u,,   ,\" x \",a b,,say \"hi\"\n"},
    };
    for (auto &c : cases) {
        std::string label;
        for (auto &o : c.opts) label += o + " ";
        SCOPED_TRACE(label);
        // The header goes through the same rules.
        EXPECT_RUN(tidy(c.opts, rec + rec), 0, c.out + c.out, "");
    }
    EXPECT_RUN(tidy({"-c"}, head + rec), 0, head + "q,u,,   , x ,a b,,\"say \"\"hi\"\"\"\n", "");
}

TEST(Tidy, LineBreaksInFields) {
    std::string in = "h\n\"l1\nl2\"\n\"a,\r\nb\"\n";
    EXPECT_RUN(tidy({"-c"}, in), 0, in, "");
    EXPECT_RUN(tidy({"-r"}, in), 0, "h\n\"l1<LF>l2\"\n\"a,<CR><LF>b\"\n", "");
    EXPECT_RUN(tidy({"-c", "-r"}, in), 0, "h\nl1<LF>l2\n\"a,<CR><LF>b\"\n", "");
    EXPECT_RUN(tidy({"-u", "-r"}, in), 0, "h\nl1<LF>l2\na,<CR><LF>b\n", "");
    EXPECT_RUN(tidy({"-u"}, in), 0, "h\nl1\nl2\na,\r\nb\n", "");
}

TEST(Tidy, PaddingAndTrimming) {
    std::string in = "h1,h2,h3\na\na,b,c,d\nx,y,z\n";
    EXPECT_RUN(tidy({}, in), 0, in, "");
    EXPECT_RUN(tidy({"-p"}, in), 0, "h1,h2,h3\na,,\na,b,c,d\nx,y,z\n", "");
    EXPECT_RUN(tidy({"-p", "-e"}, in), 0, "h1,h2,h3\na,\"\",\"\"\na,b,c,d\nx,y,z\n", "");
    EXPECT_RUN(tidy({"-d"}, in), 0, "h1,h2,h3\na\na,b,c\nx,y,z\n", "");
    EXPECT_RUN(tidy({"-pd", "-s", ";"}, in), 0, "h1;h2;h3\na;;\na;b;c\nx;y;z\n", "");
    EXPECT_RUN(tidy({"-V", "-p"}, in), 0, "h1,h2,h3\na,,\na,b,c,d\nx,y,z\n",
               "zelk-tidy: Warning: record #2 has less fields than header (1 vs 3), padding\n"
               "zelk-tidy: Warning: record #3 has more fields than header (4 vs 3)\n");
    EXPECT_RUN(tidy({"-V", "-d"}, in), 0, "h1,h2,h3\na\na,b,c\nx,y,z\n",
               "zelk-tidy: Warning: record #2 has less fields than header (1 vs 3)\n"
               "zelk-tidy: Warning: record #3 has more fields than header (4 vs 3), trimming\n");
    // A blank header has no fields: -d leaves later records empty.
    EXPECT_RUN(tidy({"-d"}, "\na,b\n"), 0, "\n\n", "");
}

TEST(Tidy, BlankRecords) {
    std::string in = "h1,h2,h3\n\nv1,v2,v3\n\n";
    EXPECT_RUN(tidy({}, in), 0, in, "");
    EXPECT_RUN(tidy({"-b"}, in), 0, "h1,h2,h3\nv1,v2,v3\n", "");
    EXPECT_RUN(tidy({"-b", "-V"}, in), 0, "h1,h2,h3\nv1,v2,v3\n",
               "zelk-tidy: Warning: record #2 is blank, being removed\n"
               "zelk-tidy: Warning: record #4 is blank, being removed\n");
    EXPECT_RUN(tidy({"-B"}, in), 0, "h1,h2,h3\n,,\nv1,v2,v3\n,,\n", "");
    EXPECT_RUN(tidy({"-B", "-e"}, in), 0,
               "h1,h2,h3\n\"\",\"\",\"\"\nv1,v2,v3\n\"\",\"\",\"\"\n", "");
    // A blank header pads to one empty field.
    EXPECT_RUN(tidy({"-Be"}, "\n\n"), 0, "\"\"\n\"\"\n", "");
    EXPECT_RUN(tidy({"-b", test_data("csv/blank_lead.csv")}), 0, "x,y,z\n1,2,3\n", "");
}

// What -v writes to standard error, with the warnings of -V before the report, is in the golden
// files tests/data/tidy/report_*.txt.
TEST(Tidy, CleaningReport) {
    std::string in = "h1,h2,h3\n\"abc\",\"x\ny\",\na\n1,2,3,4\n\n  , b ,\"r\r\ns\"\n";
    const std::string clean = read_file(test_data("tidy/report_clean.txt"));
    const std::string unquote = read_file(test_data("tidy/report_unquote.txt"));
    const std::string empty = read_file(test_data("tidy/report_empty.txt"));
    EXPECT_RUN(tidy({"-v", "-c", "-r", "-e", "-p", "-d", "-B", "-w", "-X"}, in), 0,
               "h1,h2,h3\nabc,x<LF>y,\"\"\na,\"\",\"\"\n1,2,3\n\"\",\"\",\"\"\n\"  \",b,"
               "r<CR><LF>s\n",
               clean);
    EXPECT_RUN(tidy({"-v", "-u", "-b", "-W", "-x", "-V"}, in), 0,
               "h1,h2,h3\nabc,x\ny,\na\n1,2,3,4\n,\" b \",r\r\ns\n", unquote);
    // An empty input: a warning, nothing written, status 0, all counts 0.
    EXPECT_RUN(tidy({"-v"}, ""), 0, "", empty);
    // The numbers start in column 55 on every line of the report.
    for (const std::string &r : {clean, unquote, empty}) {
        size_t start = r.find("Cleaning Report:\n");
        ASSERT_NE(start, std::string::npos);
        for (start = r.find('\n', start) + 1; start < r.size(); start = r.find('\n', start) + 1)
            EXPECT_TRUE(isdigit((unsigned char)r[start + 54]) && r[start + 53] == ' ')
                << r.substr(start, 60);
    }
}

TEST(Tidy, ReadErrorsStopWithoutReport) {
    std::string in = "a,b\n1,2\n3,\"4\"x\n5,6\n";
    // The reader's message comes whatever -V says.
    EXPECT_RUN(tidy({"-v"}, in), 1, "a,b\n1,2\n",
               "zelk-tidy: ERROR: record #3, field #2: unescaped double quote char in quoted "
               "field\nzelk-tidy: file:  'standard input'\nzelk-tidy: line 3, byte 14\n");
    EXPECT_RUN(tidy({"-V"}, in), 1, "a,b\n1,2\n",
               "zelk-tidy: ERROR: record #3, field #2: unescaped double quote char in quoted "
               "field\nzelk-tidy: file:  'standard input'\nzelk-tidy: line 3, byte 14\n");
    RunOptions o;
    o.input = in.substr(0, 8);
    o.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool("zelk-tidy", {"-v"}, o), 1, "",
               "zelk-tidy: Error: failed writing output to standard output: No space left on "
               "device\n");
}

// Rewritten fields grow (line breaks shown as four bytes) or are copied (unquoting); a result
// that would pass the 8192-byte field buffer is refused, never written past it.
TEST(Tidy, FieldBufferIsBounded) {
    const std::string limit = "zelk-tidy: ERROR: record #1, field #1: field length exceeded "
                              "MAX_FIELD_LENGTH (8192)\nzelk-tidy: file:  'standard input'\n";
    std::string shown;
    for (int i = 0; i < 2047; i++) shown += "<LF>";
    std::string fits = "\"" + std::string(2047, '\n') + "\"\n";
    std::string over = "\"" + std::string(2048, '\n') + "\"\n";
    EXPECT_RUN(tidy({"-r"}, fits), 0, "\"" + shown + "\"\n", "");
    EXPECT_RUN(tidy({"-r"}, over), 1, "", limit);
    EXPECT_RUN(tidy({"-cr"}, fits), 0, shown + "\n", "");
    EXPECT_RUN(tidy({"-cr"}, over), 1, "", limit);
    EXPECT_RUN(tidy({"-ur"}, over), 1, "", limit);
    // Unquoting: 8191 doubled quotes give a value of 8191 quotes; one more does not fit.
    std::string q8191 = "\"" + std::string(2 * 8191, '"') + "\"\n";
    std::string q8192 = "\"" + std::string(2 * 8192, '"') + "\"\n";
    EXPECT_RUN(tidy({"-u"}, q8191), 0, std::string(8191, '"') + "\n", "");
    EXPECT_RUN(tidy({"-u"}, q8192), 1, "", limit);
    // A long field that needs no rewriting is written whole.
    std::string longq = "\"" + std::string(20000, 'a') + "\"\n";
    EXPECT_RUN(tidy({"-c"}, longq), 0, std::string(20000, 'a') + "\n", "");
    EXPECT_RUN(tidy({"-u"}, longq), 0, std::string(20000, 'a') + "\n", "");
}

TEST(Tidy, OptionsAndUsage) {
    EXPECT_RUN(tidy({"a", "b"}, ""), 1, "", USAGE);
    EXPECT_RUN(tidy({"-z"}, ""), 1, "",
               "zelk-tidy: invalid option -- 'z'\nTry 'zelk-tidy --help' for more information.\n");
    for (auto args : {std::vector<std::string>{"-b", "-B"}, {"-Bb"}})
        EXPECT_RUN(tidy(args, ""), 1, "", "zelk-tidy: Error: -b and -B options not compatible!\n");
    for (auto args : {std::vector<std::string>{"-c", "-u"}, {"-uc"}, {"-ce", "-u"}})
        EXPECT_RUN(tidy(args, ""), 1, "", "zelk-tidy: Error: -c and -u options not compatible!\n");
    for (auto args : {std::vector<std::string>{"-e", "-u"}, {"-ue"}})
        EXPECT_RUN(tidy(args, ""), 1, "", "zelk-tidy: Error: -e and -u options not compatible!\n");
    // The last -s wins.
    EXPECT_RUN(tidy({"-s;", "-s", "|"}, "a,b\n"), 0, "a|b\n", "");
}

// With the comma as separator, fields left as they are go out as runs of the record text; any
// other separator writes field by field. The two ways agree once the separator is a comma
// again, with every kind of field rewritten at the start, middle and end of a record.
TEST(Tidy, RecordRunsAsFieldByField) {
    const std::string in = "a,b,c\n\"x\", y,\"\"\n,\" \",\"q\"\"r\"\n \t,z,\"1\n2\",w\n\nk\n"
                           "\"a,b\",x ,\"c\"\n";
    const std::vector<std::vector<std::string>> opts = {
        {"-c"}, {"-c", "-e"}, {"-c", "-w", "-x"}, {"-c", "-W", "-X", "-r"}, {"-u", "-r"},
        {"-c", "-p", "-d", "-B"}, {"-e", "-p", "-d"}, {}};
    for (auto o : opts) {
        o.push_back("-v");
        RunResult comma = tidy(o, in);
        o.push_back("-s\x01");
        RunResult other = tidy(o, in);
        std::replace(other.out.begin(), other.out.end(), '\x01', ',');
        SCOPED_TRACE(o[0]);
        EXPECT_EQ(comma.status, 0);
        EXPECT_RUN(comma, other.status, other.out, other.err);
    }
}

} // namespace
