#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-dedupe");

struct Dedupe : ::testing::Test {
    TempDir dir;
    // Keys a, a, b, a in field 2.
    std::string runs = dir.file("runs.csv", "n,k\n1,a\n2,a\n3,b\n4,a\n");
};

TEST_F(Dedupe, KeepsLastOfEachRunByDefaultFirstWithF) {
    EXPECT_RUN(run_tool("zelk-dedupe", {"2", runs}), 0, "n,k\n2,a\n3,b\n4,a\n", "");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-f", "2", runs}), 0, "n,k\n1,a\n3,b\n4,a\n", "");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-t", "2", runs}), 0, "n,k\r\n2,a\r\n3,b\r\n4,a\r\n", "");
    // Standard input when no CSVFILE is named; a run at the very end is still written.
    EXPECT_RUN(run_tool("zelk-dedupe", {"1"}, "k\nx\nx\nx\n"), 0, "k\nx\n", "");
}

TEST_F(Dedupe, KeysCompareAsRawBytes) {
    // A quoted key is not the same key as its bare value; multi-line records are kept whole.
    std::string q = dir.file("q.csv", "k,v\na,1\n\"a\",2\n\"a\",\"x\ny\"\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"1", q}), 0, "k,v\na,1\n\"a\",\"x\ny\"\n", "");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-f", "1", q}), 0, "k,v\na,1\n\"a\",2\n", "");
    // Keys that agree up to a NUL byte but differ after it are different keys, and the
    // records are written whole.
    std::string n = dir.file("n.csv", "k,v\na\0x,1\na\0y,2\na\0y,3\n"s);
    EXPECT_RUN(run_tool("zelk-dedupe", {"1", n}), 0, "k,v\na\0x,1\na\0y,3\n"s, "");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-f", "1", n}), 0, "k,v\na\0x,1\na\0y,2\n"s, "");
}

TEST_F(Dedupe, HeaderProcessedOrLookedUp) {
    // With -h the first record takes part in the comparison.
    std::string h = dir.file("h.csv", "a,1\na,2\nb,3\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-h", "1", h}), 0, "a,2\nb,3\n", "");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-hf", "1", h}), 0, "a,1\nb,3\n", "");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-Q", "k", runs}), 0, "n,k\n2,a\n3,b\n4,a\n", "");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-Q", "z", runs}), 1, "",
               "zelk-dedupe: ERROR: FIELD name 'z' not found in header\n");
}

TEST_F(Dedupe, NoDataRecords) {
    std::string hdr = dir.file("hdr.csv", "n,k\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"2", hdr}), 1, "n,k\n",
               "zelk-dedupe: Warning: no records to process\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-f", "2", hdr}), 0, "n,k\n", "");
    // Not even a header: a failure in both modes, and never a silent one.
    for (const char *mode : {"-t", "-f"})
        EXPECT_RUN(run_tool("zelk-dedupe", {mode, "2"}, ""), 1, "",
                   "zelk-dedupe: Warning: no records to process\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-h", "2"}, ""), 1, "",
               "zelk-dedupe: Warning: no records to process\n");
}

TEST_F(Dedupe, RecordWithoutKeyFieldStops) {
    std::string blank = dir.file("blank.csv", "n,k\n1,a\n2,b\n\n3,c\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"2", blank}), 1, "n,k\n1,a\n",
               "zelk-dedupe: ERROR: record #4: KEY_FIELD #2 does not exist (0 fields)\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-f", "2", blank}), 1, "n,k\n1,a\n2,b\n",
               "zelk-dedupe: ERROR: record #4: KEY_FIELD #2 does not exist (0 fields)\n");
    std::string shortrec = dir.file("short.csv", "n,k\n1\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"2", shortrec}), 1, "n,k\n",
               "zelk-dedupe: ERROR: record #2: KEY_FIELD #2 does not exist (1 fields)\n");
    // A leading run of empty keys under -f keeps its first record.
    std::string empty = dir.file("empty.csv", "k,v\n,1\n,2\nb,3\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"-f", "1", empty}), 0, "k,v\n,1\nb,3\n", "");
}

TEST_F(Dedupe, InputAndOutputErrors) {
    // A syntax error ends the run after the record held so far is written.
    std::string bad = dir.file("bad.csv", "k\nx\nx\ny\"z\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"1", bad}), 1, "k\nx\n",
               "zelk-dedupe: ERROR: record #4, field #1: double-quote in unquoted field\n"
               "zelk-dedupe: file:  '" +
                   bad + "'\n");
}

TEST_F(Dedupe, UsageAndOptionErrors) {
    EXPECT_RUN(run_tool("zelk-dedupe", {}), 1, "", USAGE);
    EXPECT_RUN(run_tool("zelk-dedupe", {"1", runs, runs}), 1, "", USAGE);
    for (auto args : {std::vector<std::string>{"-h", "-Q", "k"}, {"-Qh", "k"}})
        EXPECT_RUN(run_tool("zelk-dedupe", args), 1, "",
                   "zelk-dedupe: Error: -h and -Q options not compatible!\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"0", runs}), 1, "",
               "zelk-dedupe: Invalid value for KEY_FIELD: 0 (must be >= 1)\n");
    EXPECT_RUN(run_tool("zelk-dedupe", {"k", runs}), 1, "",
               "zelk-dedupe: Invalid value for KEY_FIELD: k (does not represent an integer)\n");
}

} // namespace
