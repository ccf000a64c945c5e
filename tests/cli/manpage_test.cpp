// The manual pages against the programs: every option letter and operand of a usage text is
// in its page and every option of a page is in the usage text; the pages format without
// warnings; the examples run as written on the sample file and print what the page shows.
#include <algorithm>
#include <filesystem>
// g++ 12 warns of a std::function inside <regex> that it cannot see initialised, under the
// sanitizers' instrumentation only: a false report from the library's own code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <set>
#include <sstream>

#include "harness.h"

namespace {

const std::string MAN_DIR = std::string(ZELK_SOURCE_DIR) + "/man";

std::vector<std::string> pages() {
    std::vector<std::string> paths;
    for (const auto &e : std::filesystem::directory_iterator(MAN_DIR)) {
        std::string ext = e.path().extension();
        if (ext == ".1" || ext == ".3" || ext == ".7") paths.push_back(e.path());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// The lines of one section (".SH NAME" up to the next .SH) of a page source.
std::vector<std::string> section(const std::vector<std::string> &page, const std::string &name) {
    std::vector<std::string> out;
    bool in = false;
    for (const auto &l : page) {
        if (l.rfind(".SH ", 0) == 0) {
            in = l == ".SH " + name;
            continue;
        }
        if (in) out.push_back(l);
    }
    return out;
}

// Text as the reader sees it, for the escapes the example blocks use.
std::string unescape(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
        } else if (s.compare(i, 4, "\\(aq") == 0) {
            out += '\'';
            i += 3;
        } else if (s[i + 1] == 'e') {
            out += '\\';
            i++;
        } else if (s[i + 1] == '-') {
            out += '-';
            i++;
        } else if (s[i + 1] == '&') {
            i++;
        } else {
            ADD_FAILURE() << "escape not understood in an example: " << s;
        }
    }
    return out;
}

std::string rstrip(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
}

struct Usage {
    std::set<char> letters;
    std::set<std::string> operands;
};

// Option lines ("  -X..." with one or two blanks) and the operands of the "Usage" lines.
Usage parse_usage(const std::string &text) {
    Usage u;
    static const std::regex option_line("^ {1,2}-([^ -])");
    static const std::regex word("[A-Z][A-Z0-9_]*[A-Z0-9]");
    for (const auto &l : lines_of(text)) {
        std::smatch m;
        if (std::regex_search(l, m, option_line)) u.letters.insert(m[1].str()[0]);
        if (l.rfind("Usage", 0) != 0) continue;
        for (auto it = std::sregex_iterator(l.begin(), l.end(), word);
             it != std::sregex_iterator(); ++it) {
            std::string w = it->str();
            if (w != "OPTION" && w != "OPTIONS") u.operands.insert(w);
        }
    }
    return u;
}

// The option letters of a page: ".B \-X" or ".BI \-XARG" tags in OPTIONS.
std::set<char> page_letters(const std::vector<std::string> &page) {
    std::set<char> letters;
    static const std::regex tag(R"(^\.BI? \\-([^\\ ]))");
    for (const auto &l : section(page, "OPTIONS")) {
        std::smatch m;
        if (std::regex_search(l, m, tag)) letters.insert(m[1].str()[0]);
    }
    return letters;
}

std::string letters_text(const std::set<char> &s) { return std::string(s.begin(), s.end()); }

} // namespace

TEST(ManPages, AgreeWithUsageTexts) {
    for (const auto &name : program_names()) {
        SCOPED_TRACE(name);
        std::string path = MAN_DIR + "/" + name + ".1";
        ASSERT_TRUE(std::filesystem::exists(path)) << "no page " << path;
        std::vector<std::string> page = lines_of(read_file(path));
        RunResult help = run_tool(name, {"--help"});
        ASSERT_EQ(help.status, 0);
        Usage usage = parse_usage(help.out);
        ASSERT_FALSE(usage.operands.empty() && usage.letters.empty());
        EXPECT_EQ(letters_text(page_letters(page)), letters_text(usage.letters))
            << "option letters of the page (left) and the usage text (right)";
        std::vector<std::string> synopsis = section(page, "SYNOPSIS"),
                                 operands = section(page, "OPERANDS");
        for (const auto &op : usage.operands) {
            auto named = [&](const std::vector<std::string> &lines) {
                return std::any_of(lines.begin(), lines.end(), [&](const std::string &l) {
                    return l.find(op) != std::string::npos;
                });
            };
            EXPECT_TRUE(named(synopsis)) << op << " missing from SYNOPSIS";
            EXPECT_TRUE(std::find(operands.begin(), operands.end(), ".I " + op) !=
                            operands.end() ||
                        std::find(operands.begin(), operands.end(), ".I " + op + "...") !=
                            operands.end())
                << op << " not described under OPERANDS";
        }
        std::vector<std::string> status = section(page, "EXIT STATUS");
        for (const char *s : {".B 0", ".B 1"})
            EXPECT_NE(std::find(status.begin(), status.end(), s), status.end())
                << "exit status " << s << " not described";
    }
}

TEST(ManPages, FormatWithoutWarnings) {
    std::string all;
    for (const auto &path : pages()) all += " '" + path + "'";
    // One troff run; its warnings name the file and line.
    EXPECT_RUN(run_shell("groff -man -ww -z" + all), 0, "", "");
}

// Each "$ command" line of an example block (sections 1 and 7) is run with the sample file
// in the working directory; the lines up to the next command or the block's end are its
// output (trailing blanks aside).
TEST(ManPages, ExamplesRunAsWritten) {
    TempDir dir;
    std::filesystem::copy(std::string(ZELK_SOURCE_DIR) + "/examples", dir.path(),
                          std::filesystem::copy_options::recursive);
    RunOptions opts;
    opts.cwd = dir.path();
    int total = 0;
    for (const auto &path : pages()) {
        if (path.back() == '3') continue; // the library page shows C++ code
        std::vector<std::string> page = lines_of(read_file(path));
        std::vector<std::string> examples = section(page, "EXAMPLES");
        // A reader learns where the sample file is installed: from the examples' opening
        // sentence, or (in the suite's page) under FILES.
        const std::string where = "/usr/share/doc/zelk/examples/sample.csv";
        std::string text;
        for (const auto &l : examples) text += l + "\n";
        for (const auto &l : section(page, "FILES")) text += l + "\n";
        if (text.find("sample.csv") != std::string::npos) {
            EXPECT_NE(text.find(where), std::string::npos) << path << ": " << where << " not named";
        }
        int count = 0;
        std::string command, expected;
        auto run = [&]() {
            if (command.empty()) return;
            RunResult r = run_shell("LC_ALL=C; export LC_ALL; " + command, opts);
            std::string out;
            for (const auto &l : lines_of(r.out)) out += rstrip(l) + "\n";
            EXPECT_EQ(out, expected) << path << ": " << command << "\n" << r.err;
            EXPECT_EQ(r.status, 0) << path << ": " << command << "\n" << r.err;
            count++;
            command.clear();
            expected.clear();
        };
        bool in_block = false;
        for (const auto &l : examples) {
            if (l == ".EX") {
                in_block = true;
            } else if (l == ".EE") {
                run();
                in_block = false;
            } else if (in_block && l.rfind("$ ", 0) == 0) {
                run();
                command = unescape(l.substr(2));
            } else if (in_block) {
                expected += rstrip(unescape(l)) + "\n";
            }
        }
        EXPECT_GE(count, 2) << path << ": fewer than two examples";
        total += count;
    }
    EXPECT_GE(total, 58);
}

TEST(Version, EveryProgramFromTheProject) {
    for (const auto &name : program_names()) {
        EXPECT_RUN(run_tool(name, {"--version"}), 0, name + " (zelk) " ZELK_VERSION "\n", "");
        // Only as the first argument, like --help.
        RunResult late = run_tool(name, {"-Z", "--version"});
        EXPECT_EQ(late.status, 1) << name;
        EXPECT_EQ(late.out, "") << name;
    }
}
