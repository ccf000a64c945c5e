// Child processes on pipes: starting, reaping, terminating and judging them.
//
// Every child started is kept in a small table with its process id, so that exactly the
// children of this module are waited for (their statuses cannot be lost to an automatic
// reaping or taken by another wait), and so that a process id is only ever signalled while it
// is still unreaped, when it cannot have been reused by an unrelated process.
//
// A program with a child in a group of its own cannot rely on SIGINT, SIGTERM or SIGHUP
// reaching the child: a terminal's Ctrl-C goes to the program's group only, and kill to the
// program alone. So from the first child on, those signals are caught (unless the program's
// caller had them ignored): the handler ends the group as the fatal path does, and the
// program then dies of the same signal, so that its caller sees what ended it.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "libsubproc.h"
#include "cli.h"
#include "libcsv.h"

namespace {

constexpr int MAX_CHILDREN = 16;

// Read and written from the signal handler, possibly in another thread: lock-free atomics.
static_assert(std::atomic<pid_t>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<pid_t> child_pid[MAX_CHILDREN]; // 0: free slot
std::atomic<int> child_reaped[MAX_CHILDREN];
std::atomic<int> child_slots;     // slots in use
std::atomic<int> children_count;  // started and not yet reaped
std::atomic<pid_t> children_pgid; // group of the children: the first child's process id
std::atomic<int> ending_signal;   // the termination signal being handled, once one is

constexpr int TERMINATION_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
bool termination_caught[NSIG]; // set before the first fork, read only afterwards

bool status_is_failure(int status) {
    return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

// Takes slot i as reaped; true for the one caller that gets it.
bool mark_reaped(int i) {
    int expected = 0;
    if (!child_reaped[i].compare_exchange_strong(expected, 1)) return false;
    children_count.fetch_sub(1);
    return true;
}

// Reaps the children that have ended, without blocking. True if one of them failed.
// Async-signal-safe.
bool reap_ended_children(void) {
    bool failed = false;
    int n = child_slots.load();
    for (int i = 0; i < n; i++) {
        pid_t pid = child_pid[i].load();
        if (pid <= 0 || child_reaped[i].load()) continue;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid && mark_reaped(i) && status_is_failure(status))
            failed = true;
    }
    return failed;
}

void set_sigchld_default(void) {
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL; // not SIG_IGN: ended children stay waitable
    sigemptyset(&sa.sa_mask);
    sigaction(SIGCHLD, &sa, nullptr);
}

// SIGTERM to the group and to every child not yet reaped, then reaps them all.
// Async-signal-safe.
void terminate_and_reap_children(void) {
    int n = child_slots.load();
    bool any = false;
    for (int i = 0; i < n; i++)
        if (child_pid[i].load() > 0 && !child_reaped[i].load()) any = true;
    if (!any) return;
    // An unreaped member keeps the group's id from being reused, so the group is ours.
    pid_t pgid = children_pgid.load();
    if (pgid > 0) killpg(pgid, SIGTERM);
    for (int i = 0; i < n; i++) {
        pid_t pid = child_pid[i].load();
        if (pid > 0 && !child_reaped[i].load()) kill(pid, SIGTERM);
    }
    for (int i = 0; i < n; i++) {
        pid_t pid = child_pid[i].load();
        if (pid <= 0 || child_reaped[i].load()) continue;
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        mark_reaped(i); // reaped here, or by a handler running in another thread
    }
}

void sigchld_mask(int how, sigset_t *old) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    pthread_sigmask(how, &set, old);
}

// SIGCHLD and the termination signals.
void child_signals_set(sigset_t *set) {
    sigemptyset(set);
    sigaddset(set, SIGCHLD);
    for (int sig : TERMINATION_SIGNALS) sigaddset(set, sig);
}

// Ends the children, then the process by sig (its default action). Async-signal-safe.
[[noreturn]] void end_by_signal(int sig) {
    set_sigchld_default(); // the children ended here are no failure to report
    terminate_and_reap_children();
    end_by_default_signal(sig);
}

void termination_handler(int sig) {
    int expected = 0;
    ending_signal.compare_exchange_strong(expected, sig);
    end_by_signal(sig);
}

// Another thread that reaches an exit of its own while a termination signal is handled
// leaves the end to that signal.
void defer_to_ending_signal(void) {
    if (int sig = ending_signal.load()) end_by_signal(sig);
}

// Installs termination_handler for the signals not ignored at the start, once. Called with
// them blocked, before the first fork.
void catch_termination_signals(void) {
    static bool done;
    if (done) return;
    done = true;
    for (int sig : TERMINATION_SIGNALS) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        struct sigaction sa = {};
        sa.sa_handler = termination_handler;
        // Nothing else of this module runs in the same thread while the handler does.
        child_signals_set(&sa.sa_mask);
        if (sigaction(sig, &sa, nullptr) == 0) termination_caught[sig] = true;
    }
}

// In the child, before exec: the dispositions and mask the command is to start with. A
// caught signal goes back to its default; SIGTERM, by which the children are ended, is never
// left ignored or blocked.
void reset_child_signals(const sigset_t *mask) {
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : TERMINATION_SIGNALS)
        if (termination_caught[sig] || sig == SIGTERM) sigaction(sig, &sa, nullptr);
    sigset_t m = *mask;
    sigaddset(&m, SIGCHLD);
    sigdelset(&m, SIGTERM);
    pthread_sigmask(SIG_SETMASK, &m, nullptr);
}

// In the child, before exec: make descriptor fd become target, kept across exec.
bool move_fd(int fd, int target) {
    if (fd == target) return fcntl(fd, F_SETFD, 0) == 0; // dup2 would keep close-on-exec
    return dup2(fd, target) == target;
}

} // namespace

int register_sigchld_handler(void) {
    struct sigaction sa = {};
    sa.sa_handler = sigchld_handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: an interrupted read or write fails with EINTR
    if (sigaction(SIGCHLD, &sa, nullptr) != 0)
        fatalf(errno, "ERROR: failed registering handler for SIGCHLD");
    set_fatal_exit(error_cleanup_and_exit);
    return 0;
}

void block_sigchld_signals(int how) {
    if (how == 0)
        sigchld_mask(SIG_BLOCK, nullptr);
    else if (how == 1)
        sigchld_mask(SIG_UNBLOCK, nullptr);
    else
        errorf(0, "ERROR: block_sigchld_signals() called incorrectly");
}

int create_signal_free_thread(pthread_t *thread, void *(*fn)(void *), void *arg) {
    sigset_t blocked, old_mask;
    child_signals_set(&blocked);
    pthread_sigmask(SIG_BLOCK, &blocked, &old_mask);
    int rc = pthread_create(thread, nullptr, fn, arg);
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    return rc;
}

int run_command_in_subprocess_wpipes(const char *command, char *const argv[], int *in_pipe,
                                     int *out_pipe, char dup_stdout) {
    // Whatever the program has buffered must not be written a second time by the child.
    fflush(stdout);
    fflush(stderr);
    // SIGCHLD and the termination signals stay blocked until the child is in the table and in
    // the group, whatever the caller did: a handler in between would miss it.
    sigset_t blocked, old_mask;
    child_signals_set(&blocked);
    pthread_sigmask(SIG_BLOCK, &blocked, &old_mask);
    catch_termination_signals();
    set_fatal_exit(error_cleanup_and_exit);

    int slot = child_slots.load();
    bool new_group = children_count.load() == 0;
    pid_t group = new_group ? 0 : children_pgid.load();
    pid_t pid;
    if (slot == MAX_CHILDREN) {
        pid = -1;
        errno = EAGAIN;
    } else {
        pid = fork();
    }
    if (pid < 0) {
        fatalf(errno, "Error: failed creating subprocess for command '%s'", command);
    }

    if (pid == 0) {
        // Join the group before exec, so that no command ever runs outside it.
        setpgid(0, group);
        reset_child_signals(&old_mask);
        // The output pipe's end must not be overwritten by the input pipe's.
        int out_fd = out_pipe ? out_pipe[1] : -1;
        if (out_fd == STDIN_FILENO) out_fd = fcntl(out_fd, F_DUPFD_CLOEXEC, 3);
        if (!move_fd(in_pipe[0], STDIN_FILENO) || (out_pipe && out_fd < 0)) {
            errorf(errno, "ERROR: failed to dup FD for '%s' subprocess", command);
            _exit(1);
        }
        if (out_pipe) {
            if (dup_stdout & 0xff) {
                if (!move_fd(out_fd, STDOUT_FILENO)) {
                    errorf(errno, "ERROR: failed to dup FD for '%s' subprocess", command);
                    _exit(1);
                }
            } else {
                close(STDOUT_FILENO);
            }
        }
        execv(command, argv);
        errorf(errno, "ERROR: exec of command '%s' failed", command);
        _exit(1);
    }

    child_reaped[slot].store(0);
    child_pid[slot].store(pid);
    child_slots.store(slot + 1);
    children_count.fetch_add(1);
    if (new_group) children_pgid.store(pid);
    int r = setpgid(pid, children_pgid.load());
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    return r;
}

void sigchld_handler(int) {
    int saved_errno = errno;
    if (reap_ended_children()) {
        set_sigchld_default();
        terminate_and_reap_children();
        defer_to_ending_signal();
        _exit(1);
    }
    errno = saved_errno;
}

void error_cleanup_and_exit(void) {
    // The handler must not end the process half-way through (without flushing output) when
    // the children it is about to terminate report their deaths.
    sigchld_mask(SIG_BLOCK, nullptr);
    set_sigchld_default();
    terminate_and_reap_children();
    defer_to_ending_signal();
    exit(1);
}

int collect_children(void) {
    sigset_t old_mask;
    sigchld_mask(SIG_BLOCK, &old_mask);
    set_sigchld_default();
    int ok = 1;
    int n = child_slots.load();
    for (int i = 0; i < n; i++) {
        pid_t pid = child_pid[i].load();
        if (pid <= 0 || child_reaped[i].load()) continue; // judged by the handler
        int status;
        pid_t r;
        while ((r = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (!mark_reaped(i)) continue;
        // A status that could not be obtained is not a success.
        if (r != pid || status_is_failure(status)) ok = 0;
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    return ok;
}

namespace {
int sigpipe_state; // 0: not yet ignored; 1: ignored here; 2: ignored by the caller already
} // namespace

void ignore_sigpipe(void) {
    if (sigpipe_state != 0) return;
    sigpipe_state = signal(SIGPIPE, SIG_IGN) == SIG_IGN ? 2 : 1;
    if (sigpipe_state == 1) set_broken_output_exit(broken_output_exit);
}

void broken_output_exit(void) {
    sigchld_mask(SIG_BLOCK, nullptr);
    set_sigchld_default();
    terminate_and_reap_children();
    defer_to_ending_signal();
    end_by_default_signal(SIGPIPE);
}

void exit_if_output_broken(int err) {
    if (err == EPIPE && sigpipe_state == 1) broken_output_exit();
}

void arg_vector_init(arg_vector *v, int max, const char *alloc_message, const char *limit_format) {
    v->max = max;
    v->count = 0;
    v->limit_format = limit_format;
    v->argv = (char **)calloc((size_t)max, sizeof(char *));
    if (!v->argv) fatalf(errno, "%s", alloc_message);
}

void arg_vector_add(arg_vector *v, const char *entry) {
    if (v->count >= v->max - 1) fatalf(0, v->limit_format, v->count + 1, v->max - 1);
    v->argv[v->count++] = const_cast<char *>(entry);
}
