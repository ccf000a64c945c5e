// What every program does the same way, run over all of them: the usage text on "--help"
// (compared with its golden file in tests/data/usage), an unknown option, an option without
// its argument, an input file that cannot be opened, an empty input, and output that cannot be
// written.
#include <filesystem>
#include <ostream>
#include <set>

#include "harness.h"

namespace {

struct Program {
    const char *name;
    char arg_option;               // an option that takes an argument; 0 when there is none
    std::vector<std::string> args; // a valid run; "@" stands for the input file
    const char *open_error;        // the message for an unopenable "@"; null: standard input only
    // The valid run on an empty input: its status and message ("@" the input's name; null for
    // none). A program that needs the header says so, with EMPTY.
    int empty_status;
    const char *empty_error;
    // The valid run naming FIELD "h" with -Q, for the programs that take it; an empty input is
    // then always EMPTY.
    std::vector<std::string> named = {};
};

const char *const CSVFILE = "ERROR: failed opening CSVFILE '@': No such file or directory";
const char *const CSVFILE1 = "ERROR: failed opening CSVFILE1 '@': No such file or directory";
const char *const EMPTY = "ERROR: CSVFILE '@' is empty";
const char *const EMPTY_WARNING = "Warning: CSVFILE '@' is empty";
const char *const EMPTY1 = "Warning: CSVFILE1 '@' is empty";

const Program PROGRAMS[] = {
    {"zelk-beside", 's', {"@", "@"}, CSVFILE1, 1, EMPTY1},
    {"zelk-colnum", 0, {"h", "@"}, CSVFILE, 1, EMPTY},
    {"zelk-columns", 's', {"1", "@"}, CSVFILE, 1, EMPTY, {"-Q", "h", "@"}},
    {"zelk-concat", 0, {"@"}, CSVFILE, 0, nullptr},
    {"zelk-dedupe", 0, {"1", "@"}, CSVFILE, 1, "Warning: no records to process",
     {"-Q", "h", "@"}},
    {"zelk-from-delim", 0, {";", "@"},
     "ERROR: failed opening DSVFILE '@': No such file or directory", 0, nullptr},
    {"zelk-lint", 0, {"@"}, CSVFILE, 0, EMPTY_WARNING},
    {"zelk-match", 'f', {"1", ".", "@"}, CSVFILE, 1, nullptr, {"-Q", "h", ".", "@"}},
    {"zelk-match-expr", 'm', {"1", "$0 > 0", "@"}, CSVFILE, 1, nullptr,
     {"-Q", "h", "$0 > 0", "@"}},
    {"zelk-match-rows", 'm', {"1", "@"}, CSVFILE, 1, nullptr},
    // With -Q too, a two-file program names the empty file as CSVFILE1 or CSVFILE2.
    {"zelk-merge", 's', {"1", "@", "1", "@"}, CSVFILE1, 1, EMPTY1},
    {"zelk-next-cell", 0, {"1"}, nullptr, 1, nullptr},
    {"zelk-next-row", 0, {}, nullptr, 1, nullptr},
    {"zelk-order", 'D', {"1", "@"}, CSVFILE, 1, EMPTY, {"-Q", "h", "@"}},
    {"zelk-order-keys", 'k', {"-k1", "@"}, CSVFILE, 1, EMPTY},
    {"zelk-range", 'm', {"-m0", "1", "@"},
     "Error: failed opening CSVFILE '@': No such file or directory", 0, nullptr,
     {"-Q", "-m0", "h", "@"}},
    {"zelk-row-tally", 0, {"@"}, CSVFILE, 0, nullptr},
    {"zelk-rows", 'n', {"1", "@"}, CSVFILE, 1, EMPTY_WARNING},
    {"zelk-script-column", 'e', {"-e", "{}", "1", "@"}, CSVFILE, 1, EMPTY,
     {"-Q", "-e", "{}", "h", "@"}},
    {"zelk-script-rows", 'e', {"-e", "{}", "@"}, CSVFILE, 1, EMPTY},
    {"zelk-setcell", 0, {"2", "1", "v", "@"}, CSVFILE, 1,
     "ERROR: CSVFILE '@' has less than RECORD (2) records"},
    {"zelk-show", 'n', {"1", "@"}, CSVFILE, 1, EMPTY_WARNING},
    {"zelk-subst", 0, {"1", ".", "v", "@"}, CSVFILE, 1, EMPTY, {"-Q", "h", ".", "v", "@"}},
    {"zelk-table", 'w', {"@"}, CSVFILE, 1, EMPTY},
    {"zelk-tidy", 's', {"@"}, CSVFILE, 0, EMPTY_WARNING},
    {"zelk-timestamp", 0, {"1", "%Y", "%Y", "@"}, CSVFILE, 1, EMPTY,
     {"-Q", "h", "%Y", "%Y", "@"}},
    {"zelk-to-delim", 0, {";", "@"}, CSVFILE, 0, nullptr},
    {"zelk-width-tally", 'f', {"@"}, CSVFILE, 1, "Warning: CSVFILE is empty"},
};

void PrintTo(const Program &p, std::ostream *os) { *os << p.name; }

std::string with_path(std::string s, const std::string &path) {
    for (size_t i; (i = s.find('@')) != std::string::npos;) s.replace(i, 1, path);
    return s;
}

std::vector<std::string> args_with(const Program &p, const std::string &path) {
    std::vector<std::string> a;
    for (const std::string &s : p.args) a.push_back(s == "@" ? path : s);
    return a;
}

std::string try_line(const Program &p) {
    return std::string("Try '") + p.name + " --help' for more information.\n";
}

class Conventions : public ::testing::TestWithParam<Program> {
  protected:
    TempDir dir;
    const std::string input = "h,k\n2024,2\n2025,4\n";
    const std::string file = dir.file("in.csv", input);
};

TEST_P(Conventions, HelpPrintsTheUsageText) {
    const Program &p = GetParam();
    EXPECT_RUN(run_tool(p.name, {"--help"}), 1, "", usage_text(p.name));
}

TEST_P(Conventions, UnknownOptionPointsToHelp) {
    const Program &p = GetParam();
    EXPECT_RUN(run_tool(p.name, {"-@"}), 1, "",
               std::string(p.name) + ": invalid option -- '@'\n" + try_line(p));
}

TEST_P(Conventions, MissingOptionArgumentPointsToHelp) {
    const Program &p = GetParam();
    if (!p.arg_option) GTEST_SKIP() << p.name << " has no option that takes an argument";
    std::string opt = std::string("-") + p.arg_option;
    EXPECT_RUN(run_tool(p.name, {opt}), 1, "",
               std::string(p.name) + ": option requires an argument -- '" + p.arg_option +
                   "'\n" + try_line(p));
}

TEST_P(Conventions, UnopenableFileIsAnError) {
    const Program &p = GetParam();
    if (!p.open_error) GTEST_SKIP() << p.name << " reads standard input only";
    std::string missing = dir.join("missing.csv");
    EXPECT_RUN(run_tool(p.name, args_with(p, missing), input), 1, "",
               std::string(p.name) + ": " + with_path(p.open_error, missing) + "\n");
}

// An empty file and an empty standard input ("-", or no operand), for the valid run and the
// run with -Q: a program that needs the header says the input is empty.
TEST_P(Conventions, EmptyInput) {
    const Program &p = GetParam();
    const std::string empty = dir.file("empty.csv", "");
    for (bool named : {false, true}) {
        if (named && p.named.empty()) continue;
        const std::vector<std::string> &args = named ? p.named : p.args;
        const char *want = named ? EMPTY : p.empty_error;
        int status = named ? 1 : p.empty_status;
        for (const std::string &path : {empty, std::string("-")}) {
            std::vector<std::string> a;
            for (const std::string &s : args) a.push_back(s == "@" ? path : s);
            std::string name = path == "-" ? "standard input" : path;
            SCOPED_TRACE((named ? "-Q, " : "") + name);
            RunResult r = run_tool(p.name, a, "");
            EXPECT_EQ(r.err, want ? std::string(p.name) + ": " + with_path(want, name) + "\n"
                                  : std::string());
            EXPECT_EQ(r.status, status);
        }
    }
}

TEST_P(Conventions, FailedWriteIsAnError) {
    const Program &p = GetParam();
    RunOptions o;
    o.input = input;
    o.stdout_path = "/dev/full";
    RunResult r = run_tool(p.name, args_with(p, file), o);
    EXPECT_EQ(r.err, std::string(p.name) +
                         ": Error: failed writing output to standard output: No space left on "
                         "device\n");
    EXPECT_EQ(r.status, 1);
    // The same run with somewhere to write succeeds.
    EXPECT_EQ(run_tool(p.name, args_with(p, file), input).status, 0);
}

INSTANTIATE_TEST_SUITE_P(AllPrograms, Conventions, ::testing::ValuesIn(PROGRAMS),
                         [](const ::testing::TestParamInfo<Program> &info) {
                             std::string n = info.param.name + 5; // without "zelk-"
                             for (char &c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

TEST(Conventions, EveryProgramIsInTheTable) {
    std::set<std::string> built, listed;
    for (const auto &e : std::filesystem::directory_iterator(ZELK_TOOLS_DIR)) {
        std::string n = e.path().filename().string();
        if (n.rfind("zelk-", 0) == 0 && e.is_regular_file()) built.insert(n);
    }
    for (const Program &p : PROGRAMS) listed.insert(p.name);
    EXPECT_EQ(built, listed);
}

} // namespace
