// What an installation gives a user: the installed tree (programs, pages, completions, the
// library with its CMake and pkg-config files, a program of one's own linked against it),
// the completion of header names, and the Debian package run from a scratch root.
#include <filesystem>

#include "harness.h"

namespace {

const std::string BUILD = ZELK_BUILD_DIR;
const std::string FLAGS = ZELK_CONSUMER_FLAGS;

// Ten lines against the installed libcsv: record number, field count, field 2 unquoted.
const char *const COUNT_CPP = R"(#include <cstdio>
#include <libcsv.h>
int main() {
    char **fields, error;
    int count;
    for (int n = 1; (count = csv_record_read_and_split(stdin, "input", n, 1, &fields, &error)) >= 0;
         n++)
        printf("%d:%d:%s\n", n, count, count > 1 ? csv_field_unquote(fields[1], 1) : "");
    return error;
}
)";
const char *const COUNT_IN = "a,\"b,c\"\nx,\"\"\"y\"\"\"\n\nlast\n";
const char *const COUNT_OUT = "1:2:b,c\n2:2:\"y\"\n3:0:\n4:1:\n";

// s quoted for sh.
std::string q(const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The completions of word cword of a command line (-1: the last), run by bash with an
// installed completion script, one a line.
RunResult complete(const std::string &script, const std::string &path_dir,
                   const std::vector<std::string> &words, const std::string &cwd,
                   int cword = -1) {
    if (cword < 0) cword = (int)words.size() - 1;
    std::string array;
    for (const auto &w : words) array += " " + q(w);
    RunOptions o;
    o.cwd = cwd;
    return run_shell("PATH=" + q(path_dir) + ":$PATH bash -c " +
                         q(". \"$0\"; COMP_WORDS=(\"$@\"); COMP_CWORD=" + std::to_string(cword) + "; _zelk; "
                           "printf \"%s\\n\" \"${COMPREPLY[@]}\"") +
                         " " + q(script) + array,
                     o);
}

} // namespace

TEST(InstalledTree, ShipsEverythingAndLinksLibcsv) {
    TempDir dir;
    const std::string p = dir.join("prefix");
    RunResult inst = run_shell("cmake --install " + q(BUILD) + " --prefix " + q(p) + " >/dev/null");
    ASSERT_EQ(inst.status, 0) << inst.err;
    std::vector<std::string> files = {
        "share/man/man7/zelk.7", "share/man/man3/libcsv.3", "include/zelk/libcsv.h",
        "include/zelk/libsubproc.h", "lib/libzelk.a", "lib/pkgconfig/zelk.pc",
        "lib/cmake/zelk/zelkConfig.cmake", "lib/cmake/zelk/zelkConfigVersion.cmake",
        "share/zsh/vendor-completions/_zelk", "share/doc/zelk/examples/sample.csv"};
    for (const auto &name : program_names())
        for (const auto &f : {"bin/" + name, "share/man/man1/" + name + ".1",
                              "share/bash-completion/completions/" + name})
            files.push_back(f);
    for (const auto &f : files) EXPECT_TRUE(std::filesystem::exists(p + "/" + f)) << f;
    EXPECT_RUN(run_shell(q(p + "/bin/zelk-colnum") + " --version"), 0,
               "zelk-colnum (zelk) " ZELK_VERSION "\n", "");
    // The pages' examples run on the installed sample file, at the path the pages name.
    EXPECT_EQ(read_file(p + "/share/doc/zelk/examples/sample.csv"),
              read_file(std::string(ZELK_SOURCE_DIR) + "/examples/sample.csv"));
    EXPECT_EQ(read_file(p + "/share/doc/zelk/copyright"),
              read_file(std::string(ZELK_SOURCE_DIR) + "/cmake/copyright"));
    for (const auto &page : {"share/man/man1/zelk-row-tally.1", "share/man/man7/zelk.7"})
        EXPECT_NE(read_file(p + "/" + page).find("/usr/share/doc/zelk/examples/sample.csv"),
                  std::string::npos)
            << page;

    // pkg-config, then CMake's find_package.
    dir.file("count.cpp", COUNT_CPP);
    dir.file("in.csv", COUNT_IN);
    RunOptions o;
    o.cwd = dir.path();
    RunResult pc = run_shell("g++ -std=c++20 " + FLAGS + " count.cpp $(PKG_CONFIG_PATH=" +
                                 q(p + "/lib/pkgconfig") +
                                 " pkg-config --cflags --libs zelk) -o count-pc 2>&1",
                             o);
    ASSERT_EQ(pc.status, 0) << pc.out;
    EXPECT_RUN(run_shell("./count-pc < in.csv", o), 0, COUNT_OUT, "");

    dir.file("CMakeLists.txt", "cmake_minimum_required(VERSION 3.25)\n"
                               "project(count CXX)\n"
                               "find_package(zelk 0.1 REQUIRED)\n"
                               "add_executable(count count.cpp)\n"
                               "target_link_libraries(count PRIVATE zelk::zelk)\n");
    RunResult cm = run_shell("cmake -S . -B b -DCMAKE_PREFIX_PATH=" + q(p) +
                                 " -DCMAKE_CXX_FLAGS=" + q(FLAGS) +
                                 " >/dev/null 2>&1 && cmake --build b 2>&1",
                             o);
    ASSERT_EQ(cm.status, 0) << cm.out;
    EXPECT_RUN(run_shell("b/count < in.csv", o), 0, COUNT_OUT, "");

    // The installed completion: options, and header names after -Q, without the BOM and
    // the quotes that the file has, quoted for the shell as the word was begun.
    dir.file("h.csv", "\xEF\xBB\xBFid,\"full name\",\"first-name\"\n1,2,3\n");
    dir.file("odd.csv", "\"$(touch x)\",*,\"It's\",\"`id`\",\"a\nb\",\"say \"\"hi\"\"\"\n");
    dir.file("k.csv", "key,v\n");
    const std::string bash = p + "/share/bash-completion/completions/zelk-match";
    const std::string bin = p + "/bin";
    struct Case {
        std::vector<std::string> words;
        int cword; // -1: the last word
        std::string expected;
    } cases[] = {
        {{"zelk-match", "-Q", "f", "x", "h.csv"}, 2, "full\\ name\nfirst-name\n"},
        {{"zelk-match", "-Q", "'f", "x", "h.csv"}, 2, "full name\nfirst-name\n"},
        {{"zelk-match", "-Q", "\"full", "x", "h.csv"}, 2, "full name\n"},
        {{"zelk-match", "-Q", "full\\ ", "x", "h.csv"}, 2, "full\\ name\n"},
        {{"zelk-columns", "-Q", "h.csv", "id,fi"}, -1, "id,first-name\n"},
        {{"zelk-columns", "-Q", "h.csv", "id,'fu"}, -1, "full name\n"},
        {{"zelk-colnum", "i", "h.csv"}, 1, "id\n"},
        {{"zelk-setcell", "-Q", "2", "f", "x", "h.csv"}, 3, "full\\ name\nfirst-name\n"},
        // Names that the shell would run, glob or split, inserted in the quotes begun.
        {{"zelk-columns", "-Q", "odd.csv", "'"},
         -1,
         "$(touch x)\n*\nIt'\\''s\n`id`\na\nb\nsay \"hi\"\n"},
        {{"zelk-columns", "-Q", "odd.csv", "\"$"}, -1, "\\$(touch x)\n"},
        // zelk-merge: each key field from its own file, and only with -Q.
        {{"zelk-merge", "-Q", "", "h.csv", "k", "k.csv"}, 2, "id\nfull\\ name\nfirst-name\n"},
        {{"zelk-merge", "-Q", "-s", ";", "id", "h.csv", "", "k.csv"}, 6, "key\nv\n"},
        {{"zelk-merge", "i", "h.csv", "k", "k.csv"}, 1, "in.csv\n"},
        {{"zelk-merge", "-Q", "id,fi", "h.csv", "k", "k.csv"}, 2, "id,first-name\n"},
        // zelk-order-keys: the KEYDEF after -k, attached or in the next word; no operand.
        {{"zelk-order-keys", "-Q", "-kfu", "h.csv"}, 2, "-kfull\\ name\n"},
        {{"zelk-order-keys", "-Qo", "-k", "f", "h.csv"}, 3, "full\\ name\nfirst-name\n"},
        {{"zelk-order-keys", "-Q", "-k'fu", "h.csv"}, 2, "full name\n"},
        {{"zelk-order-keys", "-Q", "-kid", "h."}, -1, "h.csv\n"},
        // The AWK programs' -Q names fields inside the code, not in an operand.
        {{"zelk-match-rows", "-Q", "i", "h.csv"}, 2, "in.csv\n"},
        // Options, with the one that zelk-order-keys' Usage line requires.
        {{"zelk-match", "-x"}, -1, "-x\n"},
        {{"zelk-order-keys", "-k"}, -1, "-k\n"},
        {{"zelk-show", "-"},
         -1,
         "-h -- include header field names when printing fields (when FIRST_RECORD>1)\n"
         "-nNUM -- number of records to print (1 by default)\n"},
        // Without -Q, and for an option's file argument, file names.
        {{"zelk-match", "h.", "x"}, 1, "h.csv\n"},
        {{"zelk-match", "-f", "count.c"}, -1, "count.cpp\n"},
    };
    for (const auto &c : cases) {
        std::string line;
        for (const auto &w : c.words) line += "[" + w + "]";
        SCOPED_TRACE(line);
        EXPECT_RUN(complete(bash, bin, c.words, dir.path(), c.cword), 0, c.expected, "");
    }
    // Unquoted, each name is inserted as a word that the shell reads back as the name: nothing
    // in it is run, globbed or split.
    RunResult odd = complete(bash, bin, {"zelk-columns", "-Q", "odd.csv", ""}, dir.path());
    std::string words;
    for (size_t i = 0, j; (j = odd.out.find('\n', i)) != std::string::npos; i = j + 1)
        words += " " + odd.out.substr(i, j - i);
    RunOptions in_dir;
    in_dir.cwd = dir.path();
    EXPECT_RUN(run_shell("bash -c " + q("printf '[%s]' " + words), in_dir), 0,
               "[$(touch x)][*][It's][`id`][a\nb][say \"hi\"]", "");
    EXPECT_FALSE(std::filesystem::exists(dir.join("x")));
    RunResult keys = complete(bash, bin, {"zelk-order-keys", "-"}, dir.path());
    EXPECT_NE(keys.out.find("\n-kKEYDEF -- a sort key: FIELD[n|g|d|i][r] (required, repeatable)\n"),
              std::string::npos)
        << keys.out;
}

TEST(DebianPackage, ContentsAndARunFromAScratchRoot) {
    if (!ZELK_PACKAGE_TEST) GTEST_SKIP() << "the package is built from the release build only";
    TempDir dir;
    RunOptions o;
    o.cwd = dir.path();
    RunResult pack = run_shell("cpack -G DEB --config " + q(BUILD + "/CPackConfig.cmake") +
                                   " -B pkg >/dev/null 2>&1 && ls pkg/*.deb",
                               o);
    ASSERT_EQ(pack.status, 0) << pack.err;
    const std::string deb = pack.out.substr(0, pack.out.find('\n'));
    RunResult depends = run_shell("dpkg-deb -f " + q(deb) + " Depends", o);
    EXPECT_NE(depends.out.find("gawk"), std::string::npos) << depends.out;
    RunResult contents = run_shell("dpkg-deb -c " + q(deb) + " | awk '{print $6}'", o);
    ASSERT_EQ(contents.status, 0);
    for (const auto &f : {"./usr/bin/zelk-match", "./usr/share/man/man1/zelk-match.1.gz",
                          "./usr/share/man/man7/zelk.7.gz", "./usr/share/man/man3/libcsv.3.gz",
                          "./usr/share/doc/zelk/copyright", "./usr/share/doc/zelk/changelog.gz",
                          "./usr/include/zelk/libcsv.h", "./usr/lib/libzelk.a",
                          "./usr/lib/pkgconfig/zelk.pc", "./usr/lib/cmake/zelk/zelkConfig.cmake",
                          "./usr/share/bash-completion/completions/zelk-match",
                          "./usr/share/doc/zelk/examples/sample.csv"})
        EXPECT_NE(contents.out.find(std::string(f) + "\n"), std::string::npos) << f;
    EXPECT_EQ(run_shell("dpkg-deb -c " + q(deb) + " | grep -c '/usr/bin/zelk-'", o).out,
              std::to_string(program_names().size()) + "\n");

    ASSERT_EQ(run_shell("dpkg -x " + q(deb) + " root", o).status, 0);
    // The compressed pages and changelog are the repository's texts.
    const std::string src = ZELK_SOURCE_DIR;
    for (const auto &[packed, text] :
         {std::pair{"root/usr/share/man/man1/zelk-match.1.gz", src + "/man/zelk-match.1"},
          std::pair{"root/usr/share/man/man7/zelk.7.gz", src + "/man/zelk.7"},
          std::pair{"root/usr/share/doc/zelk/changelog.gz", src + "/cmake/changelog"}}) {
        SCOPED_TRACE(packed);
        EXPECT_RUN(run_shell(std::string("gzip -dc ") + packed, o), 0, read_file(text), "");
    }
    dir.file("in.csv", "a,b\n1,2\n3,4\n");
    EXPECT_RUN(run_shell("root/usr/bin/zelk-row-tally -h -v in.csv", o), 0, "2\n", "");
    EXPECT_RUN(run_shell("root/usr/bin/zelk-row-tally -h -v "
                         "root/usr/share/doc/zelk/examples/sample.csv",
                         o),
               0, "7\n", "");
    // The pkg-config file finds the library wherever the tree was unpacked.
    EXPECT_RUN(run_shell("PKG_CONFIG_PATH=root/usr/lib/pkgconfig pkg-config --libs zelk | "
                         "sed 's/ *$//'",
                         o),
               0, "-Lroot/usr/lib/pkgconfig/../../lib -lzelk -pthread\n", "");

    // Debian's checker finds no error in it.
    if (run_shell("command -v lintian").status != 0)
        GTEST_SKIP() << "lintian is not installed: the package is not checked against Debian "
                        "policy (scripts/deps installs it)";
    RunResult lint = run_shell("lintian --fail-on error " + q(deb) + " 2>&1", o);
    EXPECT_EQ(lint.status, 0) << lint.out;
}
