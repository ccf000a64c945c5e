// libsubproc: one external command as a child process on pipes, kept in one process group,
// reaped on SIGCHLD, terminated with its group on any fatal error, and judged at the end.
//
// Calling protocol (one child per program, started before any second thread exists):
//
//   1. int to_child[2], from_child[2];
//      pipe2(to_child, O_CLOEXEC); and pipe2(from_child, O_CLOEXEC) when the command's
//      standard output is to be the pipe (dup_stdout 1), or plain pipe(from_child) when the
//      command writes to "/dev/fd/N" with N = from_child[1] (dup_stdout 0). Failure:
//      fatalf(errno, "ERROR: failed creating pipes").
//   2. ignore_sigpipe();
//   3. register_sigchld_handler();
//   4. block_sigchld_signals(0);
//   5. run_command_in_subprocess_wpipes(command, argv, to_child, from_child, dup_stdout);
//   6. block_sigchld_signals(1);
//   7. close(to_child[0]); close(from_child[1]);
//   8. write the child's input to to_child[1]; read its results from from_child[0];
//   9. close(to_child[1]) at the end of input, drain from_child[0], then
//      status = collect_children() ? 0 : 1 (combined with the program's own verdict), and
//      end with cli_exit(status), whose final output check still runs the clean-up.
//
// start_command_with_pipes() performs steps 1 to 7 in that order (it also keeps the read end
// of a plain from_child pipe out of the command, so that a command writing to it cannot block
// forever once the program has gone). A command whose arguments name the output pipe by its
// number (awk's program text) is started in two calls, its arguments completed in between:
// open_command_pipes() performs steps 1 and 2, start_command_on_pipes() steps 3 to 7, and
// leaves step 6 to the caller when asked to (awk keeps SIGCHLD blocked until it has said
// that it is ready, or to its end, so that its failure is judged where its output ends).
//
// Fatal errors: from the first register_sigchld_handler() or started child on, the fatal path
// of libcsv and the front end (fatalf, fatal_exit, errcheck_stdout_exit, cli_exit's output
// check) ends through error_cleanup_and_exit(), so a fatal error after a child has started is
// written the same way as any other: fatalf(errnum, ...) with its message, or fatal_exit()
// after a message already given (such as a reader's syntax error).
//
// A failing child (any nonzero exit status, or death by a signal) ends the program with
// status 1 from the SIGCHLD handler, after the group has been sent SIGTERM and every child has
// been reaped. The handler does only async-signal-safe work (waitpid, kill, killpg, _exit),
// and runs in the main thread only (see "Two threads" below). Because it ends with _exit,
// standard output still held in the stdio buffer at that moment is not written; the run has
// failed (status 1) either way, and programs that must have written a part first (the header)
// flush it themselves.
//
// The handler is installed without SA_RESTART: a blocking read or write that it interrupts
// fails with EINTR, which the programs treat as any other read or write error.
//
// Termination signals: the children's group receives neither a terminal's Ctrl-C nor a kill
// sent to the program, so the first run_command_in_subprocess_wpipes() catches SIGINT,
// SIGTERM and SIGHUP, each unless it was ignored when the program started (a job run with
// nohup or in the background stays immune, as it was meant to be). The handler ends the
// group as the fatal path does (SIGTERM, every child reaped; sort removes its temporary
// files as it goes), restores the signal's default action and raises it again, so that the
// program dies of it: a shell sees status 128 + N, and standard output still buffered is not
// written. The signals are blocked around the fork and the entry of the child in the table,
// so a signal that arrives meanwhile is handled once the child can be found; before the first
// child it finds nothing to end, and after the last child is reaped likewise. The child
// starts the command with them at their defaults (or still ignored), and SIGTERM neither
// ignored nor blocked, whatever the program inherited. Once a termination signal is being
// handled, the other exits of this module (the fatal path, the SIGCHLD handler, the broken
// output) in another thread end by that signal too. The handler does only async-signal-safe
// work and runs with SIGCHLD and the other two signals blocked.
//
// Two threads: create the second thread only after step 7, with create_signal_free_thread,
// which starts it with SIGCHLD and the termination signals blocked: their handlers then run
// only in the main thread. In the second thread they could interrupt the thread's own
// teardown, which holds the sanitizer allocator's locks that the handlers' _exit needs (a
// deadlock, with the main thread waiting in pthread_join). Join it before collect_children().
#pragma once

#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "libcsv.h"

// Installs sigchld_handler for SIGCHLD (empty mask, no SA_RESTART) and makes the fatal path
// end through error_cleanup_and_exit. Returns 0; failure of sigaction is fatal with
// "ERROR: failed registering handler for SIGCHLD".
int register_sigchld_handler(void);

// how 0: block SIGCHLD in the calling thread; how 1: unblock it. Anything else prints
// "ERROR: block_sigchld_signals() called incorrectly" and changes nothing.
void block_sigchld_signals(int how);
// pthread_create for a program's second thread, which starts with SIGCHLD and the termination
// signals blocked (see "Two threads" above); the caller's mask is unchanged. Returns
// pthread_create's result.
int create_signal_free_thread(pthread_t *thread, void *(*fn)(void *), void *arg);

// Forks and executes command (absolute path, no PATH search) with argv (null-terminated),
// catching the termination signals from the first call on (see above). The
// child's standard input is in_pipe[0]; with out_pipe, its standard output is out_pipe[1]
// when dup_stdout is set, else closed. The first child leads a new process group and later
// ones join it; both parent and child set the group, so the command is in it before it runs.
// Returns the result of the parent's setpgid (0, or -1 when the child got there first).
// Fork failure: "Error: failed creating subprocess for command '%s'", then the clean-up.
// In the child, "ERROR: failed to dup FD for '%s' subprocess" or
// "ERROR: exec of command '%s' failed" and exit status 1.
int run_command_in_subprocess_wpipes(const char *command, char *const argv[], int *in_pipe,
                                     int *out_pipe, char dup_stdout);

// Steps 1 to 7 of the protocol above. Pipe failure is fatal with "ERROR: failed creating
// pipes". Afterwards to_child[1] and from_child[0] are the program's ends.
inline void start_command_with_pipes(const char *command, char *const argv[], int to_child[2],
                                     int from_child[2], char dup_stdout);
// The same in two calls: steps 1 and 2, then steps 3 to 7, with SIGCHLD still blocked at the
// end when keep_sigchld_blocked (block_sigchld_signals(1) unblocks it; collect_children judges
// the child meanwhile).
inline void open_command_pipes(int to_child[2], int from_child[2], char dup_stdout);
inline void start_command_on_pipes(const char *command, char *const argv[], int to_child[2],
                                   int from_child[2], char dup_stdout, bool keep_sigchld_blocked);

// Reaps every started child that has ended; if one of them failed, terminates the group and
// exits with status 1.
void sigchld_handler(int sig);

// Sends SIGTERM to the children's group (and to each child not yet reaped), reaps them all
// and exits with status 1. Prints nothing. With no child running it simply exits 1.
[[noreturn]] void error_cleanup_and_exit(void);

// The argument vector of a child (awk, sort): at most max - 1 entries and the final null.
// Entries are stored, not copied.
struct arg_vector {
    char **argv;
    int max;
    int count;
    const char *limit_format; // the fatal message when full, given count + 1 and max - 1
};
// Allocates the vector, zeroed; failure is fatal with alloc_message and the system error.
void arg_vector_init(arg_vector *v, int max, const char *alloc_message, const char *limit_format);
// Stores entry at the next index; fatal with limit_format when only the final null is left.
void arg_vector_add(arg_vector *v, const char *entry);

// Stops the handler, then waits for every started child not yet reaped. Returns 1 when every
// child exited with status 0, else 0. A child that ends while this runs still counts.
int collect_children(void);

// SIGPIPE ignored (step 2), so that writing to a child that has gone fails with EPIPE. Unless
// SIGPIPE was ignored already when the program started, a broken standard output then ends
// the program as it ends the others: quietly, by SIGPIPE, after the children have been
// terminated (broken_output_exit, also called by the output check).
void ignore_sigpipe(void);
// Terminates and reaps the children without a word, then dies of SIGPIPE.
[[noreturn]] void broken_output_exit(void);
// After a failed write to standard output: broken_output_exit when err is EPIPE and SIGPIPE
// was not ignored by the program's caller; otherwise returns, for the error to be reported.
void exit_if_output_broken(int err);

// ---- Starting a child ------------------------------------------------------------------------
// Written out where a program starts its one child: as functions of their own the calls would
// cost each program more than the steps themselves.

void open_command_pipes(int to_child[2], int from_child[2], char dup_stdout) {
    // Written by descriptor number, the output pipe's write end must survive exec; its read
    // end must not, or the command would hold a reader of its own output.
    if (pipe2(to_child, O_CLOEXEC) != 0 ||
        (dup_stdout ? pipe2(from_child, O_CLOEXEC) : pipe(from_child)) != 0 ||
        (!dup_stdout && fcntl(from_child[0], F_SETFD, FD_CLOEXEC) != 0))
        fatalf(errno, "ERROR: failed creating pipes");
    ignore_sigpipe();
}

void start_command_on_pipes(const char *command, char *const argv[], int to_child[2],
                            int from_child[2], char dup_stdout, bool keep_sigchld_blocked) {
    register_sigchld_handler();
    block_sigchld_signals(0);
    run_command_in_subprocess_wpipes(command, argv, to_child, from_child, dup_stdout);
    if (!keep_sigchld_blocked) block_sigchld_signals(1);
    close(to_child[0]);
    close(from_child[1]);
}

void start_command_with_pipes(const char *command, char *const argv[], int to_child[2],
                              int from_child[2], char dup_stdout) {
    open_command_pipes(to_child, from_child, dup_stdout);
    start_command_on_pipes(command, argv, to_child, from_child, dup_stdout, false);
}
