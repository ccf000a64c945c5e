// The pipelined AWK exchange: results paired with their records however full the pipes get,
// answers that do not wait for more input, and the record named when the code breaks the one
// result per record rule.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "awk_helpers.h"
#include "harness.h"

namespace {

// Inputs whose values, results or both are larger than a pipe holds (1 MiB), so that awk blocks on
// its output while the program blocks on awk's input, unless neither waits for the other.
std::string pressure_input(const std::string &shape) {
    std::string in = "k,v\n";
    int n = shape == "big" ? 400 : shape == "tiny" ? 300000 : 2000;
    for (int i = 0; i < n; i++) {
        bool big = shape == "big" || (shape == "mix" && i % 7 == 0);
        std::string v = big ? std::string(8000 + i % 180, (char)('a' + i % 26)) : "x";
        in += std::to_string(i) + "," + v + "\n";
    }
    return in;
}

TEST(AwkStream, ResultsStayWithTheirRecordsWhenBothPipesFill) {
    TempDir dir;
    for (const char *shape : {"big", "tiny", "mix"}) {
        std::string in = pressure_input(shape);
        std::string f = dir.file(std::string(shape) + ".csv", in);
        // What a one-at-a-time exchange gives: computed from the input line by line.
        std::string even = "k,v\n", upper = "k,v\n";
        size_t pos = in.find('\n') + 1;
        while (pos < in.size()) {
            size_t nl = in.find('\n', pos);
            std::string line = in.substr(pos, nl - pos);
            size_t comma = line.find(',');
            if (std::stoi(line.substr(0, comma)) % 2 == 0) even += line + "\n";
            std::string v = line.substr(comma + 1);
            for (char &c : v) c = (char)toupper((unsigned char)c);
            upper += line.substr(0, comma) + "," + std::to_string(v.size()) + v + "\n";
            pos = nl + 1;
        }
        for (bool piped : {false, true}) {
            SCOPED_TRACE(std::string(shape) + (piped ? " piped" : " file"));
            RunOptions o;
            o.input = in;
            o.input_pipe = piped;
            EXPECT_RUN(run_tool("zelk-match-rows", {"$1 % 2 == 0"}, o), 0, even, "");
            EXPECT_RUN(run_tool("zelk-match-expr", {"1", "$0 % 2 == 0"}, o), 0, even, "");
            EXPECT_RUN(run_tool("zelk-script-column", {"-e{$0 = length($0) toupper($0)}", "2"}, o),
                       0, upper, "");
        }
    }
}

TEST(AwkStream, SkippedResultIsNamedFarIntoTheInput) {
    std::string in;
    for (int i = 1; i <= 100000; i++) in += std::to_string(i) + "\n";
    std::string head = in.substr(0, in.find("\n50000\n") + 1);
    EXPECT_RUN(run_tool("zelk-script-column", {"-h", "-e", "NR == 50000 { next } {}", "1"}, in), 1,
               head,
               "zelk-script-column: ERROR: AWK gave no result for record #50000: the code must not "
               "skip the final print (no next, no getline)\n");
    EXPECT_RUN(run_tool("zelk-match-expr", {"-h", "1", "NR == 50000 ? getline : 1"}, in), 1, head,
               "zelk-match-expr: ERROR: AWK gave no result for record #50000: the code must not "
               "skip the final print (no next, no getline)\n");
}

TEST(AwkStream, CodeThatPrintsIsReportedTheSameWayEveryTime) {
    std::string in = "h\n";
    for (int i = 1; i <= 5000; i++) in += std::to_string(i) + "\n";
    const std::string why = " (the code must leave its result in the value, not print it)\n";
    struct Case {
        std::string tool;
        std::vector<std::string> args;
        std::string out;
        std::string err;
    } cases[] = {
        {"zelk-match-expr", {"1", "$0 == 3000 ? system(\"echo hi\") : 1"}, "", "record #3001"},
        {"zelk-match-rows", {"-q", "$1 == 7 && system(\"printf x\") || 1"}, "", "record #8"},
        {"zelk-script-column", {"-e", "$0 == 2 { print \"p\" } {}", "1"}, "h\n1\n", "record #3"},
        {"zelk-script-column", {"-e", "{} END { print \"done\" }", "1"}, "", "record #5001"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tool + " " + c.args.back());
        RunResult first = run_tool(c.tool, c.args, in);
        EXPECT_EQ(first.status, 1);
        EXPECT_EQ(first.err, c.tool + ": ERROR: AWK code printed to standard output at " + c.err + why);
        if (!c.out.empty()) {
            EXPECT_EQ(first.out, c.out);
        }
        for (int run = 0; run < 3; run++) {
            RunResult again = run_tool(c.tool, c.args, in);
            EXPECT_EQ(again.out, first.out);
            EXPECT_EQ(again.err, first.err);
        }
    }
}

TEST(AwkStream, AnyValueTravelsBothWays) {
    // A record of two empty fields is a value like any other; results may hold the framing
    // bytes and their escape.
    EXPECT_RUN(run_tool("zelk-match-rows", {"-h", "1"}, "a,b\n,\nx,y\n"), 0, "a,b\n,\nx,y\n", "");
    EXPECT_RUN(run_tool("zelk-script-rows", {"-h", "-e{}"}, "a,b\n,\nx,y\n"), 0, "a,b\n,\nx,y\n",
               "");
    EXPECT_RUN(run_tool("zelk-script-column", {"-e", "{$0 = $0 \"\\030\\032\\001\" $0}", "1"},
                        "h\nab\nc\n"),
               0, "h\nab\x18\x1a\x01" "ab\nc\x18\x1a\x01" "c\n", "");
    // An escape at every place in a result from its first byte to past the shortest step's
    // reach.
    std::string in = "h\n", want = "h\n";
    const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
    for (int i = 0; i < 40; i++) {
        in += "r" + std::to_string(i) + "\n";
        want += letters.substr(0, (size_t)i) + "\x18r" + std::to_string(i) + "\n";
    }
    EXPECT_RUN(run_tool("zelk-script-column",
                        {"-e", "{$0 = substr(\"" + letters + "\", 1, NR - 1) \"\\030\" $0}", "1"},
                        in),
               0, want, "");
}

// A field too long to copy ends the run, but only after the records before it have had their
// results: far into the input, most of them are still on their way through awk.
TEST(AwkStream, OverlongFieldEndsTheRunAfterTheRecordsBeforeIt) {
    std::string before = "k,v\n";
    for (int i = 0; i < 3000; i++) before += std::to_string(i) + ",1\n";
    std::string in = before + "x," + std::string(8192, 'y') + "\n9,1\n";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"zelk-match-expr", {"2", "1"}},
        {"zelk-script-column", {"-e{}", "2"}},
    };
    for (const auto &[tool, args] : cases) {
        SCOPED_TRACE(tool);
        EXPECT_RUN(run_tool(tool, args, in), 1, before,
                   tool + ": ERROR: record #3002, field #2: field length exceeded "
                          "MAX_FIELD_LENGTH (8192)\n" + tool + ": file:  'standard input'\n");
    }
}

TEST(AwkStream, AnswersDoNotWaitForMoreInput) {
    struct Case {
        std::string tool;
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {"zelk-match-expr", {"2", "$0 > 1"}, "k,v\na,2\n"},
        {"zelk-match-rows", {"$2 > 1"}, "k,v\na,2\n"},
        {"zelk-script-column", {"-e{$0 = $0 * 10}", "2"}, "k,v\na,20\n"},
        {"zelk-script-rows", {"-e{$2 = $2 * 10}"}, "k,v\na,20\n"},
        // Code that names getline has awk flush every record instead.
        {"zelk-script-rows", {"-e$2 == 7 { getline } {$2 = $2 * 10}"}, "k,v\na,20\n"},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.tool);
        Live p(c.tool, c.args);
        ASSERT_GT(p.pid, 0);
        std::string rec = "k,v\na,2\n";
        ASSERT_EQ(write(p.in, rec.data(), rec.size()), (ssize_t)rec.size());
        EXPECT_EQ(p.read_for(c.out, 8), c.out);
        EXPECT_EQ(p.finish(), 0);
    }
}

TEST(AwkStream, CodeFilesOnStandardInputAreRefused) {
    // awk would wait for the rest of its program on the pipe that is to carry the records.
    TempDir dir;
    std::string to_stdin = dir.join("to-stdin"), to_lib = dir.join("to-lib");
    std::string lib = dir.file("lib.awk", "function twice(x) { return 2 * x }\n");
    ASSERT_EQ(symlink("/dev/stdin", to_stdin.c_str()), 0);
    ASSERT_EQ(symlink(lib.c_str(), to_lib.c_str()), 0);
    const std::vector<std::string> commands[] = {
        {"zelk-match-expr", "-l", "FILE", "1", "1"},
        {"zelk-match-rows", "-l", "FILE", "1"},
        {"zelk-script-column", "-e{}", "-l", "FILE", "1"},
        {"zelk-script-rows", "-f", "FILE"},
    };
    for (const std::vector<std::string> &cmd : commands) {
        for (const std::string &file : std::vector<std::string>{
                 "-", "/dev/stdin", "/dev/fd/0", "/proc/self/fd/0", "//dev/./fd/0", to_stdin}) {
            SCOPED_TRACE(cmd[0] + " " + file);
            std::vector<std::string> args(cmd.begin() + 1, cmd.end());
            std::replace(args.begin(), args.end(), std::string("FILE"), file);
            RunOptions o;
            o.input = "h\n1\n";
            o.input_pipe = true;
            EXPECT_RUN(run_tool(cmd[0], args, o), 1, "",
                       cmd[0] + ": ERROR: AWK code file '" + file +
                           "' is standard input, which carries the records to AWK\n");
        }
    }
    // A link to a plain file is read as usual.
    EXPECT_RUN(run_tool("zelk-match-expr", {"-l", to_lib, "1", "twice($0)==2"}, "h\n1\n2\n"), 0,
               "h\n1\n", "");
}

TEST(AwkStream, BrokenOutputEndsQuietlyWithTheChild) {
    TempDir dir;
    std::string big;
    for (int i = 0; i < 200000; i++) big += std::to_string(i % 1000) + "," + std::to_string(i) + "\n";
    std::string f = dir.file("big.csv", big);
    std::string marker = dir.file("marker-broken.awk", "");
    const char *commands[] = {
        "zelk-concat", // the others must end as this one does
        "zelk-order -n 2",
        "zelk-order-keys -k2n",
        "zelk-match-expr -l MARKER 2 1",
        "zelk-match-rows -l MARKER 1",
        "zelk-script-column -l MARKER -e{} 2",
        "zelk-script-rows -l MARKER -e{}",
    };
    std::string expected_status;
    for (std::string cmd : commands) {
        SCOPED_TRACE(cmd);
        size_t m = cmd.find("MARKER");
        if (m != std::string::npos) cmd.replace(m, 6, marker);
        RunResult r = run_shell("{ " + cmd + " " + f + " 2>" + dir.join("err") + "; echo $? >" +
                                dir.join("st") + "; } | head -1");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(read_file(dir.join("err")), "");
        std::string st = read_file(dir.join("st"));
        if (expected_status.empty()) expected_status = st;
        EXPECT_EQ(st, expected_status);
        EXPECT_FALSE(process_with_argument_exists(marker));
    }
    EXPECT_EQ(expected_status, "141\n");
}

} // namespace
