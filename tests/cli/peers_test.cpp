// Tasks a user would take to another CSV tool, done with zelk and compared with that tool's
// answers. The answers were made once with Miller 6 (the command stands above each row) and are
// kept in tests/data/peers; Miller is not run here. Miller writes a field in quotes only where
// it needs them, so zelk's output is compared after zelk-tidy -c does the same.
#include "harness.h"

namespace {

TEST(Peers, SameAnswersAsMiller) {
    const std::string dir = std::string(ZELK_SOURCE_DIR) + "/tests/data/peers";
    const struct {
        const char *answer; // the file of Miller's answer
        const char *zelk;   // the same task as a zelk pipeline on orders.csv
    } tasks[] = {
        // filter '$amount > 100'
        {"filter-by-name.csv", "zelk-match-rows -Q -u '$zelk_col(\"amount\") > 100' orders.csv"},
        // filter '$terms == "net 30, paid"'
        {"compare-value.csv",
         "zelk-match-rows -Q -u '$zelk_col(\"terms\") == \"net 30, paid\"' orders.csv"},
        // sort -nf amount
        {"sort-general-numbers.csv", "zelk-order -Q -g amount orders.csv"},
        // put '$note = gsub($note, "([0-9]+)-([0-9]+)", "\2-\1")'
        {"replace-in-field.csv",
         "zelk-subst -Q -g note '([0-9]+)-([0-9]+)' '\\2-\\1' orders.csv"},
        // put '$k = tolower($email)' then head -n 1 -g k then sort -f k then cut -x -f k
        {"dedupe-ignoring-case.csv",
         "zelk-order -Q -u -i email orders.csv | zelk-dedupe -Q -f -i -u email"},
        // put '$terms = $terms . " (" . $customer . ")"'
        {"set-by-name.csv", "zelk-script-rows -Q -u -e '{$zelk_col(\"terms\") = "
                            "$zelk_col(\"terms\") \" (\" $zelk_col(\"customer\") \")\"}' "
                            "orders.csv"},
    };
    for (const auto &t : tasks) {
        SCOPED_TRACE(t.zelk);
        RunOptions o;
        o.cwd = dir;
        RunResult r = run_shell(std::string("set -e; ") + t.zelk + " | zelk-tidy -c", o);
        EXPECT_EQ(r.out, read_file(dir + "/" + t.answer));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

} // namespace
