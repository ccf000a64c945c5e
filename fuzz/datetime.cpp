// Date-time parsing, rounding and reformatting: zelk-timestamp's record loop on fuzzed records
// and formats, and the sort programs' date-time keys. Every run ends normally or in an
// intended fatal error; a reformatted record has the fields it had (a new value never splits
// it); a rounded value is a whole minute within a minute of the parsed one; a sort key is the
// parsed time in seconds.
//
// Input: a flag byte (bit 0 -c, bit 1 -r, bit 2 -e, bit 3 the sort key instead, bits 4-5 the
// field number less one), FORMAT_OLD, 0xFF, FORMAT_NEW, 0xFF, then CSV records.
#include <ctime>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "sort_frame.h"

// The program's own functions, its main renamed.
#define main zelk_timestamp_main
#include "../tools/zelk-timestamp.cpp"
#undef main

namespace {

using record = std::vector<std::string>; // raw field texts

void check_sort_key(const std::string &key, const std::string &format) {
    const char *s = nullptr;
    bool fatal = fuzz::ends_fatally([&] { s = datetime_to_utimestr(key.c_str(), format.c_str(), 2, "SORT_FIELD"); });
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    bool parsed = strptime(key.c_str(), format.c_str(), &tm) != nullptr;
    if (!parsed) {
        FUZZ_CHECK(fatal);
        return;
    }
    if (fatal) return; // a time that mktime cannot represent
    tm.tm_isdst = 0;
    FUZZ_CHECK(std::to_string((long long)timegm(&tm)) == s);
}

void check_timestamp(uint8_t flags, const std::string &fmt_old, const std::string &fmt_new,
                     const char *csv, size_t n) {
    std::vector<record> in;
    if (!fuzz::read_records(std::string(csv, n), in)) return;
    opt_secsceiling = flags & 1;
    opt_secsround = !opt_secsceiling && (flags & 2);
    opt_emptyfielderror = (flags >> 2) & 1;
    opt_headerproc = 1;
    int fieldnum = ((flags >> 4) & 3) + 1;
    job = {fieldnum, fmt_old.c_str(), fmt_new.c_str()};
    free(format_marked);
    format_marked = (char *)malloc(fmt_new.size() + 2);
    format_marked[0] = 'x';
    memcpy(format_marked + 1, fmt_new.c_str(), fmt_new.size() + 1);

    FILE *fp = fuzz::open_bytes(reinterpret_cast<const uint8_t *>(csv), n);
    bool ok = false;
    fuzz::output_capture out;
    bool fatal = fuzz::ends_fatally([&] { ok = reformat_csv_stream(fp, "fuzz"); });
    fflush(stdout);
    std::string result(out.buf, out.len);
    out.end();
    fclose(fp);
    if (fatal) return;
    FUZZ_CHECK(ok);

    std::vector<record> got;
    FUZZ_CHECK(fuzz::read_records(result, got));
    // Blank records are dropped (no -b).
    std::vector<record> kept;
    for (const record &r : in)
        if (!r.empty()) kept.push_back(r);
    FUZZ_CHECK(got.size() == kept.size());
    for (size_t i = 0; i < got.size(); i++) {
        // A record of one field whose new value is empty is an empty line.
        if (got[i].empty() && kept[i].size() == 1) continue;
        FUZZ_CHECK(got[i].size() == kept[i].size());
        if (kept[i].size() < (size_t)fieldnum) continue;
        std::string old = fuzz::value_of(kept[i][(size_t)fieldnum - 1]);
        std::string now = fuzz::value_of(got[i][(size_t)fieldnum - 1]);
        if (old.empty() || old.find('\0') != std::string::npos) continue;
        // The rounded time: a whole minute, less than a minute away.
        if (!(opt_secsceiling || opt_secsround)) continue;
        struct tm t0, t1;
        if (!parse_datetime(old.c_str(), fmt_old.c_str(), &t0)) continue;
        if (t0.tm_sec == 0 || t0.tm_year > 8000 || t0.tm_year < -1900) continue;
        time_t a = timegm(&t0);
        char marked[64];
        // Only formats that show the whole time can be read back.
        if (fmt_new != "%Y-%m-%d %H:%M:%S") continue;
        FUZZ_CHECK(strptime(now.c_str(), "%Y-%m-%d %H:%M:%S", &t1) != nullptr);
        time_t b = timegm(&t1);
        snprintf(marked, sizeof marked, "%lld -> %lld", (long long)a, (long long)b);
        if (!(b % 60 == 0 && b - a < 60 && a - b < 60)) fprintf(fuzz::report_stream, "%s\n", marked);
        FUZZ_CHECK(b % 60 == 0 && b - a < 60 && a - b < 60);
        if (opt_secsceiling) FUZZ_CHECK(b > a);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    static bool zone_set = [] {
        setenv("TZ", "UTC", 1);
        tzset();
        return true;
    }();
    (void)zone_set;
    if (size < 1) return 0;
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    size_t a = rest.find('\xff');
    if (a == std::string::npos) return 0;
    size_t b = rest.find('\xff', a + 1);
    if (b == std::string::npos) return 0;
    std::string fmt_old = rest.substr(0, a), fmt_new = rest.substr(a + 1, b - a - 1);
    fmt_old = fmt_old.substr(0, fmt_old.find('\0'));
    fmt_new = fmt_new.substr(0, fmt_new.find('\0'));
    const char *csv = rest.data() + b + 1;
    size_t n = rest.size() - b - 1;
    if (data[0] & 8)
        check_sort_key(std::string(csv, strnlen(csv, n)), fmt_old);
    else
        check_timestamp(data[0], fmt_old, fmt_new, csv, n);
    return 0;
}
