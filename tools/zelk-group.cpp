// zelk-group: one output record for each distinct combination of key fields, holding the key
// fields as read and aggregates of other fields over the group's records (count, sum, min,
// max, mean, first, last, number of distinct values). Groups are held in a hash table and
// written in order of first appearance; with -s the input is sorted on the keys and each group
// is written as soon as its last record has been read, so one group is held at a time.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cli.h"
#include "field_buffer.h"
#include "field_list.h"
#include "field_loop.h"
#include "field_number.h"
#include "libcsv.h"

static char opt_skipnonnumbers; // -n
static char opt_sortedinput;    // -s

static void print_usage(FILE *out) {
    fputs("Program to group the records of a CSV file by key fields and print aggregates of "
          "each group.\n\n"
          "Usage: zelk-group [OPTION...] KEY_FIELDS AGGREGATES [CSVFILE]\n\n"
          "KEY_FIELDS is a comma-separated list of 1-based field numbers or ranges (e.g., 1,3-4),\n"
          "or header field names if -Q option.\n"
          "AGGREGATES is a comma-separated list of: count (records in the group), or OP:FIELD\n"
          "with OP one of sum, min, max, mean (numeric), first, last, distinct (any field),\n"
          "and FIELD a 1-based field number, or header field name if -Q option.\n"
          "The first record is the header; the output header names the key fields as read,\n"
          "then count and FIELD_OP for the others.\n\n"
          "Options:\n"
          "  -n -- skip values that are not numbers in numeric aggregates (an error by default)\n"
          "  -Q -- query header to get indices of KEY_FIELDS and AGGREGATES field names\n"
          "  -s -- input sorted on KEY_FIELDS (ascending bytes): one group held at a time,\n"
          "        error when a record's keys come before the previous record's\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n\n"
          "Note: empty numeric fields are skipped; groups are printed in order of first\n"
          "appearance (held in memory unless -s).\n",
          out);
}

static const cli_program program = {"zelk-group", "nQst", "Qt", nullptr, print_usage};

enum class op { count, sum, min, max, mean, first, last, distinct };

struct aggregate {
    op kind;
    const char *opname;
    const char *fieldarg; // the FIELD text of the operand
    int field;            // 0-based, once the header is read
};

// 128-bit integers are a GCC and Clang extension.
__extension__ typedef __int128 int128;
__extension__ typedef unsigned __int128 uint128;

static std::vector<aggregate> aggregates;
static std::vector<int> keyfields; // 0-based
static int maxfield;               // the largest 0-based index any record must have

// A sum kept exactly, as an integer scaled by a power of ten, while every value is a plain
// decimal (no exponent) and the sum fits; from the first value that is not, a double. So
// 0.1 + 0.2 is 0.3, and money columns add up to the cent.
struct decimal_sum {
    int128 mant = 0;
    int scale = 0; // digits after the point
    bool exact = true;
    double dsum = 0;

    static constexpr int MAX_SCALE = 30;

    void add(const char *s, size_t n, double v);
    double value() const;
    std::string text() const;
};

// *m times 10 to the power times; false, *m unchanged, on overflow.
static bool mul10(int128 *m, int times) {
    int128 r = *m;
    for (; times > 0; times--)
        if (__builtin_mul_overflow(r, 10, &r)) return false;
    *m = r;
    return true;
}

// s[0..n) is a decimal prefix as decimal_prefix reads it, v its value.
void decimal_sum::add(const char *s, size_t n, double v) {
    if (!exact) {
        dsum += v;
        return;
    }
    const char *e = s + n, *p = s;
    bool neg = false;
    if (p < e && (*p == '-' || *p == '+')) neg = *p++ == '-';
    int128 m = 0;
    int fs = -1; // digits after the point, -1 before the point
    bool ok = true;
    for (; p < e && ok; p++) {
        if (*p == '.') {
            fs = 0;
            continue;
        }
        if (*p < '0' || *p > '9') {
            ok = false; // an exponent
            break;
        }
        ok = !__builtin_mul_overflow(m, 10, &m) && !__builtin_add_overflow(m, *p - '0', &m);
        if (fs >= 0) fs++;
    }
    if (fs < 0) fs = 0;
    if (ok && fs > MAX_SCALE) ok = false;
    if (ok && neg) m = -m;
    if (ok && fs > scale) {
        ok = mul10(&mant, fs - scale);
        if (ok) scale = fs;
    } else if (ok) {
        ok = mul10(&m, scale - fs);
    }
    // On overflow the builtins leave the wrapped result: the sum so far must stay intact.
    int128 total;
    if (ok && !__builtin_add_overflow(mant, m, &total)) {
        mant = total;
        return;
    }
    dsum = value() + v;
    exact = false;
}

static std::string scaled_text(int128 m, int scale) {
    bool neg = m < 0;
    uint128 u = neg ? -(uint128)m : (uint128)m;
    std::string digits;
    do {
        digits.insert(digits.begin(), (char)('0' + (int)(u % 10)));
        u /= 10;
    } while (u);
    if ((int)digits.size() <= scale)
        digits.insert(0, (size_t)(scale - (int)digits.size() + 1), '0');
    if (scale > 0) {
        digits.insert(digits.size() - (size_t)scale, 1, '.');
        while (digits.back() == '0')
            digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
    }
    if (neg && digits != "0") digits.insert(0, 1, '-');
    return digits;
}

static std::string shortest_text(double d) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

double decimal_sum::value() const {
    if (!exact) return dsum;
    std::string t = scaled_text(mant, scale);
    return decimal_value(t.data(), t.size());
}

std::string decimal_sum::text() const {
    return exact ? scaled_text(mant, scale) : shortest_text(dsum);
}

// The mean of count values summing to sum: exact when the quotient is a decimal of at most
// MAX_SCALE places that fits, else to 15 significant digits, which hides the rounding of the
// division.
static std::string mean_text(const decimal_sum &sum, long count) {
    if (sum.exact) {
        int128 m = sum.mant;
        for (int scale = sum.scale; scale <= decimal_sum::MAX_SCALE; scale++) {
            if (m % count == 0) return scaled_text(m / count, scale);
            if (__builtin_mul_overflow(m, 10, &m)) break;
        }
    }
    char buf[64];
    snprintf(buf, sizeof buf, "%.15g", sum.value() / (double)count);
    return buf;
}

// A set of field texts that a field read in place can be looked up in without a copy.
struct text_hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using text_set = std::unordered_set<std::string, text_hash, std::equal_to<>>;

// One aggregate of one group.
struct accumulator {
    decimal_sum sum;
    long n = 0;      // numeric values seen (sum, min, max, mean)
    double best = 0; // min or max so far
    std::string text;
    std::unique_ptr<text_set> seen;
};

struct group {
    long count = 0;
    std::vector<accumulator> acc;
};

// The record being grouped.
static char **rec_fields;
static int rec_numfields;
static const char *rec_end;
static int rec_num;

static std::string_view field_text(int i) {
    return {rec_fields[i],
            (size_t)csv_parsed_field_length(rec_fields, rec_numfields, i + 1, rec_end)};
}

// The number a field holds, in *num and *value: its whole text (or value, when quoted) is a
// decimal number. False for a blank field, or one that is not a number under -n. Unlike
// zelk-range, which reads "12abc" as 12, an aggregate takes no part of a field: a value that
// silently became another number would give a plausible wrong total.
static bool numeric_field(int i, std::string_view *num, double *value) {
    const char *f = rec_fields[i];
    size_t len = field_text(i).size();
    number_unquote(&f, &len);
    if (field_number_kind(f, len) == field_kind::blank) return false;
    if (decimal_prefix(f, len) != len) {
        if (opt_skipnonnumbers) return false;
        fatalf(0, "ERROR: record #%d: field #%d is not a number", rec_num, i + 1);
    }
    *num = {f, len};
    *value = decimal_value(f, len);
    return true;
}

static void accumulate(group *g) {
    if (g->acc.empty()) g->acc.resize(aggregates.size());
    g->count++;
    for (size_t k = 0; k < aggregates.size(); k++) {
        const aggregate &a = aggregates[k];
        accumulator &acc = g->acc[k];
        std::string_view num;
        double v;
        switch (a.kind) {
        case op::count: break;
        case op::sum:
        case op::mean:
            if (!numeric_field(a.field, &num, &v)) break;
            acc.sum.add(num.data(), num.size(), v);
            acc.n++;
            break;
        case op::min:
        case op::max:
            if (!numeric_field(a.field, &num, &v)) break;
            if (acc.n++ == 0 || (a.kind == op::min ? v < acc.best : v > acc.best)) {
                acc.best = v;
                acc.text = field_text(a.field);
            }
            break;
        case op::first:
            if (g->count == 1) acc.text = field_text(a.field);
            break;
        case op::last: acc.text = field_text(a.field); break;
        case op::distinct:
            if (!acc.seen) acc.seen = std::make_unique<text_set>();
            // Looked up first: a value seen before costs no copy of it.
            if (std::string_view t = field_text(a.field); acc.seen->find(t) == acc.seen->end())
                acc.seen->emplace(t);
            break;
        }
    }
}

// A field written after others, or first.
static void put_field(std::string_view s, bool first) {
    if (first) {
        out_rec_bytes(s.data(), s.size());
    } else {
        out_rec_separator(",", 1);
        out_rec_bytes_not_first(s.data(), s.size());
    }
}

static void write_group(const std::string &key, const group &g, int outnum) {
    out_rec_begin(outnum);
    out_rec_bytes(key.data(), key.size());
    out_rec_add_fields((int)keyfields.size() - 1);
    for (size_t k = 0; k < aggregates.size(); k++) {
        const accumulator &acc = g.acc[k];
        std::string t;
        switch (aggregates[k].kind) {
        case op::count: t = std::to_string(g.count); break;
        case op::sum: t = acc.sum.text(); break;
        case op::mean:
            if (acc.n) t = mean_text(acc.sum, acc.n);
            break;
        case op::min:
        case op::max:
        case op::first:
        case op::last: t = acc.text; break;
        case op::distinct: t = std::to_string(acc.seen->size()); break;
        }
        put_field(t, false);
    }
    out_rec_end();
    errcheck_stdout_exit();
}

// The key fields as read, joined by commas: the output's first fields, and the group's
// identity (the fields are valid CSV, so the joining is unambiguous). offsets[k] is where key
// field k ends.
static void record_key(std::string *key, std::vector<size_t> *ends) {
    key->clear();
    ends->clear();
    for (size_t k = 0; k < keyfields.size(); k++) {
        if (k) key->push_back(',');
        key->append(field_text(keyfields[k]));
        ends->push_back(key->size());
    }
}

// Whether the key whose fields end at bends in b comes before the one in a: field by field,
// byte by byte, a prefix first.
static bool key_before(const std::string &b, const std::vector<size_t> &bends, const std::string &a,
                       const std::vector<size_t> &aends) {
    size_t bs = 0, as = 0;
    for (size_t k = 0; k < bends.size(); k++) {
        std::string_view bf(b.data() + bs, bends[k] - bs), af(a.data() + as, aends[k] - as);
        int c = bf.compare(af);
        if (c) return c < 0;
        bs = bends[k] + 1;
        as = aends[k] + 1;
    }
    return false;
}

// The header's value of field i + 1 (quotes and a leading byte order mark taken away).
static std::string header_name(int i, char **fields, int numfields, const char *end) {
    int len = csv_parsed_field_length(fields, numfields, i + 1, end);
    std::string out((size_t)len, '\0');
    out.resize(header_field_value(fields[i], len, i + 1, out.data()));
    return out;
}

// A column title (a header name with its aggregate's name) as a field: in quotes when it holds a
// double quote, a comma or a line break, by the rule every rewritten field follows.
static std::string_view title_field(const std::string &title) {
    // A name is at most a header's length; quoted, at most twice that and the quotes.
    static char buf[2 * MAX_RECORD_LENGTH + 2];
    field_buffer fb{buf, 0, (int)sizeof buf - 1};
    if (quotes_removable(title.data(), (int)title.size(), ',', false))
        fb.put_bytes(title.data(), (int)title.size());
    else
        fb.put_quoted(title.data(), (int)title.size());
    int len;
    fb.finish(&len);
    return {buf, (size_t)len};
}

// Resolves KEY_FIELDS and AGGREGATES against the header and writes the output header.
static void header_setup(char *keystr, char **fields, int numfields, const char *end) {
    field_list keys;
    field_list_rules rules = {opt_queryfieldname != 0, false, false};
    field_list_parse(keystr, rules, numfields, fields, end, &keys);
    if (keys.openended) fatalf(0, "ERROR: KEY_FIELDS may not end with an open range");
    for (int k = 0; k < keys.count; k++)
        keyfields.push_back(keys.index[k]);
    for (aggregate &a : aggregates) {
        if (a.kind == op::count) continue;
        int n = opt_queryfieldname ? header_field_lookup(a.fieldarg, numfields, fields, end)
                                   : intstrconv(a.fieldarg, "AGGREGATES field");
        if (n == 0) fatalf(0, "ERROR: FIELD name '%s' not found in header", a.fieldarg);
        if (n > numfields)
            fatalf(0, "ERROR: AGGREGATES field #%d is not in the header (%d fields)", n, numfields);
        a.field = n - 1;
    }
    out_rec_begin(1);
    for (size_t k = 0; k < keyfields.size(); k++) {
        int i = keyfields[k];
        put_field({fields[i], (size_t)csv_parsed_field_length(fields, numfields, i + 1, end)},
                  k == 0);
    }
    for (const aggregate &a : aggregates) {
        std::string title = "count";
        if (a.kind != op::count)
            title = header_name(a.field, fields, numfields, end) + "_" + a.opname;
        put_field(title_field(title), false);
    }
    out_rec_end();
    errcheck_stdout_exit();
    maxfield = 0;
    for (int k : keyfields)
        maxfield = std::max(maxfield, k);
    for (const aggregate &a : aggregates)
        maxfield = std::max(maxfield, a.field);
}

// Splits AGGREGATES (in place) into the aggregate list; field references wait for the header.
static void parse_aggregates(char *text) {
    static const struct {
        const char *name;
        op kind;
    } ops[] = {{"sum", op::sum},          {"min", op::min},     {"max", op::max},
               {"mean", op::mean},        {"first", op::first}, {"last", op::last},
               {"distinct", op::distinct}};
    for (char *entry = text;;) {
        char *comma = strchr(entry, ',');
        if (comma) *comma = '\0';
        if (strcmp(entry, "count") == 0) {
            aggregates.push_back({op::count, "count", nullptr, 0});
        } else {
            char *colon = strchr(entry, ':');
            bool found = false;
            if (colon && colon[1]) {
                *colon = '\0';
                for (const auto &o : ops)
                    if (strcmp(entry, o.name) == 0) {
                        aggregates.push_back({o.kind, o.name, colon + 1, 0});
                        found = true;
                    }
                *colon = ':';
            }
            if (!found)
                fatalf(0, "ERROR: invalid AGGREGATES entry '%s' (count, or OP:FIELD)", entry);
        }
        if (!comma) break;
        entry = comma + 1;
    }
}

static bool group_csv_stream(FILE *fp, const char *name, char *keystr) {
    int numfields;
    char **fields;
    const char *header = header_fields_required(fp, name, &numfields, &fields);
    if (!header) return false;
    header_setup(keystr, fields, numfields, header + csv_record_parse_length());

    // Hash mode: groups in order of first appearance, pointing into the table's nodes (which
    // stay where they are as the table grows).
    std::unordered_map<std::string, group> table;
    std::vector<std::pair<const std::string, group> *> order;
    // Sorted mode: the group being read.
    group current;
    std::string currentkey;
    std::vector<size_t> currentends;
    bool have_current = false;

    std::string key;
    std::vector<size_t> ends;
    int outnum = 1;
    rec_num = 1;
    char error;
    for (;;) {
        size_t textlen;
        const char *text =
            read_field_record(fp, name, &rec_num, &rec_numfields, &rec_fields, &textlen, &error);
        if (!text) break;
        rec_end = text + textlen;
        if (rec_numfields <= maxfield) {
            for (int k : keyfields)
                if (k >= rec_numfields)
                    fatalf(0, "ERROR: record #%d: KEY_FIELD #%d does not exist (%d fields)",
                           rec_num, k + 1, rec_numfields);
            fatalf(0, "ERROR: record #%d: AGGREGATES field #%d does not exist (%d fields)", rec_num,
                   maxfield + 1, rec_numfields);
        }
        record_key(&key, &ends);
        if (!opt_sortedinput) {
            auto [it, added] = table.try_emplace(key);
            if (added) order.push_back(&*it);
            accumulate(&it->second);
            continue;
        }
        if (have_current && key != currentkey) {
            if (key_before(key, ends, currentkey, currentends))
                fatalf(0, "ERROR: record #%d: keys out of order (input not sorted on KEY_FIELDS)",
                       rec_num);
            write_group(currentkey, current, ++outnum);
            current = group();
        }
        if (!have_current || key != currentkey) {
            currentkey.swap(key);
            currentends.swap(ends);
            have_current = true;
        }
        accumulate(&current);
    }
    if (error) return false;
    if (have_current) write_group(currentkey, current, ++outnum);
    for (auto *g : order)
        write_group(g->first, g->second, ++outnum);
    return true;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    std::set_new_handler([] { fatalf(0, "ERROR: not enough memory to hold the groups"); });
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'n': opt_skipnonnumbers = 1; break;
        case 's': opt_sortedinput = 1; break;
        }
    }
    int nops = argc - optind;
    if (nops < 2 || nops > 3) cli_usage_exit();
    parse_aggregates(argv[optind + 1]);

    const char *name;
    FILE *fp = open_input_or_exit(nops == 3 ? argv[optind + 2] : nullptr, &name);
    cli_exit(group_csv_stream(fp, name, argv[optind]) ? 0 : 1);
}
