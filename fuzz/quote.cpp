// Quoting: csv_field_quote then csv_field_unquote gives the value back; the in-place forms
// agree with the copying forms; cleaning keeps a field's value; and a record read, its values
// written again quoted by the field writer, and read again, holds the same values.
//
// Input: one byte that is ignored (kept for the seeds' shape), then the bytes, used both as a
// value (up to its first NUL) and as CSV text.
#include <string>
#include <vector>

#include "field_buffer.h"
#include "fuzz_common.h"

namespace {

bool looks_quoted(const std::string &f) { return !f.empty() && f.front() == '"' && f.back() == '"'; }

std::string with_markers(const std::string &v) {
    std::string out;
    for (char c : v) out += c == '\n' ? "<LF>" : c == '\r' ? "<CR>" : std::string(1, c);
    return out;
}

// A field's text, returned by the function or null; fatal counts as null with fatal set.
template <class F> const char *guarded(bool &fatal, F fn) {
    const char *r = nullptr;
    fatal = fuzz::ends_fatally([&] { r = fn(); });
    return fatal ? nullptr : r;
}

void check_value(const std::string &v) {
    bool fatal;
    // Quote and unquote.
    size_t nquotes = 0;
    for (char c : v) nquotes += c == '"';
    const char *q = guarded(fatal, [&] { return csv_field_quote(v.c_str()); });
    if (looks_quoted(v)) {
        FUZZ_CHECK(fatal == (v.size() > MAX_FIELD_LENGTH - 2));
        if (q) FUZZ_CHECK(q == v);
    } else {
        FUZZ_CHECK(fatal == (v.size() + nquotes + 2 > MAX_FIELD_LENGTH - 2));
        if (!q) return;
        std::string quoted = q;
        FUZZ_CHECK(quoted.size() == v.size() + nquotes + 2);
        const char *u = guarded(fatal, [&] { return csv_field_unquote(quoted.c_str(), 0); });
        FUZZ_CHECK(!fatal && u && u == v);
        // Cleaning keeps the value.
        const char *c = guarded(fatal, [&] { return csv_field_clean(quoted.c_str(), 0); });
        FUZZ_CHECK(!fatal && c);
        std::string cleaned = c;
        FUZZ_CHECK(cleaned == quoted || cleaned == v);
        if (cleaned == v) FUZZ_CHECK(v.find_first_of(",\"\r\n") == std::string::npos);
        std::vector<char> inplace(quoted.begin(), quoted.end());
        inplace.push_back('\0');
        int r = csv_field_clean_inplace(inplace.data(), 0);
        FUZZ_CHECK(r == (cleaned == v ? 1 : 0) && cleaned == inplace.data());
    }

    // The field as raw text: the copying and in-place forms agree, and with the rule.
    const char *u = guarded(fatal, [&] { return csv_field_unquote(v.c_str(), 0); });
    if (fatal) return;
    std::vector<char> buf(v.begin(), v.end());
    buf.push_back('\0');
    int r = csv_field_unquote_inplace(buf.data(), 0);
    // A byte order mark before a quoted field stays in front of what becomes of that field.
    size_t bom = v.size() >= 5 && v.compare(0, 4, "\xEF\xBB\xBF\"") == 0 && v.back() == '"' ? 3 : 0;
    const std::string mark = v.substr(0, bom), body = v.substr(bom);
    bool invalid = !body.empty() && (body.front() == '"') != (body.back() == '"');
    FUZZ_CHECK(!u == invalid && (r < 0) == invalid);
    if (invalid) return;
    std::string value = mark + (looks_quoted(body) ? fuzz::value_of(body) : body);
    FUZZ_CHECK(u == value && r == (looks_quoted(body) ? 1 : 0) && value == buf.data());
    const char *e = guarded(fatal, [&] { return csv_field_unquote_and_replace_embeds(v.c_str(), 0); });
    std::string marked = looks_quoted(body) ? mark + with_markers(fuzz::value_of(body)) : v;
    FUZZ_CHECK(fatal == (marked.size() > MAX_FIELD_LENGTH - 1));
    if (e) FUZZ_CHECK(e == marked);
    const char *c = guarded(fatal, [&] { return csv_field_clean(v.c_str(), 0); });
    const char *ce = guarded(fatal, [&] { return csv_field_clean_and_replace_embeds(v.c_str(), 0); });
    if (c && ce && v.find_first_of("\r\n") == std::string::npos) FUZZ_CHECK(strcmp(c, ce) == 0);
}

// Reads every record of the CSV text; for each, writes its values quoted by the field writer
// and parses that line again: the same number of fields and the same values.
void check_records(const uint8_t *data, size_t size) {
    FILE *fp = fuzz::open_bytes(data, size);
    char **fields;
    char err;
    static char fieldbuf[MAX_FIELD_LENGTH];
    for (int recnum = 1;; recnum++) {
        int n = csv_record_read_and_split(fp, "fuzz input", recnum, 0, &fields, &err);
        if (n <= 0) {
            if (n < 0) break;
            continue;
        }
        const char *end = fields[0] + csv_record_parse_length();
        std::vector<std::string> values;
        std::string line;
        bool fits = true;
        for (int i = 0; i < n && fits; i++) {
            int len = csv_parsed_field_length(fields, n, i + 1, end);
            std::string raw(fields[i], (size_t)len);
            std::string v = looks_quoted(raw) ? fuzz::value_of(raw) : raw;
            if (v.find('\0') != std::string::npos) fits = false; // a string cannot hold it
            values.push_back(v);
            field_buffer fb{fieldbuf, 0};
            int outlen = 0;
            fits = fits && !fuzz::ends_fatally([&] {
                fb.put_quoted(v.data(), (int)v.size());
                fb.finish(&outlen);
            });
            FUZZ_CHECK(!fits || outlen >= (int)v.size() + 2);
            if (i > 0) line += ',';
            line.append(fieldbuf, fits ? (size_t)outlen : 0);
        }
        if (!fits || n > MAX_FIELDS) continue;
        std::vector<char> again(line.begin(), line.end());
        again.push_back('\0');
        char **table;
        char err2;
        int m = csv_record_string_split(again.data(), recnum, 0, &table, &err2, 0);
        FUZZ_CHECK(err2 == 0 && m == n);
        for (int i = 0; i < m; i++) {
            std::string raw = table[i];
            FUZZ_CHECK(looks_quoted(raw) && fuzz::value_of(raw) == values[(size_t)i]);
        }
    }
    fclose(fp);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    if (size < 1) return 0;
    data++, size--;
    check_value(std::string(reinterpret_cast<const char *>(data), strnlen((const char *)data, size)));
    check_records(data, size);
    return 0;
}
