#include "c_locale.h"
#include "harness.h"

namespace {

struct Order : CLocaleTest {};

const std::string O = "zelk-order: ";

TEST_F(Order, Runs) {
    const std::string in = "name,age\nbob,30\nal,4\n";
    const std::string eq = "k,v\nx,2\na,1\ny,2\nb,1\nz,2\n";
    const std::string quoted = "id,text\n3,\"c\nmore\"\n1,\"a,x\"\n2,\"b\r\n\"\"q\"\"\"\n";
    const std::string q = "v\n\"b\"\na\n\"\"\"a\"\n";
    const std::string crlf = "name,age\r\nbob,30\nal,4\n";
    const std::string blank = "h\nb\n\na\n";
    // Both spellings of one moment are equal keys (input order kept); quotes are removed. An
    // empty key compares as 0, the epoch; one second before it is a valid time, -1.
    const std::string when = "id,when\n"
                             "a,01/05/2021 01:23:45\n"
                             "b,12/31/1969 23:59:59\n"
                             "c,1/5/2021 1:23:45\n"
                             "d,\"1/5/2021 1:23:44\"\n"
                             "e,\n";
    // 02:30 on that day does not exist in Chicago (clocks jump to 03:00): it becomes 03:30
    // there, after 03:15, while in UTC (the default) it is before.
    const std::string dst = "id,when\na,03/08/2020 02:30:00\nb,03/08/2020 03:15:00\n";
    // -g reads exponents, -n stops before them; a quoted number is read without its quotes.
    const std::string general = "id,v\na,1e3\nb,2e-05\nc,-0.5\nd,10\ne,\"3.5e1\"\n";
    // Case folding turns a-z into A-Z, so _ (between Z and a) sorts after every letter.
    const std::string cases = "k,v\nb,1\n_,2\nB,3\na,4\nA,5\nb,6\n";
    const std::string ho = O + "Error: -h and -o options not compatible!\n";
    const std::string nd = O + "-n option not compatible with -d or -D options!\n";
    const std::vector<RunCase> runs = {
        // Text, numeric and reverse order, stable: equal keys keep their input order, in both
        // directions. Repeating -n and -r is harmless.
        {argv("2"), in, "name,age\nbob,30\nal,4\n"},
        {argv("-n", "2"), in, "name,age\nal,4\nbob,30\n"},
        {argv("-n", "2"), eq, "k,v\na,1\nb,1\nx,2\ny,2\nz,2\n"},
        {argv("-nr", "2"), eq, "k,v\nx,2\ny,2\nz,2\na,1\nb,1\n"},
        {argv("-n", "-n", "-r", "-r", "-n", "-r", "2"), eq, "k,v\nx,2\ny,2\nz,2\na,1\nb,1\n"},
        {argv("-g", "2"), general, "id,v\nc,-0.5\nb,2e-05\nd,10\ne,\"3.5e1\"\na,1e3\n"},
        {argv("-n", "2"), general, "id,v\nc,-0.5\na,1e3\nb,2e-05\ne,\"3.5e1\"\nd,10\n"},
        {argv("-g", "-r", "-g", "2"), general, "id,v\na,1e3\ne,\"3.5e1\"\nd,10\nb,2e-05\nc,-0.5\n"},
        // -i: equal folded keys keep their input order, in both directions.
        {argv("1"), cases, "k,v\nA,5\nB,3\n_,2\na,4\nb,1\nb,6\n"},
        {argv("-i", "1"), cases, "k,v\na,4\nA,5\nb,1\nB,3\nb,6\n_,2\n"},
        {argv("-i", "-r", "-i", "1"), cases, "k,v\n_,2\nb,1\nB,3\nb,6\na,4\nA,5\n"},
        // Line feeds, CR LF and commas inside quoted fields stay inside their record. -u sorts
        // on the unquoted value: "b" before "a,x" loses its quote and sorts after.
        {argv("1"), quoted, "id,text\n1,\"a,x\"\n2,\"b\r\n\"\"q\"\"\"\n3,\"c\nmore\"\n"},
        {argv("1"), q, "v\n\"\"\"a\"\n\"b\"\na\n"},
        {argv("-u", "1"), q, "v\n\"\"\"a\"\na\n\"b\"\n"},
        // Header options; with -h the first record is record 1 in messages.
        {argv("-o", "1"), crlf, "al,4\nbob,30\n"},
        {argv("-h", "1"), crlf, "al,4\nbob,30\nname,age\n"},
        {argv("-t", "1"), crlf, "name,age\r\nal,4\r\nbob,30\r\n"},
        {argv("-Q", "-n", "age"), crlf, "name,age\nal,4\nbob,30\n"},
        {argv("-Q", "x"), crlf, "", O + "ERROR: FIELD name 'x' not found in header\n", 1},
        {argv("-h", "3"), crlf, "", O + "ERROR: record #1: no SORT_FIELD (only 2 fields)\n", 1},
        // Blank records and empty keys.
        {argv("1"), blank, "h\na\nb\n"},
        {argv("-1", "1"), blank, "h\n\na\nb\n"},
        {argv("-1", "2"), "h,x\nb,1\n\n", "h,x\n",
         O + "ERROR: record #3: no SORT_FIELD (only 1 fields)\n", 1},
        {argv("-e", "2"), "h,x\nb,1\nc,\n", "h,x\n", O + "ERROR: record #3: SORT_FIELD is empty\n",
         1},
        {argv("2"), "h,x\nb,1\nc,\n", "h,x\nc,\nb,1\n"},
        // Empty and bad input; a syntax error stops the run: no sorted record is written.
        {argv("1"), "", "", O + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        {argv("-h", "1"), "", ""},
        {argv("1"), "h\nb\na\"x\n", "h\n",
         read_error("zelk-order", "record #3, field #1: double-quote in unquoted field",
                    "standard input", "line 3, byte 6"),
         1},
        // Date-time keys.
        {argv("-d", "2"), when,
         "id,when\nb,12/31/1969 23:59:59\ne,\nd,\"1/5/2021 1:23:44\"\n"
         "a,01/05/2021 01:23:45\nc,1/5/2021 1:23:45\n"},
        {argv("-d", "-r", "2"), when,
         "id,when\na,01/05/2021 01:23:45\nc,1/5/2021 1:23:45\nd,\"1/5/2021 1:23:44\"\n"
         "e,\nb,12/31/1969 23:59:59\n"},
        {argv("-D%Y-%m-%d", "2"), "id,when\na,2021-01-05\nb,1999-12-31\n",
         "id,when\nb,1999-12-31\na,2021-01-05\n"},
        {argv("-d", "2"), "id,when\na,2021-01-05\n", "id,when\n",
         O + "ERROR: record #2: SORT_FIELD was an invalid date-time: '2021-01-05'\n", 1},
        {argv("-d", "3"), "id,when\na,2021-01-05\n", "id,when\n",
         O + "ERROR: record #2: no SORT_FIELD (2 fields)\n", 1},
        {argv("-de", "2"), when, "id,when\n", O + "ERROR: record #6: SORT_FIELD is empty\n", 1},
        {argv("-d", "2"), dst, dst},
        {argv("-d", "-zAmerica/Chicago", "2"), dst,
         "id,when\nb,03/08/2020 03:15:00\na,03/08/2020 02:30:00\n"},
        // Option conflicts and usage; -h names -o first when both are there.
        {argv("-n", "-d", "1"), "h\n", "", O + "Error: -d and -n options not compatible!\n", 1},
        {argv("-n", "-D%T", "1"), "h\n", "", O + "-D and -n options not compatible!\n", 1},
        {argv("-d", "-n", "1"), "h\n", "", nd, 1},
        {argv("-D%T", "-n", "1"), "h\n", "", nd, 1},
        {argv("-i", "-n", "1"), "h\n", "", O + "Error: -i and -n options not compatible!\n", 1},
        {argv("-D%T", "-i", "1"), "h\n", "", O + "Error: -i and -D options not compatible!\n", 1},
        {argv("-n", "-g", "1"), "h\n", "", O + "Error: -g and -n options not compatible!\n", 1},
        {argv("-g", "-d", "1"), "h\n", "", O + "Error: -g and -d options not compatible!\n", 1},
        {argv("-i", "-g", "1"), "h\n", "", O + "Error: -g and -i options not compatible!\n", 1},
        {argv("-h", "-o", "1"), "h\n", "", ho, 1},
        {argv("-o", "-h", "1"), "h\n", "", ho, 1},
        {argv("-Q", "-h", "1"), "h\n", "", O + "Error: -h and -Q options not compatible!\n", 1},
        {argv("-o", "-Q", "-h", "1"), "h\n", "", ho, 1},
        {argv("0"), "h\n", "", O + "Invalid value for SORT_FIELD: 0 (must be >= 1)\n", 1},
        {argv(), "h\n", "", usage_text("zelk-order"), 1},
        {argv("1", "a", "b"), "h\n", "", usage_text("zelk-order"), 1},
        // Records that cannot be framed for sort are refused; 0x01 is plain data in a one-key
        // frame, and 0x02 outside the key is kept.
        {argv("1"), "h\nb\na\0x\n"s, "h\n",
         O + "ERROR: record #3: holds a NUL byte, which cannot be sorted\n", 1},
        {argv("2"), "h,k\nb,1\na,x\x02y\n", "h,k\n",
         O + "ERROR: record #3: sort key holds a control byte (0x01 or 0x02), which cannot be "
             "sorted\n",
         1},
        {argv("2"), "h,k\nb\x02,2\na,x\x01y\n", "h,k\nb\x02,2\na,x\x01y\n"},
    };
    expect_runs("zelk-order", runs);
}

// Numeric keys of both sorting programs: each record with its key quoted sorts where the
// same record unquoted does, and comes out as read. A quoted key that cannot stand unquoted
// (a comma, a doubled quote, a line break) is no number, so it sorts where "x" does.
TEST_F(Order, QuotedNumericKeysSortAsUnquoted) {
    const std::pair<const char *, const char *> keys[] = {
        {"42", "\"42\""},   {"7", "7"},         {"100", "\"100\""},  {"-3", "\"-3\""},
        {"2.5", "2.5"},     {"abc", "\"abc\""}, {"", "\"\""},        {"12abc", "\"12abc\""},
        {" 5", "\" 5\""},   {".5", "\".5\""},   {"0", "0"},          {"-0", "\"-0\""},
        {"1e3", "\"1e3\""}, {"x", "\"1,000\""}, {"x", "\"4\"\"2\""}, {"x", "\"9\n9\""}};
    std::string plain = "id,k\n", quoted = "id,k\n";
    std::vector<std::string> records; // quoted, by id
    for (const auto &[p, q] : keys) {
        std::string id = std::to_string(records.size());
        plain += id + "," + p + "\n";
        records.push_back(id + "," + q + "\n");
        quoted += records.back();
    }
    const std::pair<const char *, std::vector<std::string>> runs[] = {
        {"zelk-order", {"-n", "2"}},           {"zelk-order", {"-nr", "2"}},
        {"zelk-order", {"-g", "2"}},           {"zelk-order-keys", {"-k2n"}},
        {"zelk-order-keys", {"-k2gr", "-k1"}}, {"zelk-order-keys", {"-k2nr", "-k1"}}};
    for (const auto &[tool, args] : runs) {
        RunResult model = run_tool(tool, args, plain);
        ASSERT_EQ(model.status, 0) << model.err;
        std::string want = "id,k\n";
        for (size_t at = model.out.find('\n') + 1; at < model.out.size();
             at = model.out.find('\n', at) + 1)
            want += records[std::stoul(model.out.substr(at))];
        EXPECT_RUN(run_tool(tool, args, quoted), 0, want, "");
    }
    // With -e a quoted empty key is empty.
    EXPECT_RUN(run_tool("zelk-order", {"-n", "-e", "1"}, "k\n1\n\"\"\n"), 1, "k\n",
               "zelk-order: ERROR: record #3: SORT_FIELD is empty\n");
}

TEST_F(Order, OutputErrors) {
    RunOptions o;
    o.input = "h\nb\na\n";
    o.stdout_path = "/dev/full";
    EXPECT_RUN(run_tool("zelk-order", {"-h", "1"}, o), 1, "",
               "zelk-order: ERROR: failed reformatting sort output: No space left on device\n");
}

TEST_F(Order, KilledSortChildFailsTheRun) {
    // The sort child is killed while zelk-order still feeds it: status 1, nothing left running.
    TempDir dir;
    RunOptions o;
    o.cwd = dir.path();
    RunResult r = run_shell(R"(
        set -u
        mkfifo in
        zelk-order -h 1 in > out 2> err &
        zp=$!
        exec 3> in
        echo b >&3
        sp=
        for i in $(seq 200); do
            sp=$(cat /proc/$zp/task/$zp/children 2>/dev/null | tr -d ' ')
            [ -n "$sp" ] && break
            sleep 0.05
        done
        kill -9 "$sp"
        wait $zp
        echo "status $?"
        exec 3>&-
        kill -0 "-$sp" 2>/dev/null && echo "group still alive"
        cat out err
    )",
                            o);
    EXPECT_RUN(r, 0, "status 1\n", "");
}

} // namespace
