// Child processes: a failing child ends the program and its group; the final verdict counts
// every child; fatal errors after the start leave nothing running. Each case runs in a death
// test, so that the handler and the children never touch the test process itself.
#include <csignal>
#include <fstream>
#include <unistd.h>

#include "cli.h"
#include "libsubproc.h"
#include "unit.h"

namespace {

// Fails the death-test child with a status that names the broken expectation.
#define REQUIRE(cond)                                                                              \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "REQUIRE failed: %s\n", #cond);                                        \
            _exit(90);                                                                             \
        }                                                                                          \
    } while (0)

struct Child {
    int to[2];
    int from[2];
};

// Starts /bin/sh -c script with both pipes (the script's output goes to the from pipe).
Child start_sh(const char *script) {
    static const char *argv[] = {"sh", "-c", nullptr, nullptr};
    argv[2] = script;
    Child c;
    start_command_with_pipes("/bin/sh", const_cast<char *const *>(argv), c.to, c.from, 1);
    return c;
}

// Waits (at most ten seconds) for a file written by a child, and returns its first line.
std::string wait_for_line(const std::string &path) {
    for (int i = 0; i < 1000; i++) {
        std::ifstream f(path);
        std::string line;
        if (std::getline(f, line) && !line.empty()) return line;
        usleep(10000);
    }
    return "";
}

// Sleeps until a signal ends the process; a hang becomes SIGALRM.
[[noreturn]] void wait_to_be_ended() {
    alarm(10);
    for (;;)
        pause();
}

// A private temporary directory for the children's pid files.
struct PidDir {
    std::string dir;
    PidDir() {
        char tmpl[] = "/tmp/zelk-subproc-XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    }
    ~PidDir() {
        std::string cmd = "rm -rf '" + dir + "'";
        if (dir != "/tmp" && system(cmd.c_str()) != 0) {
        }
    }
    std::string join(const std::string &name) const { return dir + "/" + name; }
};

bool process_exists(pid_t pid) {
    return kill(pid, 0) == 0 || errno != ESRCH;
}

// A long-running child that reports its process id, to check that nothing is left behind.
struct Sleeper {
    PidDir dir;
    std::string pidfile = dir.join("pid");
    std::string script = "echo $$ > " + pidfile + "; exec sleep 30";
    // In the death-test child: starts it and waits until it runs. A clean-up that waited for
    // it instead of terminating it would end by SIGALRM.
    void start() {
        alarm(10);
        unlink(pidfile.c_str());
        start_sh(script.c_str());
        REQUIRE(wait_for_line(pidfile) != "");
    }
    bool gone() { return !process_exists((pid_t)std::stoi(wait_for_line(pidfile))); }
};

auto one = ::testing::ExitedWithCode(1);

TEST(SubprocDeathTest, FailingChildEndsProgramWithStatus1) {
    // Any nonzero status is a failure, not only 1: sort and awk report their own fatal errors
    // with status 2.
    EXPECT_EXIT(
        {
            start_sh("exit 1");
            wait_to_be_ended();
        },
        one, "^$");
    EXPECT_EXIT(
        {
            start_sh("exit 2");
            wait_to_be_ended();
        },
        one, "^$");
    EXPECT_EXIT(
        {
            start_sh("kill -9 $$");
            wait_to_be_ended();
        },
        one, "^$");
    EXPECT_EXIT(
        {
            start_sh("kill -TERM $$");
            wait_to_be_ended();
        },
        one, "^$");
}

TEST(SubprocDeathTest, SuccessfulChildIsAccepted) {
    EXPECT_EXIT(
        {
            Child c = start_sh("cat; exit 0");
            REQUIRE(write(c.to[1], "abc", 3) == 3);
            close(c.to[1]);
            char buf[8];
            ssize_t n;
            while ((n = read(c.from[0], buf, sizeof buf)) < 0 && errno == EINTR) {
            }
            REQUIRE(n == 3);
            _exit(collect_children() ? 0 : 5);
        },
        ::testing::ExitedWithCode(0), "^$");
}

TEST(SubprocDeathTest, CollectChildrenCountsLateFailures) {
    // The children end while collect_children is already waiting: their statuses must not be
    // lost, whatever the status.
    auto zero = ::testing::ExitedWithCode(0);
    EXPECT_EXIT(
        {
            start_sh("sleep 0.2; exit 2");
            _exit(collect_children() == 0 ? 0 : 5);
        },
        zero, "^$");
    EXPECT_EXIT(
        {
            start_sh("sleep 0.2; kill -9 $$");
            _exit(collect_children() == 0 ? 0 : 5);
        },
        zero, "^$");
    EXPECT_EXIT(
        {
            start_sh("sleep 0.2; exit 0");
            _exit(collect_children() == 1 ? 0 : 5);
        },
        zero, "^$");
    // One failure among several children is enough.
    EXPECT_EXIT(
        {
            start_sh("sleep 0.1; exit 0");
            start_sh("sleep 0.3; exit 4");
            _exit(collect_children() == 0 ? 0 : 5);
        },
        zero, "^$");
}

TEST(SubprocDeathTest, ChildStartedInTwoCallsKeepsSigchldBlocked) {
    // The output pipe named by its number in the arguments; the child's failure is left to
    // collect_children, not to the handler, however long ago it ended.
    auto body = [] {
        int to[2], from[2];
        open_command_pipes(to, from, 0);
        std::string script = "echo ready > /dev/fd/" + std::to_string(from[1]) + "; exit 2";
        const char *argv[] = {"sh", "-c", script.c_str(), nullptr};
        start_command_on_pipes("/bin/sh", const_cast<char *const *>(argv), to, from, 0, true);
        char buf[16];
        REQUIRE(read(from[0], buf, sizeof buf) == 6 && memcmp(buf, "ready\n", 6) == 0);
        REQUIRE(read(from[0], buf, sizeof buf) == 0);
        usleep(200000);
        _exit(collect_children() == 0 ? 7 : 5);
    };
    EXPECT_EXIT(body(), ::testing::ExitedWithCode(7), "^$");
}

TEST(SubprocDeathTest, FailingChildTerminatesTheWholeGroup) {
    Sleeper child;
    EXPECT_EXIT(
        {
            child.start();
            Child b = start_sh("cat >/dev/null; exit 2");
            close(b.to[1]); // b ends with status 2
            wait_to_be_ended();
        },
        one, "^$");
    EXPECT_TRUE(child.gone()) << "orphan left behind";
}

TEST(SubprocDeathTest, SecondChildJoinsFirstChildsGroup) {
    PidDir d; // here: the death test's process ends with _exit, skipping destructors
    auto body = [&d] {
        std::string p1 = d.join("1"), p2 = d.join("2");
        std::string s1 = "echo $$ > " + p1 + "; exec cat >/dev/null";
        std::string s2 = "echo $$ > " + p2 + "; exec cat >/dev/null";
        Child a = start_sh(s1.c_str());
        Child b = start_sh(s2.c_str());
        pid_t pa = (pid_t)std::stoi(wait_for_line(p1));
        pid_t pb = (pid_t)std::stoi(wait_for_line(p2));
        REQUIRE(getpgid(pa) == pa);
        REQUIRE(getpgid(pb) == pa);
        REQUIRE(getpgid(0) != pa);
        close(a.to[1]);
        close(b.to[1]);
        _exit(collect_children() ? 0 : 5);
    };
    EXPECT_EXIT(body(), ::testing::ExitedWithCode(0), "^$");
}

TEST(SubprocDeathTest, MissingCommandGivesTheExecMessage) {
    auto body = [] {
        static const char *argv[] = {"nope", nullptr};
        int to[2], from[2];
        start_command_with_pipes("/nonexistent/nope", const_cast<char *const *>(argv), to, from, 1);
        wait_to_be_ended();
    };
    EXPECT_EXIT(body(), one,
                "^[^:]*: ERROR: exec of command '/nonexistent/nope' failed: No such file or "
                "directory\n$");
}

TEST(SubprocDeathTest, FatalErrorsAfterTheStartLeaveNoChild) {
    Sleeper child;
    // A fatal error of the library or the front end runs the clean-up.
    EXPECT_EXIT(
        {
            child.start();
            fatalf(0, "ERROR: record #%d: something", 3);
        },
        one, "ERROR: record #3: something\n$");
    EXPECT_TRUE(child.gone());

    // So does a failed output check, the one of the final flush included.
    const char *full =
        ": Error: failed writing output to standard output: No space left on device\n$";
    EXPECT_EXIT(
        {
            child.start();
            REQUIRE(freopen("/dev/full", "w", stdout) != nullptr);
            setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
            out_str("x\n");
            errcheck_stdout_exit(); // nothing written yet: no error
            cli_exit(0);
        },
        one, full);
    EXPECT_TRUE(child.gone());
    EXPECT_EXIT(
        {
            child.start();
            REQUIRE(freopen("/dev/full", "w", stdout) != nullptr);
            setvbuf(stdout, nullptr, _IONBF, 0);
            out_str("x\n");
            errcheck_stdout_exit();
            _exit(5);
        },
        one, full);
    EXPECT_TRUE(child.gone());
}

TEST(SubprocDeathTest, TerminationSignalPendingAtTheStartEndsTheChild) {
    // Sent before the child exists, it is handled once the child can be found; the child
    // starts with SIGTERM unblocked, or the clean-up would wait for it until SIGALRM.
    Sleeper child;
    EXPECT_EXIT(
        {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGTERM);
            pthread_sigmask(SIG_BLOCK, &set, nullptr);
            raise(SIGTERM);
            child.start();
            pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
            _exit(5);
        },
        ::testing::KilledBySignal(SIGTERM), "^$");
    EXPECT_TRUE(child.gone());
}

TEST(SubprocDeathTest, CleanupWithoutChildrenExitsAtOnce) {
    EXPECT_EXIT(error_cleanup_and_exit(), one, "^$");
}

TEST(Subproc, BlockSigchldSignals) {
    sigset_t orig, now;
    pthread_sigmask(SIG_SETMASK, nullptr, &orig);
    block_sigchld_signals(0);
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    EXPECT_TRUE(sigismember(&now, SIGCHLD));
    {
        StderrCapture cap;
        block_sigchld_signals(2);
        EXPECT_EQ(cap.take(), "t: ERROR: block_sigchld_signals() called incorrectly\n");
    }
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    EXPECT_TRUE(sigismember(&now, SIGCHLD));
    block_sigchld_signals(1);
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    EXPECT_FALSE(sigismember(&now, SIGCHLD));
    pthread_sigmask(SIG_SETMASK, &orig, nullptr);
}

} // namespace
