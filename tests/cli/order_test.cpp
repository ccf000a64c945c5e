#include "c_locale.h"
#include "harness.h"

namespace {

struct Order : CLocaleTest {};

RunResult order(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-order", args, input);
}

TEST_F(Order, TextNumericReverseAndStable) {
    std::string in = "name,age\nbob,30\nal,4\n";
    EXPECT_RUN(order({"2"}, in), 0, "name,age\nbob,30\nal,4\n", "");
    EXPECT_RUN(order({"-n", "2"}, in), 0, "name,age\nal,4\nbob,30\n", "");
    // Equal keys keep their input order, in both directions.
    std::string eq = "k,v\nx,2\na,1\ny,2\nb,1\nz,2\n";
    EXPECT_RUN(order({"-n", "2"}, eq), 0, "k,v\na,1\nb,1\nx,2\ny,2\nz,2\n", "");
    EXPECT_RUN(order({"-nr", "2"}, eq), 0, "k,v\nx,2\ny,2\nz,2\na,1\nb,1\n", "");
    // Repeating -n and -r is harmless.
    EXPECT_RUN(order({"-n", "-n", "-r", "-r", "-n", "-r", "2"}, eq), 0,
               "k,v\nx,2\ny,2\nz,2\na,1\nb,1\n", "");
}

TEST_F(Order, QuotedRecordsTravelWhole) {
    // Line feeds, CR LF and commas inside quoted fields stay inside their record.
    std::string in = "id,text\n3,\"c\nmore\"\n1,\"a,x\"\n2,\"b\r\n\"\"q\"\"\"\n";
    EXPECT_RUN(order({"1"}, in), 0, "id,text\n1,\"a,x\"\n2,\"b\r\n\"\"q\"\"\"\n3,\"c\nmore\"\n",
               "");
    // -u sorts on the unquoted value: "b" before "a,x" loses its quote and sorts after.
    std::string q = "v\n\"b\"\na\n\"\"\"a\"\n";
    EXPECT_RUN(order({"1"}, q), 0, "v\n\"\"\"a\"\n\"b\"\na\n", "");
    EXPECT_RUN(order({"-u", "1"}, q), 0, "v\n\"\"\"a\"\na\n\"b\"\n", "");
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
        {"zelk-order", {"-n", "2"}},
        {"zelk-order", {"-nr", "2"}},
        {"zelk-order-keys", {"-k2n"}},
        {"zelk-order-keys", {"-k2nr", "-k1"}}};
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
    EXPECT_RUN(order({"-n", "-e", "1"}, "k\n1\n\"\"\n"), 1, "k\n",
               "zelk-order: ERROR: record #3: SORT_FIELD is empty\n");
}

TEST_F(Order, HeaderOptions) {
    std::string in = "name,age\r\nbob,30\nal,4\n";
    EXPECT_RUN(order({"-o", "1"}, in), 0, "al,4\nbob,30\n", "");
    EXPECT_RUN(order({"-h", "1"}, in), 0, "al,4\nbob,30\nname,age\n", "");
    EXPECT_RUN(order({"-t", "1"}, in), 0, "name,age\r\nal,4\r\nbob,30\r\n", "");
    EXPECT_RUN(order({"-Q", "-n", "age"}, in), 0, "name,age\nal,4\nbob,30\n", "");
    EXPECT_RUN(order({"-Q", "x"}, in), 1, "",
               "zelk-order: ERROR: FIELD name 'x' not found in header\n");
    // With -h the first record is record 1 in messages.
    EXPECT_RUN(order({"-h", "3"}, in), 1, "",
               "zelk-order: ERROR: record #1: no SORT_FIELD (only 2 fields)\n");
}

TEST_F(Order, BlankRecordsAndEmptyKeys) {
    std::string in = "h\nb\n\na\n";
    EXPECT_RUN(order({"1"}, in), 0, "h\na\nb\n", "");
    EXPECT_RUN(order({"-1", "1"}, in), 0, "h\n\na\nb\n", "");
    EXPECT_RUN(order({"-1", "2"}, "h,x\nb,1\n\n"), 1, "h,x\n",
               "zelk-order: ERROR: record #3: no SORT_FIELD (only 1 fields)\n");
    EXPECT_RUN(order({"-e", "2"}, "h,x\nb,1\nc,\n"), 1, "h,x\n",
               "zelk-order: ERROR: record #3: SORT_FIELD is empty\n");
    EXPECT_RUN(order({"2"}, "h,x\nb,1\nc,\n"), 0, "h,x\nc,\nb,1\n", "");
}

TEST_F(Order, EmptyAndBadInput) {
    EXPECT_RUN(order({"1"}, ""), 1, "", 
               "zelk-order: ERROR: CSVFILE 'standard input' is empty\n");
    EXPECT_RUN(order({"-h", "1"}, ""), 0, "", "");
    // A syntax error stops the run: no sorted record is written.
    EXPECT_RUN(order({"1"}, "h\nb\na\"x\n"), 1, "h\n",
               "zelk-order: ERROR: record #3, field #1: double-quote in unquoted field\n"
               "zelk-order: file:  'standard input'\n");
}

TEST_F(Order, DateTimeKeys) {
    // Both spellings of one moment are equal keys (input order kept); quotes are removed. An
    // empty key compares as 0, the epoch; one second before it is a valid time, -1.
    std::string in = "id,when\n"
                     "a,01/05/2021 01:23:45\n"
                     "b,12/31/1969 23:59:59\n"
                     "c,1/5/2021 1:23:45\n"
                     "d,\"1/5/2021 1:23:44\"\n"
                     "e,\n";
    EXPECT_RUN(order({"-d", "2"}, in), 0,
               "id,when\nb,12/31/1969 23:59:59\ne,\nd,\"1/5/2021 1:23:44\"\n"
               "a,01/05/2021 01:23:45\nc,1/5/2021 1:23:45\n",
               "");
    EXPECT_RUN(order({"-d", "-r", "2"}, in), 0,
               "id,when\na,01/05/2021 01:23:45\nc,1/5/2021 1:23:45\nd,\"1/5/2021 1:23:44\"\n"
               "e,\nb,12/31/1969 23:59:59\n",
               "");
    EXPECT_RUN(order({"-D%Y-%m-%d", "2"}, "id,when\na,2021-01-05\nb,1999-12-31\n"), 0,
               "id,when\nb,1999-12-31\na,2021-01-05\n", "");
    EXPECT_RUN(order({"-d", "2"}, "id,when\na,2021-01-05\n"), 1, "id,when\n",
               "zelk-order: ERROR: record #2: SORT_FIELD was an invalid date-time: "
               "'2021-01-05'\n");
    EXPECT_RUN(order({"-d", "3"}, "id,when\na,2021-01-05\n"), 1, "id,when\n",
               "zelk-order: ERROR: record #2: no SORT_FIELD (2 fields)\n");
    EXPECT_RUN(order({"-de", "2"}, in), 1, "id,when\n",
               "zelk-order: ERROR: record #6: SORT_FIELD is empty\n");
    // 02:30 on that day does not exist in Chicago (clocks jump to 03:00): it becomes 03:30
    // there, after 03:15, while in UTC (the default) it is before.
    std::string dst = "id,when\na,03/08/2020 02:30:00\nb,03/08/2020 03:15:00\n";
    EXPECT_RUN(order({"-d", "2"}, dst), 0, dst, "");
    EXPECT_RUN(order({"-d", "-zAmerica/Chicago", "2"}, dst), 0,
               "id,when\nb,03/08/2020 03:15:00\na,03/08/2020 02:30:00\n", "");
}

TEST_F(Order, OptionConflictsAndUsage) {
    std::string in = "h\n";
    EXPECT_RUN(order({"-n", "-d", "1"}, in), 1, "",
               "zelk-order: Error: -d and -n options not compatible!\n");
    EXPECT_RUN(order({"-n", "-D%T", "1"}, in), 1, "",
               "zelk-order: -D and -n options not compatible!\n");
    EXPECT_RUN(order({"-d", "-n", "1"}, in), 1, "",
               "zelk-order: -n option not compatible with -d or -D options!\n");
    EXPECT_RUN(order({"-D%T", "-n", "1"}, in), 1, "",
               "zelk-order: -n option not compatible with -d or -D options!\n");
    EXPECT_RUN(order({"-h", "-o", "1"}, in), 1, "",
               "zelk-order: Error: -h and -o options not compatible!\n");
    EXPECT_RUN(order({"-o", "-h", "1"}, in), 1, "",
               "zelk-order: Error: -h and -o options not compatible!\n");
    EXPECT_RUN(order({"-Q", "-h", "1"}, in), 1, "",
               "zelk-order: Error: -h and -Q options not compatible!\n");
    // -h names -o first when both are there.
    EXPECT_RUN(order({"-o", "-Q", "-h", "1"}, in), 1, "",
               "zelk-order: Error: -h and -o options not compatible!\n");
    EXPECT_RUN(order({"0"}, in), 1, "",
               "zelk-order: Invalid value for SORT_FIELD: 0 (must be >= 1)\n");
    EXPECT_RUN(order({}, in), 1, "", usage_text("zelk-order"));
    EXPECT_RUN(order({"1", "a", "b"}, in), 1, "", usage_text("zelk-order"));
}

TEST_F(Order, RecordsThatCannotBeFramedAreRefused) {
    EXPECT_RUN(order({"1"}, "h\nb\na\0x\n"s), 1, "h\n",
               "zelk-order: ERROR: record #3: holds a NUL byte, which cannot be sorted\n");
    EXPECT_RUN(order({"2"}, "h,k\nb,1\na,x\x02y\n"), 1, "h,k\n",
               "zelk-order: ERROR: record #3: sort key holds a control byte (0x01 or 0x02), "
               "which cannot be sorted\n");
    // 0x01 is plain data in a one-key frame, and 0x02 outside the key is kept.
    EXPECT_RUN(order({"2"}, "h,k\nb\x02,2\na,x\x01y\n"), 0, "h,k\nb\x02,2\na,x\x01y\n", "");
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
