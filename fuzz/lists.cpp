// Field lists, integer lists, header-name lookup and intstrconv against a plain reference
// written from their rules: the same result, or a fatal error in the same cases.
//
// Input: a flag byte, then a header record up to the first LF, then the text (up to a NUL).
// Flag bits 0-1 pick the function; bits 2-4 are the field-list rules (names, extra fields
// allowed, warn); bits 5-7 the minimum for intstrconv.
#include <cctype>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "field_list.h"
#include "fuzz_common.h"

namespace {

// An integer as strtol reads it (leading white space, a sign, decimal digits), and nothing
// after it; within int and at least min.
std::optional<int> ref_int(const std::string &s, int min, int max = INT_MAX) {
    size_t i = 0;
    while (i < s.size() && isspace((unsigned char)s[i])) i++;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    if (i == s.size() || !isdigit((unsigned char)s[i])) return std::nullopt;
    long long v = 0;
    for (; i < s.size() && isdigit((unsigned char)s[i]); i++) {
        v = v * 10 + (s[i] - '0');
        if (v > (long long)INT_MAX + 1) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    if (neg) v = -v;
    if (v < INT_MIN || v > INT_MAX || v < min || v > max) return std::nullopt;
    return (int)v;
}

// A header field's value: the text between the quotes with doubled quotes made single when the
// field is quoted, else the text itself; the first field without a leading UTF-8 BOM.
std::string ref_value(std::string raw, bool first) {
    if (first && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return raw;
    std::string v;
    for (size_t i = 1; i + 1 < raw.size(); i++) {
        v += raw[i];
        if (raw[i] == '"') i++;
    }
    return v;
}

// The 1-based number of the first header field whose raw text is name; failing that, of the
// first whose value is name; else 0.
int ref_find(const std::vector<std::string> &header, const std::string &name) {
    for (size_t i = 0; i < header.size(); i++)
        if (header[i] == name) return (int)i + 1;
    for (size_t i = 0; i < header.size(); i++)
        if (ref_value(header[i], i == 0) == name) return (int)i + 1;
    return 0;
}

// With names, where an entry splits into a range: nowhere when the whole entry is a name, else
// at the first '-' with a name before it and a name or nothing after it, else at the first '-'.
size_t ref_dash(const std::string &entry, bool names, const std::vector<std::string> &header) {
    size_t first = entry.find('-');
    if (!names || first == std::string::npos) return first;
    if (ref_find(header, entry)) return std::string::npos;
    for (size_t d = first; d != std::string::npos; d = entry.find('-', d + 1))
        if (ref_find(header, entry.substr(0, d)) &&
            (d + 1 == entry.size() || ref_find(header, entry.substr(d + 1))))
            return d;
    return first;
}

// The field list's indices, or nullopt where the list is refused.
// *open tells whether it ends in an open-ended range.
std::optional<std::vector<int>> ref_field_list(const std::string &text, bool names, bool extra,
                                               const std::vector<std::string> &header,
                                               bool *open_end) {
    std::vector<int> out;
    bool &open = *open_end;
    open = false;
    int nh = (int)header.size();
    auto spec = [&](const std::string &part) -> std::optional<int> {
        if (!names) return ref_int(part, 1);
        int n = ref_find(header, part);
        if (n == 0) return std::nullopt;
        return n;
    };
    for (const std::string &entry : fuzz::split(text, ',')) {
        if (entry.empty() || open) return std::nullopt;
        size_t dash = ref_dash(entry, names, header);
        auto n = spec(entry.substr(0, dash));
        if (!n || (*n > nh && !extra)) return std::nullopt;
        if (dash == std::string::npos || dash + 1 == entry.size()) {
            out.push_back(*n - 1);
            open = dash != std::string::npos;
        } else {
            auto m = spec(entry.substr(dash + 1));
            if (!m || *m <= *n || (*m > nh && !extra)) return std::nullopt;
            if ((long long)*m - *n + 1 + (long long)out.size() > MAX_FIELDS) return std::nullopt;
            for (int i = *n; i <= *m; i++) out.push_back(i - 1);
        }
        if (out.size() > MAX_FIELDS) return std::nullopt;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    if (size < 1) return 0;
    int mode = data[0] & 3;
    bool names = data[0] & 4, extra = data[0] & 8, warn = data[0] & 16;
    int min = (data[0] >> 5) - 2; // -2 .. 5
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    size_t lf = rest.find('\n');
    std::string headerline = lf == std::string::npos ? rest : rest.substr(0, lf);
    std::string text = lf == std::string::npos ? "" : rest.substr(lf + 1);
    text = text.substr(0, text.find('\0'));
    if (headerline.find('\0') != std::string::npos) return 0; // a record string stops there

    std::vector<char> hbuf(headerline.begin(), headerline.end());
    hbuf.push_back('\0');
    char **hfields = nullptr;
    char err;
    int nh = csv_record_string_parse(hbuf.data(), 1, 0, &hfields, &err, 0);
    if (nh < 0) return 0;
    std::vector<std::string> header;
    const char *hend = hbuf.data() + strlen(hbuf.data());
    for (int i = 1; i <= nh; i++)
        header.emplace_back(hfields[i - 1], (size_t)csv_parsed_field_length(hfields, nh, i, hend));

    std::vector<char> tbuf(text.begin(), text.end());
    tbuf.push_back('\0');
    switch (mode) {
    case 0: {
        static field_list list;
        field_list_rules rules{names, extra, warn};
        bool fatal = fuzz::ends_fatally(
            [&] { field_list_parse(tbuf.data(), rules, nh, hfields, hend, &list); });
        bool open = false;
        auto want = ref_field_list(text, names, extra, header, &open);
        FUZZ_CHECK(fatal == !want.has_value());
        if (!fatal) {
            FUZZ_CHECK(list.count == (int)want->size());
            for (int i = 0; i < list.count; i++) FUZZ_CHECK(list.index[i] == (*want)[(size_t)i]);
            FUZZ_CHECK(list.openended == open);
        }
        break;
    }
    case 1: {
        int values[16];
        int n = 0;
        bool fatal = fuzz::ends_fatally(
            [&] { n = int_list_parse(tbuf.data(), "WIDTH", "WIDTHS_LIST", values, 16); });
        std::vector<std::string> entries = fuzz::split(text, ',');
        bool ok = entries.size() <= 16;
        for (const std::string &e : entries) ok = ok && ref_int(e, 1).has_value();
        FUZZ_CHECK(fatal == !ok);
        if (ok) {
            FUZZ_CHECK(n == (int)entries.size());
            for (int i = 0; i < n; i++) FUZZ_CHECK(values[i] == *ref_int(entries[(size_t)i], 1));
        }
        break;
    }
    case 2: {
        int max = names ? INT_MAX : 100;
        int v = 0;
        bool fatal = fuzz::ends_fatally([&] { v = intstrconv(tbuf.data(), "FIELD", min, max); });
        auto want = ref_int(text, min, max);
        FUZZ_CHECK(fatal == !want.has_value());
        if (want) FUZZ_CHECK(v == *want);
        break;
    }
    case 3: {
        int n = 0;
        bool fatal = fuzz::ends_fatally(
            [&] { n = fieldname2fieldnum(tbuf.data(), nh, hfields); });
        int want = ref_find(header, text);
        FUZZ_CHECK(fatal == (want == 0));
        if (!fatal) FUZZ_CHECK(n == want);
        FUZZ_CHECK(header_field_lookup(tbuf.data(), nh, hfields, hend) == want);
        break;
    }
    }
    return 0;
}
