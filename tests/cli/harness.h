// Runs the built programs on small inputs and captures stdout, stderr and the exit status
// byte for byte.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include <gtest/gtest.h>

struct RunResult {
    std::string out;
    std::string err;
    int status = -1; // exit status, or 128 + signal number
};

struct RunOptions {
    std::string input;        // standard input (a regular file unless input_pipe)
    bool input_pipe = false;  // feed standard input through a pipe instead of a file
    std::string stdout_path;  // send standard output here instead of capturing it (/dev/full)
    std::string cwd;          // working directory for the child ("" = inherit)
    std::vector<std::string> env; // NAME=VALUE settings added to the child's environment
    std::string executable;   // run this file, under the program's name, instead of the program
};

// Standard input of the given bytes, through a pipe or from a regular file.
RunOptions with_input(const std::string &input, bool pipe);

// Path of a built program, e.g. tool_path("zelk-concat").
std::string tool_path(const std::string &tool);
// Runs a program with argv[0] set to its plain name, so that messages begin "zelk-x: ".
RunResult run_tool(const std::string &tool, const std::vector<std::string> &args,
                   const RunOptions &opts = {});
RunResult run_tool(const std::string &tool, const std::vector<std::string> &args,
                   const std::string &input);
// Runs a /bin/sh script with the programs' directory first on PATH.
RunResult run_shell(const std::string &script, const RunOptions &opts = {});

// A program running with its standard input and output on pipes, for what it writes while
// its input stays open.
struct Live {
    pid_t pid = -1;
    int in = -1, out = -1; // the write end of its input, the read end of its output
    Live(const std::string &tool, const std::vector<std::string> &args);
    // What the program writes within seconds, until it has written want.
    std::string read_for(const std::string &want, int seconds);
    // Closes its input, reads its output to the end and returns its exit status.
    int finish();
};

// A temporary directory, removed with everything in it when it goes out of scope.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return dir_; }
    // Writes a file of the given bytes and returns its path.
    std::string file(const std::string &name, const std::string &contents) const;
    std::string join(const std::string &name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

std::string read_file(const std::string &path);
// An input file of the repository's tests/data, e.g. test_data("csv/ragged.csv").
std::string test_data(const std::string &rel);
// A program's usage text, as "--help" prints it: the golden file tests/data/usage/TOOL.txt.
std::string usage_text(const std::string &tool);
// The names of all the programs, as tools/programs.txt lists them.
std::vector<std::string> program_names();

// What is said of a record the readers refuse (bad syntax, too long, a field too many): the
// error, then the input it is in, then where in it (at, "line L, byte B"), when known.
std::string read_error(const std::string &tool, const std::string &what,
                       const std::string &file = "standard input", const std::string &at = "");

// Compares all three results at once, showing every mismatch.
#define EXPECT_RUN(r, exp_status, exp_out, exp_err)                                            \
    do {                                                                                       \
        const RunResult &r_ = (r);                                                             \
        EXPECT_EQ(r_.out, std::string(exp_out)) << "stdout";                                   \
        EXPECT_EQ(r_.err, std::string(exp_err)) << "stderr";                                   \
        EXPECT_EQ(r_.status, (exp_status)) << "exit status";                                   \
    } while (0)

// One row of a table of runs of one program: its arguments and standard input, and what the run
// must write to standard output and standard error and the status it must exit with.
struct RunCase {
    std::vector<std::string> args;
    std::string in;
    std::string out;
    std::string err = "";
    int status = 0;
};

// A row's arguments: argv("-u", ";"), argv() for none.
template <class... Args> std::vector<std::string> argv(const Args &...args) {
    return {std::string(args)...};
}

// Runs every row, comparing all three results and naming the row's arguments on a mismatch.
void expect_runs(const std::string &tool, const std::vector<RunCase> &cases);

// Use std::string for literals that hold NUL bytes: "a\0b"s.
using namespace std::string_literals;
