#include <filesystem>

#include "awk_helpers.h"
#include "harness.h"

namespace {

const char *SR = "zelk-script-rows";

const std::string SRM = "zelk-script-rows: ";

TEST(ScriptRows, Runs) {
    // Untouched records come back byte for byte, quoted commas and line feeds included.
    const std::string quoted = "n,v\n\"x,y\",\"p\nq\"\n\"a\"\"b\",\n";
    // Records close to the limit, so that awk's output spans several reads.
    const std::string big(65000, 'x');
    const std::string values =
        "n,v,w\na,\"x,y\",1\nb,\"say \"\"hi\"\"\",\"q\"\nc,plain,\nd,\"p\nq\",\"\"\n\"\"\n";
    const std::vector<RunCase> runs = {
        // Records are rewritten.
        {argv("-e", "{$2=$2*2}"), "n,v\na,1\nb,2\n", "n,v\na,2\nb,4\n"},
        {argv("-e", "{}"), quoted, quoted},
        {argv("-e", "$2>1{next}{}"), "n,v\na,1\nb,2\nc,0\n", "n,v\na,1\nc,0\n"},
        {argv("-a", "total", "-e", "{$3=$1+$2}"), "x,y\n1,2\n", "x,y,total\n1,2,3\n"},
        {argv("-h", "-e", "NR==2{$0=$0 \",\" NF}"), "a,b\nc,d\n", "a,b\nc,d,2\n"},
        {argv("-o", "-e", "{}"), "a,b\nc,d\n", "c,d\n"},
        // -Q: fields by header name (a quoted one's value); an unknown name fails at once.
        {argv("-Q", "-e", "{$zelk_col(\"x,y\")=$zelk_col(\"p\\nq\") $zelk_col(\"n\")}"),
         "n,\"x,y\",\"p\nq\"\na,b,c\n", "n,\"x,y\",\"p\nq\"\na,ca,c\n"},
        {argv("-Qo", "-e", "BEGIN{zelk_col(\"v\")}"), "n\na\n", "",
         SRM + "ERROR: field name 'v' not found in header\n", 1},
        {argv("-Q", "-e{}"), "\"n\n", "",
         SRM + "ERROR: record #1, field #1: quoted field not closed by double quote\n" + SRM +
             "file:  'standard input'\n" + SRM + "line 1, byte 1\n",
         1},
        // -u: the code gets values; fields it leaves are written as read, those it sets are
        // quoted where they need it, new ones too.
        {argv("-u", "-e", "{}"), values, values},
        {argv("-u", "-e", "$2 == \"x,y\" || $2 == \"say \\\"hi\\\"\" {$3 = length($2)}"), values,
         "n,v,w\na,\"x,y\",3\nb,\"say \"\"hi\"\"\",8\nc,plain,\nd,\"p\nq\",\"\"\n\"\"\n"},
        {argv("-u", "-e", "{$2 = $2 \"!\"; $4 = \"new,\" NF}"), values,
         "n,v,w\na,\"x,y!\",1,\"new,3\"\nb,\"say \"\"hi\"\"!\",\"q\",\"new,3\"\n"
         "c,plain!,,\"new,3\"\nd,\"p\nq!\",\"\",\"new,3\"\n\"\",!,,\"new,2\"\n"},
        {argv("-u", "-e", "{$1 = $1 + 0}"), "h\n\"1.0\"\n1.0\n\"1\"\n", "h\n1\n1\n\"1\"\n"},
        {argv("-u", "-e", "{$1 = \"\"}"), "h\n\"a\"\n\"\"\n", "h\n\"\"\n\"\"\n"},
        {argv("-u", "-Q", "-e", "{$zelk_col(\"x,y\") = $zelk_col(\"x,y\") \"\\r\"}"),
         "n,\"x,y\"\na,\"b\"\"\"\n", "n,\"x,y\"\na,\"b\"\"\r\"\n"},
        // A record read with getline could hold values or text as read: refused, not guessed.
        {argv("-u", "-e", "NR == 1 {getline x} {}"), "h\n\"a,b\"\nc\n", "h\n",
         SRM + "ERROR: with -u, AWK code must not read records itself (getline moved NR)\n", 1},
        // Blank records, and CR LF.
        {argv("-e", "{}"), "h\n\na\n", "h\na\n"},
        {argv("-b", "-e", "{}"), "h\n\na\n", "h\n\na\n"},
        {argv("-t", "-e", "{$2=$2+1}"), "h\n" + big + ",1\n" + big + ",2\n" + big + ",3\n",
         "h\r\n" + big + ",2\r\n" + big + ",3\r\n" + big + ",4\r\n"},
        // Option checks.
        {argv("-e", "x"), "h\n", "",
         SRM + "Error: -eCODE must be a valid AWK program, i.e., rule(s): [pattern]{actions}!\n",
         1},
        {argv("-e", "{}", "-f", "code.awk"), "h\n", "",
         SRM + "Error: use only -e or -f, but not both!\n", 1},
        {argv(), "h\n", "", SRM + "Error: Must supply AWK code via -e or -f option!\n", 1},
        {argv("-o", "-a", "x", "-e{}"), "h\n", "",
         SRM + "Error: -a and -o options not compatible!\n", 1},
        {argv("-a", "x", "-h", "-e{}"), "h\n", "",
         SRM + "Error: -a and -h options not compatible!\n", 1},
        {argv("-h", "-o", "-e{}"), "h\n", "", SRM + "Error: -h and -o options not compatible!\n",
         1},
        {argv("-e{}"), "", "", SRM + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        {argv("-h", "-e{}"), "", ""},
    };
    expect_runs(SR, runs);
}

TEST(ScriptRows, ManyRecordsStreamBothWays) {
    std::string in = "n\n", out = "n\n";
    for (int i = 0; i < 20000; i++) {
        in += std::to_string(i) + "\n";
        if (i % 3) out += std::to_string(i) + "," + std::to_string(i * i) + "\n";
    }
    EXPECT_RUN(run_tool(SR, {"-e", "$1 % 3 == 0 {next} {$2 = $1 * $1}"}, in), 0, out, "");
}

// The fields of a CSV text by RFC 4180, each as its text and its value, record by record (a
// blank line a record of none); false for a text that is not such CSV.
using ModelField = std::pair<std::string, std::string>;
bool model_records(const std::string &s, std::vector<std::vector<ModelField>> &out) {
    size_t i = 0, n = s.size();
    auto at_end = [&](size_t j) { return j == n || s[j] == '\n' || s.compare(j, 2, "\r\n") == 0; };
    while (i < n) {
        std::vector<ModelField> rec;
        if (!at_end(i)) {
            for (;;) {
                size_t start = i;
                std::string value;
                if (s[i] == '"') {
                    for (i++;; i++) {
                        if (i == n) return false;
                        if (s[i] != '"') {
                            value += s[i];
                        } else if (i + 1 < n && s[i + 1] == '"') {
                            value += s[i++];
                        } else {
                            break;
                        }
                    }
                    i++;
                } else {
                    while (i < n && s[i] != ',' && !at_end(i)) {
                        if (s[i] == '"' || s[i] == '\r') return false;
                        value += s[i++];
                    }
                }
                rec.emplace_back(s.substr(start, i - start), value);
                if (i < n && s[i] == ',') {
                    i++;
                    continue;
                }
                if (!at_end(i)) return false;
                break;
            }
        }
        out.push_back(rec);
        i += i < n && s[i] == '\r' ? 2 : 1;
    }
    return true;
}

// Every record of the project's awkward files, and of the shared corpora when present, goes
// through -u unchanged, whether the code leaves its fields or sets each to itself; set to new
// values, the fields come back quoted exactly where a comma, quote or line break needs it.
TEST(ScriptRows, ValuesRoundTrip) {
    std::vector<std::string> files;
    for (const char *dir :
         {ZELK_SOURCE_DIR "/tests/data/csv", ZELK_SOURCE_DIR "/../shared/corpora/csv-spectrum/csvs",
          ZELK_SOURCE_DIR "/../shared/corpora/csvkit-examples/examples"})
        if (std::filesystem::is_directory(dir))
            for (const auto &e : std::filesystem::directory_iterator(dir))
                files.push_back(e.path());
    int modelled = 0;
    for (const std::string &file : files) {
        SCOPED_TRACE(file);
        RunResult plain = run_tool(SR, {"-b", "-e{}", file});
        if (plain.status != 0) continue; // not CSV the reader takes
        for (const char *code : {"{}", "{for (i = 1; i <= NF; i++) $i = $i \"\"}"})
            EXPECT_RUN(run_tool(SR, {"-b", "-u", "-e", code, file}), 0, plain.out, plain.err);
        std::vector<std::vector<ModelField>> recs;
        if (!model_records(read_file(file), recs) || recs.empty()) continue;
        modelled++;
        std::string expected;
        for (size_t r = 0; r < recs.size(); r++) {
            for (size_t f = 0; f < recs[r].size(); f++) {
                std::string v = recs[r][f].second + "~";
                if (r == 0) {
                    v = recs[r][f].first;
                } else if (v.find_first_of(",\"\r\n") != std::string::npos) {
                    std::string q = "\"";
                    for (char c : v)
                        q += c == '"' ? "\"\"" : std::string(1, c);
                    v = q + "\"";
                }
                expected += (f ? "," : "") + v;
            }
            expected += "\n";
        }
        EXPECT_RUN(
            run_tool(SR, {"-b", "-u", "-e", "{for (i = 1; i <= NF; i++) $i = $i \"~\"}", file}), 0,
            expected, plain.err);
    }
    EXPECT_GE(modelled, 8);
}

TEST(ScriptRows, AwkFailureIsNeverSuccess) {
    TempDir dir;
    // gawk ends with status 2 here; no record is waited for, yet the run fails.
    RunResult r = run_tool(SR, {"-f", dir.join("missing.awk")}, "h\na\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.awk"), std::string::npos) << r.err;
    r = run_tool(SR, {"-e", "NR == 2 { exit 3 } {}"}, "h\na\nb\nc\n");
    EXPECT_EQ(r.status, 1);
    r = run_tool(SR, {"-e", "{"}, "h\na\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // exit in the code ends the output early; its status decides, however much input is left.
    std::string in = "h\n";
    for (int i = 0; i < 50000; i++) in += "r" + std::to_string(i) + "\n";
    EXPECT_RUN(run_tool(SR, {"-e", "NR == 3 { exit } {}"}, in), 0, "h\nr0\nr1\n", "");
    EXPECT_RUN(run_tool(SR, {"-e", "NR == 3 { exit } {}"}, "h\na\nb\nc\n"), 0, "h\na\nb\n", "");
    r = run_tool(SR, {"-e", "NR == 3 { exit 4 } {}"}, in);
    EXPECT_EQ(r.status, 1);
}

TEST(ScriptRows, FatalErrorsLeaveNoAwkBehind) {
    TempDir dir;
    std::string lib = dir.file("marker-sr.awk", "");
    // Records sent before the fatal one may or may not have come back when awk is stopped.
    RunResult r = run_tool(SR, {"-l", lib, "-e{}"}, "h\na\nb\x18\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("h\n", 0), 0u);
    EXPECT_EQ(r.err, "zelk-script-rows: ERROR: record #3 holds the byte 0x18, which cannot be "
                     "passed to AWK (it delimits records and fields there)\n");
    EXPECT_FALSE(process_with_argument_exists(lib));
    r = run_tool(SR, {"-l", lib, "-e{}"}, "h\n\"open\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(process_with_argument_exists(lib));
    RunOptions o;
    o.input = "h\na\n";
    o.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool(SR, {"-l", lib, "-e{}"}, o), 1, "",
               "zelk-script-rows: Error: failed writing output to standard output: No space left "
               "on device\n");
    o.input = "a\n";
    EXPECT_RUN(run_tool(SR, {"-h", "-l", lib, "-e{}"}, o), 1, "",
               "zelk-script-rows: ERROR: failed reformatting records with terminator: No space "
               "left on device\n");
    EXPECT_FALSE(process_with_argument_exists(lib));
}

} // namespace
