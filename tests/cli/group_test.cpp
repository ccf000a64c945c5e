#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <set>

#include "harness.h"

namespace {

const std::string G = "zelk-group: ";

TEST(Group, Runs) {
    TempDir dir;
    std::string sales =
        dir.file("sales.csv", "cust,amount,status\na,0.1,ok\nb,2,bad\na,\"0.2\",ok\n"
                              "\"a\",x,\nb,1e2,ok\nc,,ok\n");
    const std::string all = "count,sum:2,min:2,max:2,mean:2,first:3,last:3,distinct:3";
    const std::vector<RunCase> table = {
        // Keys compare as read ("a" is not a); a quoted number is a number, an empty field is
        // skipped (an empty min, max and mean, a sum of 0); first, last and distinct take any
        // field. Groups come in order of first appearance.
        {argv("-n", "1", all, sales), "",
         "cust,count,amount_sum,amount_min,amount_max,amount_mean,status_first,status_last,"
         "status_distinct\n"
         "a,2,0.3,0.1,\"0.2\",0.15,ok,ok,1\nb,2,102,2,1e2,51,bad,ok,2\n\"a\",1,0,,,,,,1\n"
         "c,1,0,,,,ok,ok,1\n"},
        // Without -n a value that is not a number stops the run; so does a field of which only
        // a part is a number.
        {argv("1", "sum:2", sales), "", "cust,amount_sum\n",
         G + "ERROR: record #5: field #2 is not a number\n", 1},
        {argv("1", "max:2"), "k,v\na,12abc\n", "k,v_max\n",
         G + "ERROR: record #2: field #2 is not a number\n", 1},
        {argv("-n", "1", "sum:2,min:2,max:2,count"), "k,v\na,x.5\na,-.5\na,5.\na,\" 1\"\na,inf\n",
         "k,v_sum,v_min,v_max,count\na,4.5,-.5,5.,5\n"},
        // Exact decimal sums and means; an exponent or an overflow turns the sum into a double.
        {argv("1", "sum:2,mean:2"),
         "k,v\na,99999999999999999999999999999999999999\na,1\nb,1e2\nb,0.5\nc,1\nc,1\nc,2\n"
         "d,170141183460469231731687303715884105727\nd,1\ne,-0.50\ne,0.5\n",
         "k,v_sum,v_mean\na,100000000000000000000000000000000000000,"
         "50000000000000000000000000000000000000\nb,100.5,50.25\nc,4,1.33333333333333\n"
         "d,1.7014118346046923e+38,8.50705917302346e+37\ne,0,0\n"},
        // Several key fields, written as read; -Q names keys and aggregated fields; titles are
        // quoted when they must be; -t ends records with CR LF; blank records are skipped.
        {argv("-Q", "-t", "k,j", "count,sum:a\"b"),
         "k,j,\"a\"\"b\"\na,\"x,y\",1\n\na,\"x,y\",2\na,z,3\n",
         "k,j,count,\"a\"\"b_sum\"\r\na,\"x,y\",2,3\r\na,z,1,3\r\n"},
        {argv("2,1", "count"), "k,j\na,1\nb,1\na,1\n", "j,k,count\n1,a,2\n1,b,1\n"},
        {argv("1", "count"), "k,v\n", "k,count\n"},
        // With -s, groups are written as they end; a record whose keys come before the
        // previous record's stops the run after the groups before it.
        {argv("-s", "1", "count,last:2"), "k,v\na,1\na,2\nb,3\n", "k,count,v_last\na,2,2\nb,1,3\n"},
        {argv("-s", "1,2", "count"), "k,v\na,1\na,2\nb,1\na,3\n", "k,v,count\na,1,1\na,2,1\n",
         G + "ERROR: record #5: keys out of order (input not sorted on KEY_FIELDS)\n", 1},
        {argv("-s", "1", "count"), "k\nab\na\n", "k,count\n",
         G + "ERROR: record #3: keys out of order (input not sorted on KEY_FIELDS)\n", 1},
        // Operand and field errors.
        {argv("1", "sum:2"), "k,v\na,1\nb\n", "k,v_sum\n",
         G + "ERROR: record #3: AGGREGATES field #2 does not exist (1 fields)\n", 1},
        {argv("2", "count"), "k,v\na,1\nb\n", "v,count\n",
         G + "ERROR: record #3: KEY_FIELD #2 does not exist (1 fields)\n", 1},
        {argv("1", "sum:3"), "k,v\n", "",
         G + "ERROR: AGGREGATES field #3 is not in the header (2 fields)\n", 1},
        {argv("2-", "count"), "k,v\n", "", G + "ERROR: KEY_FIELDS may not end with an open range\n",
         1},
        {argv("1", "count,median:2"), "k,v\n", "",
         G + "ERROR: invalid AGGREGATES entry 'median:2' (count, or OP:FIELD)\n", 1},
        {argv("1", "sum:"), "k,v\n", "",
         G + "ERROR: invalid AGGREGATES entry 'sum:' (count, or OP:FIELD)\n", 1},
        {argv("-Q", "k", "sum:w"), "k,v\n", "", G + "ERROR: FIELD name 'w' not found in header\n",
         1},
    };
    expect_runs("zelk-group", table);
}

// An independent model of the grouping: values are whole cents, so sums are exact integers.
struct ModelGroup {
    long count = 0, n = 0, sum = 0, best_min = 0, best_max = 0;
    std::string min, max, first, last;
    std::set<std::string> seen;
};

std::string cents_text(long c) {
    std::string s = c < 0 ? "-" : "";
    long a = std::labs(c);
    s += std::to_string(a / 100);
    if (a % 100) {
        char frac[4];
        snprintf(frac, sizeof frac, "%02ld", a % 100);
        s += "." + std::string(frac);
        if (s.back() == '0') s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

// sum / (100 n) as a terminating decimal, trimmed, when it is one; else 15 significant digits.
std::string mean_text(long sum, long n) {
    long den = 100 * n, num = sum;
    long g = std::gcd(std::labs(num), den);
    long d = den / (g ? g : 1);
    while (d % 2 == 0)
        d /= 2;
    while (d % 5 == 0)
        d /= 5;
    if (d == 1) {
        std::string s = num < 0 ? "-" : "";
        long a = std::labs(num);
        s += std::to_string(a / den);
        long r = a % den;
        if (r) s += ".";
        while (r) {
            r *= 10;
            s += (char)('0' + r / den);
            r %= den;
        }
        return s == "-0" ? "0" : s;
    }
    char buf[64];
    snprintf(buf, sizeof buf, "%.15g", (double)sum / 100.0 / (double)n);
    return buf;
}

TEST(Group, AgreesWithModel) {
    std::mt19937 rng(20261208);
    const std::vector<std::string> keys = {"a", "b", "\"a\"", "\"c,d\"", "", "ab"};
    const std::vector<std::string> statuses = {"ok", "\"ok\"", "bad", ""};
    for (int round = 0; round < 60; round++) {
        struct Rec {
            std::string k1, k2, v, s;
            long cents;
            bool blank;
        };
        std::vector<Rec> recs;
        int nrec = 1 + (int)(rng() % 40);
        for (int i = 0; i < nrec; i++) {
            Rec r{keys[rng() % 3 + (round % 2) * 3], keys[rng() % keys.size()],  "",
                  statuses[rng() % statuses.size()], (long)(rng() % 1001) - 500, rng() % 6 == 0};
            if (r.blank) {
                r.v = rng() % 2 ? "" : " ";
            } else {
                r.v = cents_text(r.cents);
                if (rng() % 3 == 0 && r.v.find('.') != std::string::npos) r.v += "0";
                if (rng() % 3 == 0) r.v = "\"" + r.v + "\"";
            }
            recs.push_back(r);
        }
        for (bool sorted : {false, true}) {
            if (sorted)
                std::stable_sort(recs.begin(), recs.end(), [](const Rec &a, const Rec &b) {
                    return a.k1 != b.k1 ? a.k1 < b.k1 : a.k2 < b.k2;
                });
            std::string in = "k1,k2,v,s\n";
            std::map<std::pair<std::string, std::string>, ModelGroup> model;
            std::vector<std::pair<std::string, std::string>> order;
            bool unsorted = false;
            for (size_t i = 0; i < recs.size(); i++) {
                const Rec &r = recs[i];
                in += r.k1 + "," + r.k2 + "," + r.v + "," + r.s + "\n";
                auto key = std::make_pair(r.k1, r.k2);
                if (i && key < std::make_pair(recs[i - 1].k1, recs[i - 1].k2)) unsorted = true;
                auto [it, added] = model.try_emplace(key);
                if (added) order.push_back(key);
                ModelGroup &g = it->second;
                if (g.count++ == 0) g.first = r.s;
                g.last = r.s;
                g.seen.insert(r.s);
                if (r.blank) continue;
                g.sum += r.cents;
                if (g.n++ == 0 || r.cents < g.best_min) g.best_min = r.cents, g.min = r.v;
                if (g.n == 1 || r.cents > g.best_max) g.best_max = r.cents, g.max = r.v;
            }
            std::string out = "k1,k2,count,v_sum,v_min,v_max,v_mean,s_first,s_last,s_distinct\n";
            for (const auto &key : order) {
                const ModelGroup &g = model[key];
                out += key.first + "," + key.second + "," + std::to_string(g.count) + "," +
                       cents_text(g.sum) + "," + g.min + "," + g.max + "," +
                       (g.n ? mean_text(g.sum, g.n) : "") + "," + g.first + "," + g.last + "," +
                       std::to_string(g.seen.size()) + "\n";
            }
            const std::string aggs = "count,sum:3,min:3,max:3,mean:3,first:4,last:4,distinct:4";
            RunResult hashed = run_tool("zelk-group", {"1,2", aggs}, in);
            SCOPED_TRACE(in);
            EXPECT_RUN(hashed, 0, out, "");
            RunResult streamed = run_tool("zelk-group", {"-s", "1,2", aggs}, in);
            if (unsorted) {
                EXPECT_EQ(streamed.status, 1);
                EXPECT_NE(streamed.err.find("keys out of order"), std::string::npos);
            } else {
                EXPECT_RUN(streamed, 0, out, "");
            }
        }
    }
}

} // namespace
