// The fault sweep: every program runs on a small realistic input with one call made to fail
// (the Nth call of a class of functions, through the preloaded fault_inject library), for
// N = 1, 2, ... until the run no longer reaches the Nth call. Each run must hold:
//   - a failure ends with status 1 and a message on standard error (no crash, no hang);
//   - a run that exits 0 wrote exactly the clean run's output;
//   - an interrupted (EINTR) or short read or write changes nothing at all;
//   - no child process (sort, awk) outlives the program unless the program killed it.
//
// A second sweep fails system calls themselves, through strace's fault injection: the Nth
// read (EIO) or write (ENOSPC) of the program or of its children, which reaches the calls the
// C library makes inside stdio (buffer flushes, refills) where the preloaded wrappers cannot.
// Its inputs are the same files made about 1.5 MB long, so that a failure can fall
// in the middle of a stream. A failure must end with status 1 and a message; a run that exits
// 0 must have written the clean run's output.
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "program_list.h"

namespace {

struct Program {
    const char *name;
    std::vector<std::string> args;
    const char *stdin_file; // under the data directory; null for /dev/null
};

const Program PROGRAMS[] = {
    {"zelk-beside", {"plain.csv", "plain.csv"}, nullptr},
    {"zelk-colnum", {"name,city", "people.csv"}, nullptr},
    {"zelk-columns", {"3,1", "people.csv"}, nullptr},
    {"zelk-concat", {"people.csv", "fields.csv"}, nullptr},
    {"zelk-dedupe", {"3", "plain.csv"}, nullptr},
    {"zelk-from-delim", {"\\t", "people.tsv"}, nullptr},
    {"zelk-group", {"3", "count,sum:2,distinct:1", "people.csv"}, nullptr},
    {"zelk-lint", {"people.csv"}, nullptr},
    {"zelk-match", {"-i", "3", "^[bl]", "people.csv"}, nullptr},
    {"zelk-match-expr", {"2", "$0 > 50", "people.csv"}, nullptr},
    {"zelk-match-rows", {"$2 > 50", "people.csv"}, nullptr},
    {"zelk-merge", {"-a", "1", "plain.csv", "1", "fields.csv"}, nullptr},
    {"zelk-next-cell", {"3"}, "people.csv"},
    {"zelk-next-row", {}, "people.csv"},
    {"zelk-order", {"3", "people.csv"}, nullptr},
    {"zelk-order-keys", {"-k2n", "-k1", "people.csv"}, nullptr},
    {"zelk-range", {"-m50", "2", "people.csv"}, nullptr},
    {"zelk-row-tally", {"people.csv", "fields.csv"}, nullptr},
    {"zelk-rows", {"-n3", "2", "people.csv"}, nullptr},
    {"zelk-script-column", {"-e", "{$0 = $0 + 1}", "2", "people.csv"}, nullptr},
    {"zelk-script-rows", {"-e", "{$2 = $2 * 2}", "people.csv"}, nullptr},
    {"zelk-setcell", {"3", "2", "80", "people.csv"}, nullptr},
    {"zelk-show", {"3", "people.csv"}, nullptr},
    {"zelk-subst", {"3", "o", "0", "people.csv"}, nullptr},
    {"zelk-table", {"people.csv"}, nullptr},
    {"zelk-tidy", {"people.csv"}, nullptr},
    {"zelk-timestamp", {"-r", "4", "%m/%d/%Y %T", "%Y-%m-%d %H:%M", "people.csv"}, nullptr},
    {"zelk-to-delim", {"\\t", "people.csv"}, nullptr},
    {"zelk-to-json", {"people.csv"}, nullptr},
    {"zelk-width-tally", {"people.csv"}, nullptr},
};

void PrintTo(const Program &p, std::ostream *os) { *os << p.name; }

// Modes whose fault must not change anything at all.
const char *const TRANSPARENT_MODES[] = {"read-eintr", "read-short", "write-eintr", "write-short"};
const char *const FAILING_MODES[] = {"read-eio",    "write-enospc", "open-eacces",
                                     "fork-eagain", "pipe-emfile",  "flush-enospc",
                                     "seek-eio",    "malloc-enomem"};

struct Outcome {
    int status = -1; // exit status, 128 + signal, or -1 for a hang
    std::string out, err, fired;
    int left_behind = 0; // children that outlived the program without being killed by it
};

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void on_alarm(int) {}

class Sweep : public ::testing::TestWithParam<Program> {
  protected:
    static void SetUpTestSuite() {
        // Orphaned grandchildren come to this process, which can then tell how they ended.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        struct sigaction sa {};
        sa.sa_handler = on_alarm;
        sigaction(SIGALRM, &sa, nullptr); // no SA_RESTART: a hang interrupts waitpid
    }

    void SetUp() override {
        char tmpl[] = "/tmp/zelk-faults-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        tmp_ = tmpl;
    }
    void TearDown() override { (void)!system(("rm -rf '" + tmp_ + "'").c_str()); }

    // prefix: a command the program runs under (strace), or empty; dir: where it runs.
    Outcome run(const Program &p, const char *mode, long n,
                const std::vector<std::string> &prefix = {},
                const std::string &dir = ZELK_FAULTS_DATA_DIR) {
        std::string out = tmp_ + "/out", err = tmp_ + "/err", report = tmp_ + "/report";
        unlink(report.c_str());
        pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            if (chdir(dir.c_str()) != 0) _exit(126);
            std::string in = p.stdin_file ? p.stdin_file : "/dev/null";
            int fd0 = open(in.c_str(), O_RDONLY);
            int fd1 = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int fd2 = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd0, 0), dup2(fd1, 1), dup2(fd2, 2);
            setenv("LC_ALL", "C", 1);
            if (mode) {
                setenv("LD_PRELOAD", ZELK_FAULTS_LIBRARY, 1);
                setenv("ZELK_FAULT_MODE", mode, 1);
                setenv("ZELK_FAULT_N", std::to_string(n).c_str(), 1);
                setenv("ZELK_FAULT_REPORT", report.c_str(), 1);
                // The sanitizer runtime would refuse to come after the preloaded library.
                std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
                setenv("ASAN_OPTIONS", (asan + ":verify_asan_link_order=0").c_str(), 1);
            }
            if (!prefix.empty()) {
                // The leak checker cannot run under a tracer, and would end every run with 99.
                std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
                setenv("ASAN_OPTIONS", (asan + ":detect_leaks=0").c_str(), 1);
            }
            std::vector<char *> argv;
            std::string path = std::string(ZELK_TOOLS_DIR) + "/" + p.name;
            for (const std::string &a : prefix) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(const_cast<char *>(prefix.empty() ? p.name : path.c_str()));
            for (const std::string &a : p.args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(prefix.empty() ? path.c_str() : prefix[0].c_str(), argv.data());
            _exit(127);
        }
        Outcome r;
        int st;
        alarm(20);
        pid_t w = waitpid(pid, &st, 0);
        alarm(0);
        if (w != pid) {
            kill(-pid, SIGKILL);
            waitpid(pid, &st, 0);
            r.status = -1;
        } else {
            r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        }
        // Children of the program that it did not reap come here: judge how they ended.
        for (int waited = 0;;) {
            pid_t c = waitpid(-1, &st, WNOHANG);
            if (c > 0) {
                bool killed = WIFSIGNALED(st) && (WTERMSIG(st) == SIGKILL || WTERMSIG(st) == SIGTERM);
                if (!killed) r.left_behind++;
                continue;
            }
            if (c < 0) break; // none left
            if (++waited > 300) {   // still running 3 s after the program ended
                r.left_behind++;
                kill(-pid, SIGKILL); // the program's group, and any group it made
                break;
            }
            usleep(10000);
        }
        r.out = slurp(out);
        r.err = slurp(err);
        r.fired = slurp(report);
        return r;
    }

    std::string tmp_;
};

// N = 1 to 12, then growing steps: every early call (start-up, first record, first write)
// and a sample of the later ones, in a number of runs that grows with the log of the calls.
// Under the sanitizers, where a run costs ten times as much, the first four and then doubling
// steps: the release build's sweep has covered every N, this one looks for what only the
// sanitizers see on the failure paths.
#ifdef ZELK_FAULTS_SANITIZED
long next_n(long n) { return n < 4 ? n + 1 : n * 2; }
#else
long next_n(long n) { return n < 12 ? n + 1 : n + n / 3; }
#endif

TEST_P(Sweep, EveryFailureIsReported) {
    const Program &p = GetParam();
    Outcome clean = run(p, nullptr, 0);
    ASSERT_EQ(clean.status, 0) << p.name << " clean run: " << clean.err;
    ASSERT_EQ(clean.left_behind, 0);
    std::vector<std::string> findings;
    int runs = 0;
    auto check = [&](const char *mode, bool transparent) {
        for (long n = 1; n <= 100000; n = next_n(n)) {
            Outcome r = run(p, mode, n);
            runs++;
            if (r.fired.empty()) {
                // Not reached: the run must be the clean run.
                if (r.status != clean.status || r.out != clean.out)
                    findings.push_back(std::string(mode) + " N=" + std::to_string(n) +
                                       " not reached, but the run differs");
                return;
            }
            std::string what = r.fired.substr(0, r.fired.find('\n')) + ": ";
            if (r.left_behind)
                findings.push_back(what + std::to_string(r.left_behind) + " child(ren) left behind");
            if (r.status == -1) {
                findings.push_back(what + "hangs");
            } else if (transparent) {
                if (r.status != clean.status || r.out != clean.out || r.err != clean.err)
                    findings.push_back(what + "status " + std::to_string(r.status) +
                                       ", output or messages differ from the clean run: " + r.err);
            } else if (r.status == 0) {
                if (r.out != clean.out) findings.push_back(what + "status 0 with different output");
            } else if (r.status != 1) {
                findings.push_back(what + "status " + std::to_string(r.status) + ": " + r.err);
            } else if (r.err.empty()) {
                findings.push_back(what + "status 1 without a message");
            }
        }
    };
    for (const char *mode : TRANSPARENT_MODES) check(mode, true);
    for (const char *mode : FAILING_MODES) {
#ifdef ZELK_FAULTS_SANITIZED
        if (std::string(mode) == "malloc-enomem") continue;
#endif
        check(mode, false);
    }
    RecordProperty("runs", runs);
    std::string all;
    for (const std::string &f : findings) all += "\n  " + f;
    EXPECT_TRUE(findings.empty()) << p.name << " (" << runs << " runs):" << all;
}

// strace, when it is installed and may trace here (a container can forbid ptrace).
const char *strace_path() {
    static const char *path = [] {
        for (const char *p : {"/usr/bin/strace", "/bin/strace"})
            if (access(p, X_OK) == 0 &&
                system((std::string(p) + " -qq -o /dev/null true >/dev/null 2>&1").c_str()) == 0)
                return p;
        return (const char *)nullptr;
    }();
    return path;
}

// Each data file with its records after the header repeated until it holds about 1.5 MB,
// except fields.csv (zelk-merge's second file, whose repeated keys would multiply the output).
std::string make_long_inputs(const std::string &tmp) {
    std::string dir = tmp + "/long";
    (void)!system(("mkdir -p '" + dir + "'").c_str());
    for (const char *name : {"people.csv", "plain.csv", "people.tsv", "fields.csv"}) {
        std::string text = slurp(std::string(ZELK_FAULTS_DATA_DIR) + "/" + name);
        std::string out = text;
        if (std::string(name) != "fields.csv") {
            std::string body = text.substr(text.find('\n') + 1);
            while (out.size() < 1500000) out += body;
        }
        std::ofstream(dir + "/" + name, std::ios::binary) << out;
    }
    return dir;
}

// Which call strace made fail: the line it marks INJECTED, or empty when none was.
std::string injected_call(const std::string &log) {
    size_t at = log.find("(INJECTED)");
    if (at == std::string::npos) return "";
    size_t start = log.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    return log.substr(start, at - start);
}

TEST_P(Sweep, SystemCallFailuresAreReported) {
    const Program &p = GetParam();
    const char *strace = strace_path();
    if (!strace) GTEST_SKIP() << "strace is not installed or may not trace here: skipped";
    std::string dir = make_long_inputs(tmp_);
    Outcome clean = run(p, nullptr, 0, {}, dir);
    ASSERT_EQ(clean.status, 0) << p.name << " clean run: " << clean.err;
    std::vector<std::string> findings;
    int runs = 0;
    const std::string log = tmp_ + "/strace.log";
    for (const char *call : {"write", "read"}) {
        std::string error = std::string(call) == "write" ? "ENOSPC" : "EIO";
        for (long n = 1; n <= 100000; n = next_n(n)) {
            unlink(log.c_str());
            Outcome r = run(p, nullptr, 0,
                            {strace, "-f", "-qq", "-o", log, "-e", std::string("trace=") + call,
                             "-e", std::string("inject=") + call + ":error=" + error +
                                       ":when=" + std::to_string(n)},
                            dir);
            runs++;
            std::string fired = injected_call(slurp(log));
            if (fired.empty()) {
                if (r.status != clean.status || r.out != clean.out)
                    findings.push_back(std::string(call) + " N=" + std::to_string(n) +
                                       " not reached, but the run differs");
                break;
            }
            std::string what = fired.substr(0, 40) + "...: ";
            // A failed write of a message loses the message, not the data: only the output
            // and the status are judged then.
            bool to_stderr = fired.find(" write(2,") != std::string::npos;
            // The dynamic loader's reads come before the program runs: out of its hands.
            if (r.status == 127 && r.err.find("error while loading shared libraries") != std::string::npos)
                continue;
            if (r.left_behind)
                findings.push_back(what + std::to_string(r.left_behind) + " child(ren) left behind");
            if (r.status == -1) {
                findings.push_back(what + "hangs");
            } else if (r.status == 0) {
                if (r.out != clean.out) findings.push_back(what + "status 0 with different output");
            } else if (r.status != 1) {
                findings.push_back(what + "status " + std::to_string(r.status) + ": " + r.err);
            } else if (r.err.empty() && !to_stderr) {
                findings.push_back(what + "status 1 without a message");
            }
        }
    }
    RecordProperty("runs", runs);
    std::string all;
    for (const std::string &f : findings) all += "\n  " + f;
    EXPECT_TRUE(findings.empty()) << p.name << " (" << runs << " runs):" << all;
}

std::string program_name(const ::testing::TestParamInfo<Program> &info) {
    std::string s = info.param.name + 5; // without "zelk-"
    for (char &c : s)
        if (c == '-') c = '_';
    return s;
}

INSTANTIATE_TEST_SUITE_P(Programs, Sweep, ::testing::ValuesIn(PROGRAMS), program_name);

// The sweep runs the programs of its table: one left out of it would go unswept.
TEST(FaultSweep, EveryProgramIsInTheTable) {
    std::set<std::string> rows;
    for (const Program &p : PROGRAMS)
        rows.insert(p.name);
    EXPECT_EQ(compare_with_list(rows, "the table of tests/faults/fault_sweep_test.cpp"), "");
}

} // namespace
