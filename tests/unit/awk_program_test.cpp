// What awk is asked to run: the texts around the user's code, run by the real awk and read
// back with a frame reader of the test's own, and the scan of the code for getline.
#include <clocale>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <list>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "awk_exchange.h"
#include "awk_program.h"
#include "cli.h"
#include "unit.h"

namespace {

const char *const ASSIGNMENTS[] = {"-vRS=\x18", "-vFS=\x19", "-vORS=\x18", nullptr};
const std::string RS = "\x18", FS = "\x19", READY = FS, FLUSH = FS + "\"" + RS;

// A new vector with the user's code, given as (option letter, argument) pairs.
void begin_argv(const std::vector<std::pair<char, std::string>> &code) {
    static std::list<std::string> kept; // the vector holds the entries, not copies
    opt_usecode = opt_usefile = 0;
    awk_argv_begin(32, "alloc", "limit %d %d", ASSIGNMENTS);
    for (const auto &[c, arg] : code)
        awk_code_option(c, kept.emplace_back(arg).c_str());
}

// Frees the vector and its two texts: the head after "awk", the assignments and "-e"; the tail
// last.
void free_argv(char *const *argv) {
    int n = 0;
    while (argv[n])
        n++;
    free(argv[std::size(ASSIGNMENTS) + 1]), free(argv[n - 1]), free(const_cast<char **>(argv));
}

// Runs awk with the vector on input; what it wrote to standard output.
std::string run_awk(char *const *argv, const std::string &input) {
    char in[] = "/tmp/zelk-awkprog-in-XXXXXX", out[] = "/tmp/zelk-awkprog-out-XXXXXX";
    int in_fd = mkstemp(in), out_fd = mkstemp(out);
    EXPECT_EQ(write(in_fd, input.data(), input.size()), (ssize_t)input.size());
    lseek(in_fd, 0, SEEK_SET);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
    posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
    pid_t pid;
    int st = -1;
    if (posix_spawn(&pid, AWK_COMMAND, &fa, nullptr, argv, environ) == 0) waitpid(pid, &st, 0);
    posix_spawn_file_actions_destroy(&fa);
    EXPECT_EQ(st, 0);
    std::string got(4096, '\0');
    got.resize((size_t)pread(out_fd, got.data(), got.size(), 0));
    close(in_fd), close(out_fd), unlink(in), unlink(out);
    free_argv(argv);
    return got;
}

// The results as the transport reads them: "=" and the value, or "!" for a value without one;
// a verdict of 1 as "=1".
std::vector<std::string> read_frames(const std::string &out) {
    std::vector<std::string> frames;
    EXPECT_EQ(out.substr(0, 1), READY);
    for (size_t i = 1; i < out.size();) {
        size_t end = out.find('\x18', i);
        bool verdict = out[i] == '\x1c' || out[i] == '\x1d';
        if ((out[i] != '\x19' && !verdict) || end == std::string::npos)
            return frames.push_back("stray"), frames;
        std::string frame = out[i] == '\x1c' ? "=1" : out[i] == '\x1d' ? "=" : "";
        if (out[i] == '\x1c' && end != i + 1) return frames.push_back("stray"), frames;
        for (size_t j = i + 1; j < end; j++)
            frame += out[j] != '\x1a' ? out[j] : out[++j] == '\x01' ? '\x18' : '\x1a';
        frames.push_back(frame);
        i = end + 1;
    }
    return frames;
}

} // namespace

TEST(AwkProgram, OneResultTextsFrameEveryValue) {
    // Values escaped in their frame, a flush request left out of NR, a value skipped by next.
    begin_argv({{'e', "{ if ($0 == \"skip\") next }"}});
    const char *expr = "$0 == \"esc\" ? \"a\\030b\\032c\" : $0 \"#\" NR";
    std::string out = run_awk(awk_argv_complete(AWK_ONE_RESULT, expr, 1, true, false),
                              "x" + RS + FLUSH + "esc" + RS + "y" + RS + "skip" + RS + FLUSH);
    std::vector<std::string> want = {"=x#1", "=a" + RS + "b\x1a" + "c", "=y#3", "!"};
    EXPECT_EQ(read_frames(out), want);
}

TEST(AwkProgram, VerdictsDecideAsResultsDo) {
    // Values equal to 1 or 0 of every type, and others, each decided on alike from its result
    // frame and from its verdict frame.
    const char *expr = "$0 == \"n1\" ? 1 : $0 == \"n0\" ? 0 : $0 == \"neg\" ? -0 : "
                       "$0 == \"s0\" ? \"0\" : $0 == \"u\" ? __zelk_unset : "
                       "$0 == \"half\" ? 0.5 : $0 == \"esc\" ? \"\\030\" : $0";
    std::string in;
    for (const char *v : {"n1", "n0", "neg", "s0", "u", "half", "esc", "0", "1", "0.0", " 1", "-0",
                          "+0 ", "1e0", "0x1", "", "x", "00"})
        in += v + RS;
    std::vector<std::string> got[2];
    for (awk_mode mode : {AWK_ONE_RESULT, AWK_ONE_VERDICT}) {
        begin_argv({});
        got[mode == AWK_ONE_VERDICT] =
            read_frames(run_awk(awk_argv_complete(mode, expr, 1, true, false), in + FLUSH));
    }
    ASSERT_EQ(got[0].size(), 18u);
    ASSERT_EQ(got[1].size(), 18u);
    for (size_t i = 0; i < got[0].size(); i++) {
        ASSERT_EQ(got[1][i].substr(0, 1), "=") << i;
        EXPECT_EQ(awk_result_is_true(got[0][i].data() + 1, (int)got[0][i].size() - 1),
                  awk_result_is_true(got[1][i].data() + 1, (int)got[1][i].size() - 1))
            << i << " " << got[0][i];
    }
}

TEST(AwkProgram, StreamTextsPrintEveryRecord) {
    // One empty field printed as "", no field as an empty record; a flush request left out.
    for (bool flush_each : {false, true}) {
        begin_argv({{'e', R"($0 == "e" { $1 = "" } $0 == "z" { $0 = "" } NF > 1 { $2 = NR })"}});
        std::string in = "a" + FS + "b" + RS + (flush_each ? "" : FLUSH) + "e" + RS + "z" + RS +
                         "c" + FS + "d" + RS;
        EXPECT_EQ(run_awk(awk_argv_complete(AWK_STREAM, nullptr, 1, !flush_each, flush_each), in),
                  READY + "a 1" + RS + "\"\"" + RS + RS + "c 4" + RS)
            << flush_each;
    }
}

TEST(AwkProgram, CodeThatMayReadInput) {
    std::string dir = testing::TempDir(), near_end = dir + "awkprog-near-end.awk",
                plain = dir + "awkprog-plain.awk";
    // A word cut at 64 KiB, where the scan once cut the file in pieces, and a file without one.
    std::ofstream(near_end) << "{ x = 1 }\n#" << std::string((1 << 16) - 10, 'x')
                            << "\n{ getline }\n";
    std::ofstream(plain) << "{ get = line }\n";
    struct Row {
        std::vector<std::pair<char, std::string>> code;
        bool may;
    } rows[] = {
        {{{'e', "{ $1 = 1 }"}}, false},
        {{{'e', "{ getline x }"}}, true},
        {{{'e', "{ x = 1 }"}, {'l', plain}}, false},
        {{{'e', "@include \"x\" {}"}}, true},
        {{{'f', plain}, {'l', near_end}}, true},
        {{{'f', dir + "awkprog-missing.awk"}}, true}, // awk will refuse it
    };
    for (const Row &r : rows) {
        begin_argv(r.code);
        EXPECT_EQ(awk_code_may_read_ahead(), r.may) << r.code.back().second;
        free_argv(awk_argv_complete(AWK_STREAM, nullptr, 1, false, false));
    }
    unlink(near_end.c_str()), unlink(plain.c_str());
}

TEST(AwkProgram, CodeThatLooksAtCharacters) {
    std::string dir = testing::TempDir(), counts = dir + "awkprog-counts.awk",
                plain = dir + "awkprog-plain.awk";
    std::ofstream(counts) << "function f(s) { return toupper(s) }\n";
    std::ofstream(plain) << "function half(x) { return x / 2 }\n";
    struct Row {
        const char *expr;
        std::vector<std::pair<char, std::string>> code;
        bool none;
    } rows[] = {
        {"$3 > 5000 && NR % 2 == 0", {}, true},
        {"$2/2 == 1 || (NR)/2 || a[1]/3", {}, true},
        {"half($1) > 1", {{'l', plain}}, true},
        {"f($1) == \"A\"", {{'l', counts}}, false},
        {"1", {{'l', dir + "awkprog-missing.awk"}}, false},
        {"length($1) == 1", {}, false},
        {"$1 ~ \"a\"", {}, false},
        {"/a./", {}, false},
        {"x + /a./", {}, false},
        {"1", {{'e', "function g() { return /a./ }"}}, false},
        {"1", {{'e', "function g(x) { if (x) /a./ ? n++ : m++ }"}}, false},
        {"1", {{'e', "function g(x) { while (x == \")\") /a./ ? n++ : m++ }"}}, false},
        {"1", {{'e', "function g(x) { if (f(x) > 1) n = (x + 1) / 2 }"}}, true},
        {"$1 == \"\xc3\xa9\"", {}, false},
        {"ENVIRON[\"LC_ALL\"] != \"\"", {}, false},
        {"(FS = \".\") && $2", {}, false},
        {"sprintf(\"%3s\", $1) != 1", {}, false},
    };
    for (const Row &r : rows) {
        begin_argv(r.code);
        EXPECT_EQ(awk_code_names_no_characters(r.expr), r.none) << r.expr;
        free_argv(awk_argv_complete(AWK_ONE_RESULT, "1", 1, true, false));
    }
    unlink(counts.c_str()), unlink(plain.c_str());
}

TEST(AwkProgram, BytesAsCharactersOnlyWhereNothingElseChanges) {
    // name=value settings of the environment (an empty value unsets), and what awk is given.
    struct Row {
        std::vector<std::pair<const char *, const char *>> env;
        bool bytes;
        std::vector<std::pair<const char *, const char *>> after;
    } rows[] = {
        {{{"LC_ALL", "C.UTF-8"}},
         true,
         {{"LC_ALL", nullptr},
          {"LC_CTYPE", "C"},
          {"LC_MESSAGES", "C.UTF-8"},
          {"LC_COLLATE", "C.UTF-8"},
          {"LC_NUMERIC", "C.UTF-8"}}},
        {{{"LANG", "C.UTF-8"}}, true, {{"LC_CTYPE", "C"}, {"LANG", "C.UTF-8"}}},
        {{{"LANG", "C"}}, false, {{"LC_CTYPE", nullptr}}},
        {{{"LC_ALL", "C.UTF-8"}, {"LANGUAGE", "de"}}, false, {{"LC_ALL", "C.UTF-8"}}},
        {{{"LANG", "C.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}}, false, {{"LC_CTYPE", nullptr}}},
    };
    const char *vars[] = {
        "LC_ALL",       "LC_CTYPE",       "LC_MESSAGES",       "LC_COLLATE", "LC_NUMERIC",
        "LC_MONETARY",  "LC_TIME",        "LC_PAPER",          "LC_NAME",    "LC_ADDRESS",
        "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION", "LANG",       "LANGUAGE"};
    std::vector<std::pair<const char *, std::string>> saved;
    for (const char *v : vars)
        if (const char *val = getenv(v)) saved.emplace_back(v, val);
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    if (!utf8) GTEST_SKIP() << "no C.UTF-8 locale";
    freelocale(utf8);
    for (const Row &r : rows) {
        for (const char *v : vars)
            unsetenv(v);
        for (const auto &[name, value] : r.env)
            setenv(name, value, 1);
        EXPECT_EQ(awk_use_byte_characters(), r.bytes) << r.env[0].second;
        for (const auto &[name, value] : r.after) {
            const char *got = getenv(name);
            EXPECT_EQ(got ? std::string(got) : "(unset)", value ? value : "(unset)") << name;
        }
    }
    for (const char *v : vars)
        unsetenv(v);
    for (const auto &[name, value] : saved)
        setenv(name, value.c_str(), 1);
}

TEST(AwkProgram, RecognisesAnAwkThatAcceptsDashE) {
    EXPECT_TRUE(awk_accepts_option_e(AWK_COMMAND));
    EXPECT_FALSE(awk_accepts_option_e("/nonexistent/awk"));
    // An awk without -e, where one is installed.
    if (access("/usr/bin/mawk", X_OK) == 0) {
        EXPECT_FALSE(awk_accepts_option_e("/usr/bin/mawk"));
    }
}

TEST(AwkProgram, FieldNamesAgreeWithTheHeaderLookup) {
    // Every field's bytes and value asked for by name, against the programs' own lookup: the
    // names cross awk's string syntax, framing bytes, several texts and pieces of long names.
    std::string long_names;
    for (int i = 0; i < 10; i++)
        long_names += ",\"" + std::string(3000, (char)(1 + i)) + "\"";
    const std::string headers[] = {
        "\"a\",a,\"a\"",
        "\xEF\xBB\xBF\"x y\",b,x y",
        "\xEF\xBB\xBF"
        "a,\"q\"\"t\",b\\s,\"l\nf\",\"c,d\",\x18\x19\x1a,\x7f,\xc3\xa9,,\"\"",
        std::string(20000, '\xc3') + long_names,
    };
    setenv("LC_ALL", "C", 1); // unhex makes bytes, not characters
    for (const std::string &header : headers) {
        MemStream in(header + "\n");
        int numfields;
        char **fields, error;
        char *text = csv_record_read_and_parse(in, "h", 1, 1, &numfields, &fields, &error);
        ASSERT_TRUE(text) << header;
        const char *end = text + csv_record_parse_length();
        begin_argv({{'e', "function unhex(h,  s, i) { for (i = 1; i < length(h); i += 2) "
                          "s = s sprintf(\"%c\", strtonum(\"0x\" substr(h, i, 2))); return s }"}});
        awk_set_field_names(numfields, fields, end);
        std::string input, hex = "0123456789abcdef";
        std::vector<std::string> want;
        for (int i = 1; i <= numfields; i++) {
            int len = csv_parsed_field_length(fields, numfields, i, end);
            char value[MAX_RECORD_LENGTH];
            for (std::string name :
                 {std::string(fields[i - 1], (size_t)len),
                  std::string(value, header_field_value(fields[i - 1], len, i, value))}) {
                for (unsigned char c : name)
                    input += {hex[c >> 4], hex[c & 15]};
                input += RS;
                want.push_back("=" + std::to_string(header_field_lookup(name.c_str(), numfields,
                                                                        fields, end)));
            }
        }
        char *const *argv =
            awk_argv_complete(AWK_ONE_RESULT, "zelk_col(unhex($0))", 1, true, false);
        EXPECT_EQ(read_frames(run_awk(argv, input + FLUSH)), want) << header.substr(0, 40);
    }
}
