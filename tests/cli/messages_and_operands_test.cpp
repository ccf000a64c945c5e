// Messages that say where a failure arose and what they echo, file operands, and delimiter
// operands: cases that cut across programs.
#include <cctype>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "harness.h"

namespace {

// A field that outgrows the field buffer is named by record, field and input, in every
// program that copies or rewrites fields.
TEST(FieldLengthMessage, NamesRecordFieldAndFile) {
    TempDir dir;
    const std::string big(8192, 'x');
    const std::string f = dir.file("big.csv", "a,b\n1,2\n3," + big + "\n");
    const std::string lf = dir.file("lf.csv", "a,b\n1,\"" + std::string(2048, '\n') + "\"\n");
    struct Case {
        std::string tool;
        std::vector<std::string> args;
        std::string where;
    } cases[] = {
        {"zelk-setcell", {"3", "2", "v", f}, "record #3, field #2"},
        {"zelk-subst", {"2", "x", "y", f}, "record #3, field #2"},
        {"zelk-order", {"2", f}, "record #3, field #2"},
        {"zelk-dedupe", {"2", f}, "record #3, field #2"},
        {"zelk-timestamp", {"2", "%Y", "%Y", f}, "record #3, field #2"},
        {"zelk-match", {"2", "x", f}, "record #3, field #2"},
        {"zelk-tidy", {"-r", lf}, "record #2, field #2"},
        {"zelk-to-delim", {"-r", ";", lf}, "record #2, field #2"},
        {"zelk-next-cell", {"2"}, "record #1, field #2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tool);
        RunOptions o;
        if (c.tool == "zelk-next-cell") o.input = "3," + big + "\n";
        RunResult r = run_tool(c.tool, c.args, o);
        std::string file = c.tool == "zelk-next-cell" ? "standard input" : c.args.back();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.tool + ": ERROR: " + c.where +
                             ": field length exceeded MAX_FIELD_LENGTH (8192)\n" + c.tool +
                             ": file:  '" + file + "'\n"),
                  std::string::npos)
            << r.err;
    }
}

// A refused record's third line says where the byte at fault lies, counted from the start of
// the file in lines and bytes from 1: after CR LF ends and line breaks inside quotes, at the
// quote that opened a field never closed (at the end of the input where the record is skipped
// unread), and not at all for a pipe, whose bytes are gone.
TEST(ReaderErrorPlace, LineAndByteOfTheFault) {
    struct Case {
        std::string tool, in, out, what, at;
        bool pipe = false;
    } cases[] = {
        {"zelk-columns", "a,b\r\n\"x\r\ny\",z\"\n", "a\n",
         "record #2, field #2: double-quote in unquoted field", "line 3, byte 14"},
        {"zelk-columns", "\xEF\xBB\xBF\"a\nb\n", "",
         "record #1, field #1: quoted field not closed by double quote", "line 1, byte 4"},
        {"zelk-columns", "a\nb\rc\n", "a\n", "record #2: carriage return not in quoted field",
         "line 2, byte 4"},
        {"zelk-columns", "a\n\"b\"c\n", "a\n",
         "record #2, field #1: unescaped double quote char in quoted field", "line 2, byte 6"},
        {"zelk-row-tally", "a\n\"b\nc", "",
         "record #2, field #1: quoted field not closed by double quote", "line 3, byte 7"},
        {"zelk-columns", "a\n\"b\"c\n", "a\n",
         "record #2, field #1: unescaped double quote char in quoted field", "", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tool + " on " + c.in);
        std::vector<std::string> args;
        if (c.tool == "zelk-columns") args = {"1"};
        EXPECT_RUN(run_tool(c.tool, args, with_input(c.in, c.pipe)), 1, c.out,
                   read_error(c.tool, c.what, "standard input", c.at));
    }
}

// The warning about a last record without its terminator names the input, so that with
// several inputs each warning says which one.
TEST(UnterminatedWarning, NamesTheFile) {
    TempDir dir;
    std::string a = dir.file("a.csv", "h\n1");
    std::string b = dir.file("b.csv", "h\n2");
    EXPECT_RUN(run_tool("zelk-concat", {a, b}), 0, "h\n1\n2\n",
               "zelk-concat: Warning: final record not terminated: file '" + a +
                   "'\nzelk-concat: Warning: final record not terminated: file '" + b + "'\n");
    EXPECT_RUN(run_tool("zelk-row-tally", {"-v", a}), 0, "2\n",
               "zelk-row-tally: Warning: final record not terminated: file '" + a + "'\n");
}

// What a message echoes (a field's value, a file name, a field name, an option or its
// argument) shows its control bytes as octal escapes: no input can send ESC, BEL or CR to the
// terminal, nor start a line of its own that would pass for another message.
TEST(MessageEscapes, NoControlByteOfInputReachesTheTerminal) {
    TempDir dir;
    const std::string odd = dir.join("x\033[2J\r.csv");
    struct Case {
        std::string tool;
        std::vector<std::string> args;
        std::string input;
        std::string shown;
    } cases[] = {
        {"zelk-order", {"-d", "1"}, "h1,h2\n\033]0;PWN\007,2\n", "'\\033]0;PWN\\007'"},
        {"zelk-order", {"-d", "1"}, "h\n\xc2\x9b" "31m\x7f\n", "'\\302\\23331m\\177'"},
        {"zelk-timestamp", {"1", "%Y", "%Y"}, "d\n\"x\n\033[31m\"\n", "'x\\012\\033[31m'"},
        {"zelk-range", {"1"}, "n\n\"1\r\"\n", "'\"1\\015\"'"},
        {"zelk-concat", {odd}, "", "x\\033[2J\\015.csv': No such file or directory"},
        {"zelk-match", {"-Q", "na\tme", "x"}, "h\nv\n", "FIELD name 'na\\011me' not found"},
        {"zelk-rows", {"-n", "5\033[1m", "1"}, "", ": 5\\033[1m (includes non-digits)"},
        {"zelk-concat", {"-\x7f"}, "", "invalid option -- '\\177'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tool + " " + c.args.front());
        RunResult r = run_tool(c.tool, c.args, c.input);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.shown), std::string::npos) << r.err;
        for (unsigned char b : r.err) EXPECT_TRUE(b == '\n' || (b >= 0x20 && b != 0x7f)) << (int)b;
        EXPECT_EQ(r.err.find("\xc2\x9b"), std::string::npos);
        // Every line is a message of the program's own or its pointer to --help.
        for (size_t i = 0, end; i < r.err.size(); i = end + 1) {
            end = r.err.find('\n', i);
            ASSERT_NE(end, std::string::npos) << "unended line: " << r.err.substr(i);
            EXPECT_TRUE(r.err.compare(i, c.tool.size() + 2, c.tool + ": ") == 0 ||
                        r.err.compare(i, 5, "Try '") == 0)
                << r.err.substr(i);
        }
    }
}

// errorf is what escapes a message's arguments: no source writes a message through the C
// library's own writers, which would pass them raw.
TEST(MessageEscapes, EveryMessageGoesThroughErrorf) {
    const char *const raw_writers[] = {"error(",    "verror(",  "error_at_line(", "perror(",
                                       "warn(",     "warnx(",   "vwarn(",         "vwarnx(",
                                       "err(",      "errx(",    "verr(",          "verrx(",
                                       "vfprintf(", "dprintf(", "vdprintf("};
    auto calls = [](const std::string &line, const std::string &call) {
        for (size_t i = line.find(call); i != std::string::npos; i = line.find(call, i + 1)) {
            char before = i > 0 ? line[i - 1] : ' ';
            if (!isalnum((unsigned char)before) && !strchr("_.>", before)) return true;
        }
        return false;
    };
    for (const char *top : {"lib", "tools"}) {
        for (const auto &e : std::filesystem::recursive_directory_iterator(
                 std::string(ZELK_SOURCE_DIR) + "/" + top)) {
            std::string ext = e.path().extension().string();
            if (ext != ".cpp" && ext != ".h") continue;
            std::istringstream text(read_file(e.path().string()));
            int n = 0;
            for (std::string line; std::getline(text, line);) {
                n++;
                size_t code = line.find_first_not_of(' ');
                if (code != std::string::npos && line.compare(code, 2, "//") == 0) continue;
                for (const char *call : raw_writers)
                    if (calls(line, call))
                        ADD_FAILURE() << e.path().string() << ":" << n << ": " << line;
            }
        }
    }
}

// "-" as a file operand is standard input, wherever a program takes file operands.
TEST(DashOperand, IsStandardInput) {
    TempDir dir;
    std::string a = dir.file("a.csv", "id,v\n1,x\n");
    const std::string in = "id,v\n2,y\n";
    struct Case {
        std::string tool;
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {"zelk-concat", {a, "-"}, "id,v\n1,x\n2,y\n"},
        {"zelk-row-tally", {"-v", "-"}, "2\n"},
        {"zelk-range", {"1", "-"}, in},
        {"zelk-match", {"2", "y", "-"}, in},
        {"zelk-columns", {"2", "-"}, "v\ny\n"},
        {"zelk-tidy", {"-"}, in},
        {"zelk-lint", {"-"}, ""},
        {"zelk-from-delim", {";", "-"}, "\"id,v\"\n\"2,y\"\n"},
        {"zelk-to-delim", {";", "-"}, "id;v\n2;y\n"},
        {"zelk-merge", {"-a", "1", "-", "1", a}, "id,v,id,v\n2,y,,\n"},
        {"zelk-beside", {a, "-"}, "id,v,id,v\n1,x,2,y\n"},
        {"zelk-colnum", {"v", "-"}, "2"},
        {"zelk-colnum", {"v"}, "2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tool + " " + c.args.front());
        RunResult r = run_tool(c.tool, c.args, in);
        EXPECT_EQ(r.status, 0) << r.err;
        if (c.tool != "zelk-lint") {
            EXPECT_EQ(r.out, c.out);
        }
        EXPECT_EQ(r.err.find("'-'"), std::string::npos) << r.err;
    }
}

// Delimiters given as numeric escapes; delimiters that could not come back as the same
// fields are refused.
TEST(DelimiterOperand, NumericEscapesAndRefusedBytes) {
    EXPECT_RUN(run_tool("zelk-from-delim", {"\\x1f"},
                        "a\x1f"
                        "b\n"),
               0, "a,b\n", "");
    EXPECT_RUN(run_tool("zelk-from-delim", {"\\037"},
                        "a\x1f"
                        "b\n"),
               0, "a,b\n", "");
    EXPECT_RUN(run_tool("zelk-to-delim", {"\\x7C"}, "a,b\n"), 0, "a|b\n", "");
    EXPECT_RUN(run_tool("zelk-to-delim", {"\\11"}, "a,b\n"), 0, "a\tb\n", "");
    for (const char *bad : {"\\400", "\\xZ"})
        EXPECT_RUN(run_tool("zelk-from-delim", {bad}, "a\n"), 1, "",
                   "zelk-from-delim: ERROR: DSV_DELIMITER_CHAR is invalid C-style "
                   "escape-sequence\n");
    EXPECT_RUN(run_tool("zelk-from-delim", {"\\x123"}, "a\n"), 1, "",
               "zelk-from-delim: ERROR: DSV_DELIMITER_CHAR must be a single char\n");
    for (const char *bad : {"\\n", "\\r", "\\x0a", "\\015"})
        EXPECT_RUN(run_tool("zelk-from-delim", {bad}, "a\nb\n"), 1, "",
                   "zelk-from-delim: ERROR: DSV_DELIMITER_CHAR cannot be a line feed or a "
                   "carriage return (they end records)\n");
    for (const char *bad : {"\"", "\\n", "\\r", "\\x22"})
        EXPECT_RUN(run_tool("zelk-to-delim", {bad}, "a,b\n"), 1, "",
                   "zelk-to-delim: ERROR: DSV_DELIMITER_CHAR cannot be a line feed, a carriage "
                   "return or a double quote (the output could not be read back)\n");
}

} // namespace

namespace {

// An empty input makes these programs fail, and each says why; the selecting programs keep the
// grep convention of a silent status 1 for "nothing selected".
TEST(EmptyInput, FailureComesWithAMessage) {
    const std::vector<std::vector<std::string>> runs = {
        {"zelk-columns", "1"},
        {"zelk-order", "1"},
        {"zelk-order-keys", "-k1"},
        {"zelk-table"},
        {"zelk-subst", "1", "a", "b"},
        {"zelk-timestamp", "1", "%Y", "%Y"},
        {"zelk-script-column", "-e", "{}", "1"},
        {"zelk-script-rows", "-e", "{print}"},
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(run[0]);
        std::vector<std::string> args(run.begin() + 1, run.end());
        EXPECT_RUN(run_tool(run[0], args, ""), 1, "",
                   run[0] + ": ERROR: CSVFILE 'standard input' is empty\n");
    }
    EXPECT_RUN(run_tool("zelk-match", {"1", "x"}, ""), 1, "", "");
    EXPECT_RUN(run_tool("zelk-match-rows", {"1"}, ""), 1, "", "");
}

// Usage texts promise only what exists.
TEST(UsageTexts, PromiseOnlyWhatExists) {
    for (const char *tool : {"zelk-order", "zelk-order-keys"}) {
        std::string usage = run_tool(tool, {"--help"}).out;
        EXPECT_EQ(usage.find("-l option"), std::string::npos) << tool;
    }
    for (const char *tool : {"zelk-match", "zelk-match-expr", "zelk-match-rows"}) {
        std::string usage = run_tool(tool, {"--help"}).out;
        EXPECT_NE(usage.find("  -n -- prefix each output record with its 1-based record number\n"),
                  std::string::npos)
            << tool;
    }
    EXPECT_RUN(run_tool("zelk-table", {"-n", "x"}, ""), 1, "",
               "zelk-table: Invalid value for -nNUMRECS: x (does not represent an integer)\n");
}

} // namespace
