// The delimiter converters: CSV -> DSV -> CSV keeps every record's field values, for every
// delimiter that can carry the data (not a double quote, CR or LF) and with or without -u;
// with -r too when no value holds a line break. Both passes run the converters' record loop
// with their field procedures, as zelk-to-delim and zelk-from-delim do.
//
// Input: a flag byte (bit 0 -u, bit 1 -r), the delimiter byte, then CSV text.
#include <algorithm>
#include <string>
#include <vector>

#include "cli.h"
#include "dsv_convert.h"
#include "fuzz_common.h"

namespace {

using values = std::vector<std::string>;

// The records' values; false when the text is not valid CSV. A record of one empty value
// and a blank record are the same line, and count as a blank record.
bool values_of(const std::string &text, std::vector<values> &out) {
    std::vector<values> raw;
    bool ok = fuzz::read_records(text, raw);
    for (values &r : raw) {
        for (std::string &f : r) f = fuzz::value_of(f);
        if (r.size() == 1 && r[0].empty()) r.clear();
        out.push_back(r);
    }
    return ok;
}

// One conversion pass; false when it ended fatally or with a read error.
bool convert(const std::string &in, dsv_input_kind kind, char in_sep, char out_sep,
             dsv_field_proc proc, std::string &out) {
    FILE *fp = fuzz::open_bytes(reinterpret_cast<const uint8_t *>(in.data()), in.size());
    bool ok = false;
    fuzz::output_capture cap;
    bool fatal = fuzz::ends_fatally([&] { ok = dsv_convert_stream(fp, "fuzz", kind, in_sep, out_sep, proc); });
    fflush(stdout);
    out.assign(cap.buf, cap.len);
    cap.end();
    fclose(fp);
    return ok && !fatal;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    if (size < 2) return 0;
    bool unquote = data[0] & 1, embeds = data[0] & 2;
    char delim = (char)data[1];
    if (delim == '"' || delim == '\n' || delim == '\r') return 0;
    std::string csv(reinterpret_cast<const char *>(data + 2), size - 2);
    std::vector<values> before;
    if (!values_of(csv, before)) return 0;
    if (embeds) {
        for (const values &r : before)
            for (const std::string &v : r)
                if (v.find_first_of("\r\n") != std::string::npos) return 0;
    }
    opt_blankrecspass = 1;
    dsv_field_proc proc = dsv_choose_field_proc(unquote, embeds);
    std::string dsv, back;
    if (!convert(csv, DSV_INPUT_CSV, ',', delim, proc, dsv)) return 0; // a field outgrew its buffer
    bool ok = convert(dsv, DSV_INPUT_DSV, delim, ',', proc, back);
    if (!ok) {
        // Only quoting may stop the second pass: a record made too long, or a value that
        // needs more than a field buffer once quoted (a limit the first pass, which may
        // take the quotes off, does not meet).
        size_t longest = 0;
        for (const values &r : before)
            for (const std::string &v : r)
                longest = std::max(longest, v.size() + 2 + (size_t)std::count(v.begin(), v.end(), '"'));
        FUZZ_CHECK(dsv.size() >= MAX_RECORD_LENGTH || longest >= MAX_FIELD_LENGTH);
        return 0;
    }
    std::vector<values> after;
    FUZZ_CHECK(values_of(back, after));
    FUZZ_CHECK(after.size() == before.size());
    for (size_t i = 0; i < after.size(); i++) FUZZ_CHECK(after[i] == before[i]);
    return 0;
}
