// The programs that run their record loop on several cores write, say and end exactly as they
// do on one: random inputs with quoted line breaks, blank records, NUL bytes, CR LF, faults,
// records too long for a part and a missing last terminator, cut into parts as small as one
// byte so that every place a part can end is met, from a regular file and from a pipe.
#include <random>

#include "harness.h"

namespace {

// A random input: mostly valid CSV, sometimes with a fault planted somewhere; with a record
// longer than a part can hold past its size (no part ends in it) when asked.
std::string random_input(std::mt19937 &rng, bool long_record) {
    auto pick = [&rng](std::initializer_list<const char *> from) {
        std::uniform_int_distribution<size_t> d(0, from.size() - 1);
        return std::string(from.begin()[d(rng)]);
    };
    std::uniform_real_distribution<double> u(0, 1);
    std::string term = u(rng) < 0.5 ? "\n" : "\r\n";
    std::string s;
    int records = std::uniform_int_distribution<int>(0, 40)(rng);
    for (int i = 0; i < records; i++) {
        if (u(rng) < 0.05) {
            s += term; // a blank record
            continue;
        }
        int fields = std::uniform_int_distribution<int>(1, 4)(rng);
        for (int f = 0; f < fields; f++) {
            if (f) s += ',';
            double k = u(rng);
            if (k < 0.5)
                s += pick({"a", "b", "ab", "xyz", "", "12", "-3.5", "a b", " 7 "});
            else if (k < 0.85)
                s += "\"" + pick({"a\nb", "x,y", "q\"\"q", "", "\r\n", "a", "2"}) + "\"";
            else
                s += pick({"\0"s.c_str(), "c", "1e3"}) + (u(rng) < 0.5 ? "\0b"s : "");
        }
        s += term;
    }
    if (long_record) s += "\"" + std::string(70000, 'x') + "\"" + term + "a,b" + term;
    if (!s.empty() && u(rng) < 0.2) s.resize(s.size() - term.size()); // no last terminator
    if (u(rng) < 0.3) {
        size_t at = std::uniform_int_distribution<size_t>(0, s.size())(rng);
        s.insert(at, pick({"\"", "x\"y", "\r", "\"\"x"}));
    }
    return s;
}

struct ParallelCase {
    const char *tool;
    std::vector<std::vector<std::string>> option_sets;
};

class Parallel : public ::testing::TestWithParam<ParallelCase> {};

TEST_P(Parallel, SameOutputMessagesAndStatusAsOneWorker) {
    const ParallelCase &c = GetParam();
    std::mt19937 rng(2612);
    for (int round = 0; round < 16; round++) {
        std::string input = random_input(rng, round % 8 == 7);
        for (const auto &options : c.option_sets) {
            for (bool pipe : {false, true}) {
                std::vector<std::string> one = {"-j1"}, many = {"-j3"};
                one.insert(one.end(), options.begin(), options.end());
                many.insert(many.end(), options.begin(), options.end());
                RunResult expect = run_tool(c.tool, one, with_input(input, pipe));
                for (const char *chunk : {"1", "9", "100"}) {
                    RunOptions opts = with_input(input, pipe);
                    opts.env = {std::string("ZELK_JOBS_CHUNK=") + chunk};
                    SCOPED_TRACE(testing::Message()
                                 << c.tool << " " << testing::PrintToString(options)
                                 << (pipe ? " from a pipe" : " from a file") << ", parts of "
                                 << chunk << " bytes, input " << testing::PrintToString(input));
                    EXPECT_RUN(run_tool(c.tool, many, opts), expect.status, expect.out, expect.err);
                }
            }
            // Standard output and standard error into one file: every message stands among the
            // records where one process puts it.
            std::string args;
            for (const std::string &o : options) {
                args += " '";
                for (char ch : o) args += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
                args += "'";
            }
            RunOptions opts = with_input(input, false);
            RunResult one_file = run_shell(std::string(c.tool) + " -j1" + args + " 2>&1", opts);
            opts.env = {"ZELK_JOBS_CHUNK=9"};
            SCOPED_TRACE(testing::Message() << c.tool << " " << testing::PrintToString(options)
                                            << " into one file, input "
                                            << testing::PrintToString(input));
            EXPECT_RUN(run_shell(std::string(c.tool) + " -j3" + args + " 2>&1", opts),
                       one_file.status, one_file.out, "");
            // And with standard output, then standard error, closed: the same failure, never a
            // success, and no descriptor of the workers in their place (for some inputs only:
            // under the sanitizers every run counts against the test's time limit). With every
            // write of the output failing, the failure may be noticed at another record (and
            // said otherwise than an error in the input before it): the same status, and a
            // message.
            if (round % 4) continue;
            for (const char *closing : {" >&-", " 2>&-", " >/dev/full"}) {
                RunOptions o = with_input(input, false);
                RunResult closed = run_shell(std::string(c.tool) + " -j1" + args + closing, o);
                o.env = {"ZELK_JOBS_CHUNK=9"};
                RunResult many = run_shell(std::string(c.tool) + " -j3" + args + closing, o);
                if (closing[1] == '>' && closing[2] == '/') {
                    EXPECT_EQ(many.status, closed.status) << many.err;
                    EXPECT_NE(many.err, "");
                } else {
                    EXPECT_RUN(many, closed.status, closed.out, closed.err);
                }
            }
        }
        if (HasFailure()) return;
    }
}

const ParallelCase cases[] = {
    {"zelk-match",
     {{"1", "a"},
      {"-n", "2", "b"},
      {"-v", "-b", "1", "^$"},
      {"-u", "-1", "2", "a"},
      {"-h", "-w", "-q", "3", "."},
      {"-F", "-i", "-x", "1", "A"}}},
    {"zelk-columns",
     {{"3,1"},
      {"-r", "-b", "2"},
      {"-e", "2-"},
      {"-a", "-w", "-z", "5,1"},
      {"-l", "-o", "-s", ";;", "2-"},
      {"-1", "-t", "-Q", "a", "1"}}},
    {"zelk-range",
     {{"2"},
      {"-m", "0", "-x", "20", "-p", "1"},
      {"-v", "-w", "-m", "-1", "3"},
      {"-h", "-b", "-t", "-x", "5", "4"},
      {"-o", "-w", "-v", "1"}}},
    {"zelk-subst",
     {{"1", "a", "<&>"},
      {"-x", "-b", "2", "xyz", "&&"},
      {"-g", "-i", "2", "A|x*", "[&]"},
      {"-n", "1", "-h", "1", "(a)(b)?", "\\2\\1"},
      {"-m", "-1", "3", "(a)(b)?", "&2&1"},
      {"-F", "-x", "-o", "-t", "1", "ab", "Z"},
      {"-F", "-g", "-Q", "a", "a", ","}}},
    {"zelk-timestamp",
     {{"1", "%H", "%H:%M"},
      {"-r", "-b", "2", "%S", "%T"},
      {"-c", "-e", "2", "%M", "%s"},
      {"-h", "-1", "1", "%d", "%F,%j"},
      {"-o", "-t", "3", "%y", "\"%Y\""}}},
    {"zelk-to-delim", {{";"}, {","}, {"-u", "a"}, {"-r", "-b", "|"}, {"-u", "-r", "-t", "\\t"}}},
    {"zelk-lint", {{}, {"-v"}, {"-k", "-v"}}},
    {"zelk-row-tally", {{}, {"-h", "-v"}}},
    {"zelk-width-tally", {{}, {"-m"}, {"-v"}, {"-c", "-h", "-f", "5"}, {"-n", "4", "-f", "2"}}},
    {"zelk-tidy",
     {{"-v"},
      {"-b", "-d", "-p", "-v"},
      {"-B", "-c", "-r", "-e", "-v"},
      {"-u", "-r", "-s", ";", "-t", "-v"},
      {"-w", "-x", "-v"},
      {"-W", "-X", "-e", "-V", "-v"}}},
    {"zelk-from-delim",
     {{","}, {"-b", "-u", ","}, {"-r", "-u", "-t", ";"}, {"-q", ","}, {"-q", "-b", ";"}}},
};

// Output whose reader stops reading: on many cores as on one, the program ends by SIGPIPE, with
// nothing said, whichever of the workers and the program meets it. The output is much more
// than a pipe holds, so that it is met before the end.
TEST(ParallelOutput, BrokenPipeEndsTheProgramAsOneProcess) {
    std::string input = "a,b,c\n";
    for (int i = 0; i < 40000; i++)
        input += std::to_string(i) + ",\"x\ny\",z\n";
    TempDir dir;
    std::string file = dir.file("big.csv", input);
    for (const char *run : {"zelk-columns 1-", "zelk-match 3 z", "zelk-to-delim ';'"})
        for (const char *jobs : {" -j1 ", " -j3 "}) {
            RunOptions o;
            o.env = {"ZELK_JOBS_CHUNK=4096"};
            RunResult r = run_shell(
                std::string("(") + run + jobs + file + "; echo $? >&2) | head -c 10 >/dev/null", o);
            EXPECT_EQ(r.err, "141\n") << run << jobs;
        }
}

// Parts whose output outgrows its space are written as they go once their turn has come; a
// warning later in such a part gives it up with some of its output written, and the program,
// reading the part itself, leaves that much out. Six warnings far apart, so that the workers
// go on after each; a field printed eight times, so that the output outgrows its space.
TEST(ParallelOutput, PartGivenUpAfterWritingSomeOfItsOutput) {
    std::string input = "h1,h2\n";
    for (int i = 0; i < 26000; i++)
        input += i % 3800 == 3100 ? "short\n" : std::to_string(i) + std::string(90, 'x') + ",b\n";
    TempDir dir;
    std::string file = dir.file("wide.csv", input);
    const std::vector<std::string> args = {"-w", "1,1,1,1,1,1,1,1,2", file};
    std::vector<std::string> one = {"-j1"}, many = {"-j3"};
    one.insert(one.end(), args.begin(), args.end());
    many.insert(many.end(), args.begin(), args.end());
    RunResult expect = run_tool("zelk-columns", one);
    RunOptions o;
    o.env = {"ZELK_JOBS_CHUNK=65536"};
    EXPECT_RUN(run_tool("zelk-columns", many, o), expect.status, expect.out, expect.err);
}

INSTANTIATE_TEST_SUITE_P(Programs, Parallel, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<ParallelCase> &i) {
                             std::string name;
                             for (const char *p = i.param.tool + 5; *p; p++)
                                 if (*p != '-') name += *p;
                             return name;
                         });

} // namespace
