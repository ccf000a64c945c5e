#include "harness.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "program_list.h"

namespace {

struct IgnoreSigpipe {
    IgnoreSigpipe() { signal(SIGPIPE, SIG_IGN); }
} ignore_sigpipe; // a child that stops reading early must not kill the test

RunResult run_argv(const std::string &path, const std::vector<std::string> &argv,
                   const RunOptions &opts, const std::vector<std::string> &extra_env = {}) {
    TempDir io;
    std::string in_path = io.file("stdin", opts.input);
    std::string out_path = opts.stdout_path.empty() ? io.join("stdout") : opts.stdout_path;
    std::string err_path = io.join("stderr");

    int in_pipe[2] = {-1, -1};
    if (opts.input_pipe && pipe(in_pipe) != 0) throw std::runtime_error("pipe");

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        int in = opts.input_pipe ? in_pipe[0] : open(in_path.c_str(), O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(250);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (opts.input_pipe) {
            close(in_pipe[0]);
            close(in_pipe[1]);
        }
        if (!opts.cwd.empty() && chdir(opts.cwd.c_str()) != 0) _exit(251);
        for (const std::string &e : extra_env) putenv(const_cast<char *>(e.c_str()));
        for (const std::string &e : opts.env) putenv(const_cast<char *>(e.c_str()));
        signal(SIGPIPE, SIG_DFL);
        std::vector<char *> av;
        for (const std::string &a : argv) av.push_back(const_cast<char *>(a.c_str()));
        av.push_back(nullptr);
        execv(path.c_str(), av.data());
        _exit(252);
    }
    if (opts.input_pipe) {
        close(in_pipe[0]);
        const char *p = opts.input.data();
        size_t left = opts.input.size();
        while (left > 0) {
            ssize_t n = write(in_pipe[1], p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break; // the child stopped reading
            p += n;
            left -= (size_t)n;
        }
        close(in_pipe[1]);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    RunResult r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    if (opts.stdout_path.empty()) r.out = read_file(out_path);
    r.err = read_file(err_path);
    return r;
}

} // namespace

Live::Live(const std::string &tool, const std::vector<std::string> &args) {
    int ip[2], op[2];
    // Close-on-exec, so that no other program started meanwhile holds the ends open.
    if (pipe2(ip, O_CLOEXEC) != 0 || pipe2(op, O_CLOEXEC) != 0) return;
    pid = fork();
    if (pid == 0) {
        dup2(ip[0], 0);
        dup2(op[1], 1);
        close(ip[0]), close(ip[1]), close(op[0]), close(op[1]);
        std::vector<std::string> all = {tool};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> av;
        for (std::string &a : all)
            av.push_back(a.data());
        av.push_back(nullptr);
        execv(tool_path(tool).c_str(), av.data());
        _exit(252);
    }
    close(ip[0]), close(op[1]);
    in = ip[1], out = op[0];
}

std::string Live::read_for(const std::string &want, int seconds) {
    std::string got;
    for (int waited = 0; got != want && waited < seconds * 10; waited++) {
        struct pollfd p = {out, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buf[256];
            ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, (size_t)n);
        }
    }
    return got;
}

int Live::finish() {
    close(in);
    std::string rest = read_for("\x01never", 10);
    close(out);
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

RunOptions with_input(const std::string &input, bool pipe) {
    RunOptions o;
    o.input = input;
    o.input_pipe = pipe;
    return o;
}

std::string tool_path(const std::string &tool) { return std::string(ZELK_TOOLS_DIR) + "/" + tool; }

RunResult run_tool(const std::string &tool, const std::vector<std::string> &args,
                   const RunOptions &opts) {
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_argv(opts.executable.empty() ? tool_path(tool) : opts.executable, argv, opts);
}

RunResult run_tool(const std::string &tool, const std::vector<std::string> &args,
                   const std::string &input) {
    RunOptions o;
    o.input = input;
    return run_tool(tool, args, o);
}

RunResult run_shell(const std::string &script, const RunOptions &opts) {
    const char *path = getenv("PATH");
    std::string env = std::string("PATH=") + ZELK_TOOLS_DIR + ":" + (path ? path : "/usr/bin:/bin");
    return run_argv("/bin/sh", {"sh", "-c", script}, opts, {env});
}

std::string read_error(const std::string &tool, const std::string &what, const std::string &file,
                       const std::string &at) {
    return tool + ": ERROR: " + what + "\n" + tool + ": file:  '" + file + "'\n" +
           (at.empty() ? "" : tool + ": " + at + "\n");
}

void expect_runs(const std::string &tool, const std::vector<RunCase> &cases) {
    for (size_t i = 0; i < cases.size(); i++) {
        const RunCase &c = cases[i];
        SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + tool + " " +
                     ::testing::PrintToString(c.args));
        EXPECT_RUN(run_tool(tool, c.args, c.in), c.status, c.out, c.err);
    }
}

TempDir::TempDir() {
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zelk-test.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp");
    dir_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec; // a directory that cannot be removed is left behind
    std::filesystem::remove_all(dir_, ec);
}

std::string TempDir::file(const std::string &name, const std::string &contents) const {
    std::string p = join(name);
    std::ofstream f(p, std::ios::binary);
    f.write(contents.data(), (std::streamsize)contents.size());
    return p;
}

std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string test_data(const std::string &rel) {
    return std::string(ZELK_SOURCE_DIR) + "/tests/data/" + rel;
}

std::string usage_text(const std::string &tool) {
    std::string path = test_data("usage/" + tool + ".txt");
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("no usage golden file " + path);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::vector<std::string> program_names() {
    std::vector<std::string> names;
    for (const ListedProgram &p : PROGRAM_LIST)
        names.push_back(p.name);
    return names;
}
