// What every program does the same way, run over all of them: the usage text on "--help"
// (compared with its golden file in tests/data/usage) and after a wrong invocation, an unknown
// option, an option without its argument, an input file that cannot be opened, an empty input,
// and output that cannot be written; how the programs that run a child end on a termination
// signal; that what the programs write reads back as written; and that every place naming the
// programs names those of tools/programs.txt.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"
#include "program_list.h"

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
    {"zelk-group", 0, {"1", "count", "@"}, CSVFILE, 1, EMPTY, {"-Q", "h", "count", "@"}},
    {"zelk-lint", 0, {"@"}, CSVFILE, 0, EMPTY_WARNING},
    {"zelk-match", 'f', {"1", ".", "@"}, CSVFILE, 1, nullptr, {"-Q", "h", ".", "@"}},
    {"zelk-match-expr", 'm', {"1", "$0 > 0", "@"}, CSVFILE, 1, nullptr,
     {"-Q", "h", "$0 > 0", "@"}},
    {"zelk-match-rows", 'm', {"1", "@"}, CSVFILE, 1, nullptr,
     {"-Q", "$zelk_col(\"h\") != 1", "@"}},
    // With -Q too, a two-file program names the empty file as CSVFILE1 or CSVFILE2.
    {"zelk-merge", 's', {"1", "@", "1", "@"}, CSVFILE1, 1, EMPTY1},
    {"zelk-next-cell", 0, {"1"}, nullptr, 1, nullptr},
    {"zelk-next-row", 0, {}, nullptr, 1, nullptr},
    {"zelk-order", 'D', {"1", "@"}, CSVFILE, 1, EMPTY, {"-Q", "h", "@"}},
    {"zelk-order-keys", 'k', {"-k1", "@"}, CSVFILE, 1, EMPTY, {"-Q", "-khr", "@"}},
    {"zelk-range", 'm', {"-m0", "1", "@"},
     "Error: failed opening CSVFILE '@': No such file or directory", 0, nullptr,
     {"-Q", "-m0", "h", "@"}},
    {"zelk-row-tally", 0, {"@"}, CSVFILE, 0, nullptr},
    {"zelk-rows", 'n', {"1", "@"}, CSVFILE, 1, EMPTY_WARNING},
    {"zelk-script-column", 'e', {"-e", "{}", "1", "@"}, CSVFILE, 1, EMPTY,
     {"-Q", "-e", "{}", "h", "@"}},
    {"zelk-script-rows", 'e', {"-e", "{}", "@"}, CSVFILE, 1, EMPTY,
     {"-Q", "-e", "{$zelk_col(\"h\") = 1}", "@"}},
    {"zelk-setcell", 0, {"2", "1", "v", "@"}, CSVFILE, 1,
     "ERROR: CSVFILE '@' has less than RECORD (2) records", {"-Q", "2", "h", "v", "@"}},
    {"zelk-show", 'n', {"1", "@"}, CSVFILE, 1, EMPTY_WARNING},
    {"zelk-subst", 0, {"1", ".", "v", "@"}, CSVFILE, 1, EMPTY, {"-Q", "h", ".", "v", "@"}},
    {"zelk-table", 'w', {"@"}, CSVFILE, 1, EMPTY},
    {"zelk-tidy", 's', {"@"}, CSVFILE, 0, EMPTY_WARNING},
    {"zelk-timestamp", 0, {"1", "%Y", "%Y", "@"}, CSVFILE, 1, EMPTY,
     {"-Q", "h", "%Y", "%Y", "@"}},
    {"zelk-to-delim", 0, {";", "@"}, CSVFILE, 0, nullptr},
    {"zelk-to-json", 0, {"@"}, CSVFILE, 0, nullptr},
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

// Help asked for is output: on standard output, status 0, and a failed write fails as any
// other output does. Usage after a wrong invocation stays a message, status 1.
TEST_P(Conventions, HelpPrintsTheUsageText) {
    const Program &p = GetParam();
    EXPECT_RUN(run_tool(p.name, {"--help"}), 0, usage_text(p.name), "");
    RunOptions full;
    full.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool(p.name, {"--help"}, full), 1, "",
               std::string(p.name) +
                   ": Error: failed writing output to standard output: No space left on "
                   "device\n");
    // (The programs whose valid run begins with an option ask for that option instead.)
    std::vector<std::string> none;
    if (p.args.size() > 1 && p.args[0][0] != '-') {
        SCOPED_TRACE("no operand");
        EXPECT_RUN(run_tool(p.name, none, ""), 1, "", usage_text(p.name));
    }
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

// A message writes out standard output first; when that write is the one that fails, the
// failure is still reported with its reason.
TEST(Conventions, FailedWriteBeforeAMessageGivesItsReason) {
    TempDir dir;
    std::string f = dir.file("short.csv", "a,b\n1,2\n3\n");
    const std::vector<std::vector<std::string>> runs = {{"zelk-columns", "-w", "1,2", f},
                                                        {"zelk-match", "-w", "2", ".", f}};
    for (const auto &run : runs) {
        RunOptions o;
        o.stdout_path = "/dev/full";
        RunResult r = run_tool(run[0], {run.begin() + 1, run.end()}, o);
        EXPECT_NE(r.err.find(run[0] + ": Error: failed writing output to standard output: No "
                                      "space left on device\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.status, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(AllPrograms, Conventions, ::testing::ValuesIn(PROGRAMS),
                         [](const ::testing::TestParamInfo<Program> &info) {
                             std::string n = info.param.name + 5; // without "zelk-"
                             for (char &c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

// Every program that puts records together from fields writes a record of one empty field as
// "", so that a reader takes it back as one field and not as a blank record to drop. Each
// command reads in.csv (the row's input) and its output is read back by zelk-width-tally.
TEST(Conventions, OneEmptyFieldIsWrittenQuoted) {
    struct Row {
        const char *command;
        const char *input;
        const char *out;
    };
    const Row rows[] = {
        {"zelk-columns 2 in.csv", "a,b\n1,\n2,y\n", "b\n\"\"\ny\n"},
        {"zelk-columns 2 in.csv | zelk-columns 1", "a,b\n1,\n2,y\n", "b\n\"\"\ny\n"},
        {"zelk-columns -r 2 in.csv", "a,b\n,1\n", "a\n\"\"\n"},
        {"zelk-columns -1 -a 1 in.csv", "h\n\nx\n", "h\n\"\"\nx\n"},
        {"zelk-tidy -c in.csv", "h\n\"\"\nx\n", "h\n\"\"\nx\n"},
        {"zelk-tidy -u in.csv", "h\n\"\"\n", "h\n\"\"\n"},
        {"zelk-tidy -W in.csv", "h\n  \n", "h\n\"\"\n"},
        {"zelk-tidy -B in.csv", "h\n\nx\n", "h\n\"\"\nx\n"},
        {"zelk-from-delim -u ';' in.csv", "h\n\"\"\nx\n", "h\n\"\"\nx\n"},
        {"zelk-subst 1 x '' in.csv", "h\nx\n", "h\n\"\"\n"},
        {"zelk-setcell 2 1 '' in.csv", "h\nx\n", "h\n\"\"\n"},
        {"zelk-timestamp 1 %Y '' in.csv", "h\n2024\n", "h\n\"\"\n"},
        {"zelk-script-column -e '{$0=\"\"}' 1 in.csv", "h\nx\n", "h\n\"\"\n"},
        {"zelk-script-rows -e '{$1=\"\"}' in.csv", "h\nx\n", "h\n\"\"\n"},
        {"zelk-beside -1 -s '' in.csv in.csv", "h\n\n", "hh\n\"\"\n"},
        // A blank record passed through (-b) stays blank, as does one that code leaves
        // without fields; delimited output is not CSV.
        {"zelk-columns -b 1 in.csv", "h\n\nx\n", "h\n\nx\n"},
        {"zelk-script-rows -b -e '{}' in.csv", "h\n\n", "h\n\n"},
        {"zelk-script-rows -e '{$0=\"\"}' in.csv", "h\nx\n", "h\n\n"},
        {"zelk-to-delim -u ';' in.csv", "h\n\"\"\n", "h\n\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.command);
        TempDir dir;
        dir.file("in.csv", row.input);
        RunOptions o;
        o.cwd = dir.path();
        EXPECT_RUN(run_shell(row.command, o), 0, row.out, "");
        // Read back, every record has as many fields as its line shows.
        dir.file("out.csv", row.out);
        std::string counts;
        for (const char *p = row.out; *p;) {
            const char *e = strchr(p, '\n');
            counts += std::to_string(e == p ? 0 : 1 + std::count(p, e, ',')) + "\n";
            p = e + 1;
        }
        EXPECT_RUN(run_tool("zelk-width-tally", {"-c", dir.join("out.csv")}), 0, counts, "");
    }
}

// What a program holds goes out before it waits for input that has not arrived: a record
// written into a pipe that stays open comes out while the pipe is still open (a live
// `tail -f | zelk-match | zelk-columns`). The input is that of standard input; @ names a file
// of other records, where a second input is needed. A program that must see the next record
// first (the end of a run or a group) gives the records before it.
TEST(Conventions, OutputDoesNotWaitForMoreInput) {
    TempDir dir;
    const std::string other = dir.file("other.csv", "k,w\nb,1\n");
    struct Row {
        std::string tool;
        std::vector<std::string> args;
        std::string in, out;
    };
    const Row rows[] = {
        {"zelk-match", {"2", "2"}, "k,v\na,2\n", "k,v\na,2\n"},
        {"zelk-match", {"-F", "1", "a"}, "k,v\na,2\n", "k,v\na,2\n"},
        {"zelk-columns", {"2"}, "k,v\na,2\n", "v\n2\n"},
        {"zelk-range", {"-m1", "2"}, "k,v\na,2\n", "k,v\na,2\n"},
        {"zelk-subst", {"2", "2", "3"}, "k,v\na,2\n", "k,v\na,3\n"},
        {"zelk-tidy", {"-c"}, "k,v\n\"a\",2\n", "k,v\na,2\n"},
        {"zelk-beside", {"-", "@"}, "k,v\na,2\n", "k,v,k,w\na,2,b,1\n"},
        {"zelk-beside", {"@", "-"}, "k,v\na,2\n", "k,w,k,v\nb,1,a,2\n"},
        {"zelk-concat", {"@", "-"}, "k,w\na,2\n", "k,w\nb,1\na,2\n"},
        {"zelk-dedupe", {"1"}, "k,v\na,1\nb,2\n", "k,v\na,1\n"},
        {"zelk-group", {"-s", "1", "count"}, "k,v\na,1\nb,2\n", "k,count\na,1\n"},
        {"zelk-from-delim", {";"}, "k;v\na;2\n", "k,v\na,2\n"},
        {"zelk-from-delim", {"-q", ";"}, "k;v\na;2\"\n", "k,v\na,\"2\"\"\"\n"},
        {"zelk-to-delim", {";"}, "k,v\na,2\n", "k;v\na;2\n"},
        {"zelk-to-json", {}, "k,v\na,2\n", "{\"k\":\"a\",\"v\":\"2\"}\n"},
        {"zelk-merge", {"1", "-", "1", "@"}, "k,v\nb,2\n", "k,v,k,w\nb,2,b,1\n"},
        {"zelk-merge", {"-o", "1", "@", "1", "-"}, "k,v\nb,2\n", "k,w,k,v\nb,1,b,2\n"},
        {"zelk-rows", {"2"}, "k,v\na,2\n", "a,2\n"},
        {"zelk-setcell", {"2", "2", "x"}, "k,v\na,2\n", "k,v\na,x\n"},
        {"zelk-show", {"2"}, "k,v\na,2\n", "1: 'a'\n2: '2'\n"},
        {"zelk-timestamp", {"2", "%Y", "%y"}, "k,v\na,2024\n", "k,v\na,24\n"},
        {"zelk-width-tally", {}, "k,v\na,2\n", "1:2\n2:2\n"},
    };
    // All at once, so that a run that fails waits out one deadline, not one for each row.
    std::vector<Live> live;
    for (const Row &row : rows) {
        std::vector<std::string> args = row.args;
        std::replace(args.begin(), args.end(), std::string("@"), other);
        live.emplace_back(row.tool, args);
        ASSERT_GT(live.back().pid, 0);
        ASSERT_EQ(write(live.back().in, row.in.data(), row.in.size()), (ssize_t)row.in.size());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (size_t i = 0; i < live.size(); i++) {
        SCOPED_TRACE(rows[i].tool + " " + testing::PrintToString(rows[i].args));
        auto left = std::chrono::duration_cast<std::chrono::seconds>(
            deadline - std::chrono::steady_clock::now());
        EXPECT_EQ(live[i].read_for(rows[i].out, std::max(1, (int)left.count())), rows[i].out);
    }
    for (size_t i = 0; i < live.size(); i++)
        EXPECT_EQ(live[i].finish(), 0) << rows[i].tool;
}

// A program that can make a record longer or wider than it read refuses the record no reader
// would take, before any of it is written; the records before it stay.
TEST(Conventions, RecordsPastTheLimitsAreRefused) {
    auto rep = [](const std::string &s, int n, const std::string &sep = "") {
        std::string r;
        for (int i = 0; i < n; i++) r += (i ? sep : "") + s;
        return r;
    };
    const std::string wide = rep("a", 512, ",");                          // 512 fields
    const std::string big = rep(std::string(7000, 'b'), 9, ",");           // 63008 bytes
    const std::string half = std::string(30000, 'c');                      // 30000 bytes
    const std::string padded = rep(" " + std::string(125, 'c'), 512, ","); // 65023 bytes
    const std::string commas = std::string(62, 'd') + "," + std::string(63, 'd');
    const std::string length = "output record length exceeded MAX_RECORD_LENGTH (65536)\n";
    const std::string fields = "number of output fields exceeded MAX_FIELDS (512)\n";
    struct Row {
        std::string command;
        std::string input;  // in.csv
        std::string input2; // two.csv
        std::string out;     // the records written before the refused one
        std::string message; // after "PROGRAM: ERROR: record #3: "
    };
    const std::vector<Row> rows = {
        {"zelk-columns 1,1- in.csv", "h\nx\n" + wide + "\n", "", "h,h\nx,x\n", fields},
        {"zelk-columns 1,1- in.csv", "h\nx\n" + big + "\n", "", "h,h\nx,x\n", length},
        {"zelk-beside -a in.csv two.csv", "h\nx\ny\n", "h\nx\n" + wide + "\n", "h,h\nx,x\n",
         fields},
        {"zelk-beside -a in.csv two.csv", "h\nx\n" + half + "\n", "h\nx\n" + half + half + "\n",
         "h,h\nx,x\n", length},
        {"zelk-merge 1 in.csv 1 two.csv", "k,v\nx,1\nz," + half + "\n",
         "k,w\nx,2\nz," + half + half + "\n", "k,v,k,w\nx,1,x,2\n", length},
        {"zelk-tidy -x in.csv", "h\nx\n" + padded + "\n", "", "h\nx\n", length},
        {"zelk-from-delim ';' in.csv", "h\nx\n" + rep(commas, 512, ";") + "\n", "", "h\nx\n",
         length},
        {"zelk-subst 1 y " + rep(",", 600) + " in.csv", "h\nx\ny,z\n", "", "h\nx\n", fields},
        {"zelk-setcell 3 1 " + rep(",", 600) + " in.csv", "h\nx\ny,z\n", "", "h\nx\n", fields},
        {"zelk-timestamp 1 %Y %Y" + std::string(7996, 'e') + " in.csv",
         "h\n2024\n2024," + big + "\n", "", "h\n2024" + std::string(7996, 'e') + "\n", length},
        {"zelk-script-column -e 'NR==2{$0=sprintf(\"%600s\",\"\");gsub(/ /,\",\")}' 1 in.csv",
         "h\nx\ny\n", "", "h\nx\n", fields},
        {"zelk-script-rows -e 'NR==2{for(i=1;i<=600;i++)$i=\"a\"}' in.csv", "h\nx\ny\n", "",
         "h\nx\n", fields},
        {"zelk-script-rows -e 'NR==2{$1=sprintf(\"%70000s\",\"\")}' in.csv", "h\nx\ny\n", "",
         "h\nx\n", length},
    };
    for (const Row &row : rows) {
        std::string program = row.command.substr(0, row.command.find(' '));
        SCOPED_TRACE(row.command.substr(0, 60));
        TempDir dir;
        dir.file("in.csv", row.input);
        dir.file("two.csv", row.input2);
        RunOptions o;
        o.cwd = dir.path();
        RunResult r = run_shell(row.command, o);
        // (Compared by length first: a failure would otherwise print the long record.)
        EXPECT_EQ(r.out.size(), row.out.size());
        EXPECT_EQ(r.out.substr(0, 200), row.out.substr(0, 200));
        EXPECT_EQ(r.err, program + ": ERROR: record #3: " + row.message);
        EXPECT_EQ(r.status, 1);
    }
}

// ---- The program list ------------------------------------------------------------------------

// The programs a place names, each with the purpose it gives ("" where it gives none).
using Named = std::map<std::string, std::string>;

std::vector<std::string> lines_of_file(const std::string &path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

// A line of a manual page as it reads ("\-" is a hyphen).
std::string page_text(std::string s) {
    for (size_t i; (i = s.find("\\-")) != std::string::npos;)
        s.erase(i, 1);
    return s;
}

// The words of s after prefix, to the end ("\" line continuations aside).
Named words_after(const std::string &s, const std::string &prefix) {
    Named words;
    size_t at = s.find(prefix);
    if (at == std::string::npos) return words;
    std::istringstream in(s.substr(at + prefix.size()));
    for (std::string w; in >> w;)
        if (w != "\\") words[w];
    return words;
}

// Every program of tools/programs.txt, and only those, in every place that names the programs,
// with the same purpose where the place gives one; the source files are held to the list when
// the build is configured.
TEST(Conventions, EveryPlaceNamesEveryProgram) {
    const std::string src = ZELK_SOURCE_DIR, build = ZELK_BUILD_DIR;
    Named built, conventions, pages, suite_page, readme;
    for (const auto &e : std::filesystem::directory_iterator(ZELK_TOOLS_DIR)) {
        std::string n = e.path().filename().string();
        if (n.rfind("zelk-", 0) == 0 && e.is_regular_file()) built[n];
    }
    for (const Program &p : PROGRAMS)
        conventions[p.name];
    for (const auto &e : std::filesystem::directory_iterator(src + "/man")) {
        if (e.path().extension() != ".1") continue;
        std::vector<std::string> page = lines_of_file(e.path());
        auto name = std::find(page.begin(), page.end(), ".SH NAME");
        std::string line = name + 1 < page.end() ? page_text(name[1]) : "";
        size_t dash = line.find(" - ");
        pages[e.path().stem()] = dash == std::string::npos ? "" : line.substr(dash + 3);
    }
    // zelk(7): a ".BR zelk\-NAME (1)" tag and the purpose under it, in PROGRAMS.
    bool in_programs = false;
    std::vector<std::string> seven = lines_of_file(src + "/man/zelk.7");
    for (size_t i = 0; i < seven.size(); i++) {
        if (seven[i].rfind(".SH ", 0) == 0) in_programs = seven[i] == ".SH PROGRAMS";
        if (in_programs && seven[i].rfind(".BR zelk", 0) == 0 && i + 1 < seven.size()) {
            std::string name = seven[i].substr(4, seven[i].find(' ', 4) - 4);
            suite_page[page_text(name)] = page_text(seven[i + 1]);
        }
    }
    // The README's table: "| zelk-NAME | purpose | status |".
    for (const std::string &l : lines_of_file(src + "/README.md")) {
        if (l.rfind("| zelk-", 0) != 0) continue;
        size_t bar = l.find(" | ");
        readme[l.substr(2, bar - 2)] = l.substr(bar + 3, l.find(" | ", bar + 3) - bar - 3);
    }
    const std::string bash = read_file(build + "/completion/zelk.bash");
    const std::string zsh = read_file(build + "/completion/_zelk");
    struct Place {
        std::string what;
        Named named;
        bool purposes; // whether it gives each program's purpose
    };
    const Place places[] = {
        {"the built programs (" + std::string(ZELK_TOOLS_DIR) + ")", built, false},
        {"the table of tests/cli/conventions_test.cpp", conventions, false},
        {"man/ (a page zelk-NAME.1 whose NAME line gives the purpose)", pages, true},
        {"man/zelk.7 (PROGRAMS)", suite_page, true},
        {"README.md (The programs)", readme, true},
        {"the bash completion (its complete line)", words_after(bash, "complete -F _zelk"), false},
        {"the zsh completion (its #compdef line)",
         words_after(zsh.substr(0, zsh.find('\n')), "#compdef"), false},
    };
    for (const Place &place : places) {
        std::set<std::string> names;
        for (const auto &entry : place.named)
            names.insert(entry.first);
        EXPECT_EQ(compare_with_list(names, place.what), "");
        if (!place.purposes) continue;
        for (const ListedProgram &p : PROGRAM_LIST) {
            auto it = place.named.find(p.name);
            if (it != place.named.end()) {
                EXPECT_EQ(it->second, p.purpose) << p.name << "'s purpose in " << place.what;
            }
        }
    }
    // And the count of them, where the text gives it.
    const std::string count = std::to_string(std::size(PROGRAM_LIST)) + " programs";
    EXPECT_NE(read_file(src + "/README.md").find("the " + count), std::string::npos)
        << "README.md does not say 'the " << count << "'";
    EXPECT_NE(read_file(src + "/man/zelk.7").find("suite of " + count), std::string::npos)
        << "man/zelk.7 does not say 'suite of " << count << "'";
}

// ---- Termination signals ---------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

// Polls cond every millisecond for at most the given time (the machine may be busy).
template <class F> bool eventually(F cond, int seconds = 60) {
    for (auto until = Clock::now() + std::chrono::seconds(seconds); Clock::now() < until;
         usleep(1000))
        if (cond()) return true;
    return cond();
}

std::string proc_text(pid_t pid, const std::string &what) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/" + what);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The first child of pid (any of its threads), or 0.
pid_t child_of(pid_t pid) {
    std::string task = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(task.c_str());
    if (!d) return 0;
    pid_t child = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.' || child) continue;
        child = (pid_t)atoi(proc_text(pid, std::string("task/") + e->d_name + "/children").c_str());
    }
    closedir(d);
    return child;
}

// CPU time used by pid, in clock ticks.
long cpu_ticks(pid_t pid) {
    std::string st = proc_text(pid, "stat");
    long utime = 0, stime = 0;
    size_t at = st.rfind(')');
    if (at != std::string::npos)
        sscanf(st.c_str() + at + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime,
               &stime);
    return utime + stime;
}

// Whether sig is ignored by pid.
bool ignores(pid_t pid, int sig) {
    std::string st = proc_text(pid, "status");
    size_t at = st.find("SigIgn:");
    return at != std::string::npos &&
           (std::stoull(st.substr(at + 7), nullptr, 16) >> (sig - 1) & 1);
}

struct SignalCase {
    const char *name;
    std::vector<std::string> args; // "-l@" loads an AWK library defining spin()
    int sig;
    bool big;        // sort given more than its memory holds, so that it has temporary files
    int ignored = 0; // a signal ignored by the program's caller, and so by the program
};

// Ctrl-C, kill or a hang-up reach the program but not its child, which has a group of its own:
// the program ends the group and dies of the same signal, leaving no process and no file.
TEST(Conventions, TerminationSignalEndsTheChildAndTheProgram) {
    TempDir dir;
    std::string lib = dir.file("spin.awk", "function spin() { while (1) {} }\n");
    const std::string spin = "{while(1){}}";
    const SignalCase cases[] = {
        {"zelk-script-rows", {"-e", spin}, SIGINT, false},
        {"zelk-script-rows", {"-e", spin}, SIGTERM, false},
        {"zelk-script-rows", {"-e", spin}, SIGHUP, false},
        {"zelk-script-rows", {"-e", spin}, SIGTERM, false, SIGINT},
        {"zelk-script-column", {"-e", spin, "1"}, SIGINT, false},
        {"zelk-match-rows", {"-l@", "spin()"}, SIGHUP, false},
        {"zelk-match-expr", {"-l@", "1", "spin()"}, SIGTERM, false, SIGHUP},
        {"zelk-order", {"1"}, SIGINT, true},
        {"zelk-order", {"1"}, SIGTERM, true},
        {"zelk-order", {"1"}, SIGHUP, true},
        {"zelk-order-keys", {"-k1"}, SIGINT, false},
    };
    std::string big = "k,v\n";
    for (int i = 0; big.size() < (40u << 20); i++)
        big += std::to_string(i * 7919 % 1000003) + "," + std::string(180, 'a' + i % 26) + "\n";

    for (const SignalCase &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + strsignal(c.sig) +
                     (c.ignored ? std::string(", ignored: ") + strsignal(c.ignored) : ""));
        std::string tmp = dir.join("tmp");
        std::filesystem::create_directory(tmp);
        std::string err = dir.join("err");
        int in[2];
        ASSERT_EQ(pipe(in), 0);
        std::vector<std::string> args{c.name};
        for (const std::string &a : c.args) args.push_back(a == "-l@" ? "-l" + lib : a);
        std::vector<char *> av;
        for (std::string &a : args) av.push_back(a.data());
        av.push_back(nullptr);
        std::string path = tool_path(c.name), tmpdir = "TMPDIR=" + tmp;
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int n = open("/dev/null", O_WRONLY);
            dup2(in[0], 0), dup2(n, 1), dup2(e, 2);
            close(in[0]), close(in[1]);
            putenv(tmpdir.data());
            putenv(const_cast<char *>("LC_ALL=C"));
            if (c.ignored) signal(c.ignored, SIG_IGN);
            signal(SIGPIPE, SIG_DFL);
            execv(path.c_str(), av.data());
            _exit(127);
        }
        close(in[0]);
        const std::string &input = c.big ? big : "k,v\n1,2\n";
        for (size_t done = 0; done < input.size();) {
            ssize_t n = write(in[1], input.data() + done, input.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ASSERT_GT(n, 0) << "the program stopped reading";
            done += (size_t)n;
        }
        // The input stays open: the child spins, or sorts and waits for more.
        pid_t child = 0;
        EXPECT_TRUE(eventually([&] { return (child = child_of(pid)) > 0; })) << "no child";
        // awk has started once it spends far more time than starting takes: in the loop.
        bool awk = std::string(c.name).find("order") == std::string::npos;
        if (awk && child > 0) {
            EXPECT_TRUE(eventually([&] { return cpu_ticks(child) >= 20; })) << "awk idle";
        }
        if (c.big) {
            EXPECT_TRUE(eventually([&] { return !std::filesystem::is_empty(tmp); }))
                << "sort made no temporary file";
        }
        if (c.ignored) {
            EXPECT_TRUE(ignores(pid, c.ignored));
        }

        kill(pid, c.sig);
        int st = 0;
        bool ended = eventually([&] { return waitpid(pid, &st, WNOHANG) == pid; });
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &st, 0);
        }
        EXPECT_TRUE(ended && WIFSIGNALED(st) && WTERMSIG(st) == c.sig)
            << "status " << st << ": not a death by the signal";
        // The program reaps its children before it dies: only a grandchild could linger.
        if (child > 0 &&
            !eventually([&] { return kill(-child, 0) != 0 && errno == ESRCH; }, 10)) {
            ADD_FAILURE() << "the child's group outlived the program";
            kill(-child, SIGKILL);
        }
        close(in[1]);
        EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "temporary files left";
        EXPECT_EQ(read_file(err), "");
        std::filesystem::remove_all(tmp);
    }
}

} // namespace
