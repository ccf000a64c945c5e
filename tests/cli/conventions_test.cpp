// What every program does the same way, run over all of them: the usage text on "--help"
// (compared with its golden file in tests/data/usage), an unknown option, an option without
// its argument, an input file that cannot be opened, and output that cannot be written.
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
};

const char *const CSVFILE = "ERROR: failed opening CSVFILE '@': No such file or directory";
const char *const CSVFILE1 = "ERROR: failed opening CSVFILE1 '@': No such file or directory";

const Program PROGRAMS[] = {
    {"zelk-beside", 's', {"@", "@"}, CSVFILE1},
    {"zelk-colnum", 0, {"h", "@"}, CSVFILE},
    {"zelk-columns", 's', {"1", "@"}, CSVFILE},
    {"zelk-concat", 0, {"@"}, CSVFILE},
    {"zelk-dedupe", 0, {"1", "@"}, CSVFILE},
    {"zelk-from-delim", 0, {";", "@"},
     "ERROR: failed opening DSVFILE '@': No such file or directory"},
    {"zelk-lint", 0, {"@"}, CSVFILE},
    {"zelk-match", 'f', {"1", ".", "@"}, CSVFILE},
    {"zelk-match-expr", 'm', {"1", "$0 > 0", "@"}, CSVFILE},
    {"zelk-match-rows", 'm', {"1", "@"}, CSVFILE},
    {"zelk-merge", 's', {"1", "@", "1", "@"}, CSVFILE1},
    {"zelk-next-cell", 0, {"1"}, nullptr},
    {"zelk-next-row", 0, {}, nullptr},
    {"zelk-order", 'D', {"1", "@"}, CSVFILE},
    {"zelk-order-keys", 'k', {"-k1", "@"}, CSVFILE},
    {"zelk-range", 'm', {"-m0", "1", "@"},
     "Error: failed opening CSVFILE '@': No such file or directory"},
    {"zelk-row-tally", 0, {"@"}, CSVFILE},
    {"zelk-rows", 'n', {"1", "@"}, CSVFILE},
    {"zelk-script-column", 'e', {"-e", "{}", "1", "@"}, CSVFILE},
    {"zelk-script-rows", 'e', {"-e", "{}", "@"}, CSVFILE},
    {"zelk-setcell", 0, {"2", "1", "v", "@"}, CSVFILE},
    {"zelk-show", 'n', {"1", "@"}, CSVFILE},
    {"zelk-subst", 0, {"1", ".", "v", "@"}, CSVFILE},
    {"zelk-table", 'w', {"@"}, CSVFILE},
    {"zelk-tidy", 's', {"@"}, CSVFILE},
    {"zelk-timestamp", 0, {"1", "%Y", "%Y", "@"}, CSVFILE},
    {"zelk-to-delim", 0, {";", "@"}, CSVFILE},
    {"zelk-width-tally", 'f', {"@"}, CSVFILE},
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
