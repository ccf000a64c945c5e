// The stream readers against each other on the same bytes: raw, parse, split, get-field, skip
// and the DSV reader with a comma agree on every record's text, field count, verdict, messages
// (record and field numbers) and where the stream is left; the string parser agrees with them
// on each record read.
//
// Input: a 4-byte head, then the data. The head inserts a run of one filler byte (x, comma,
// double quote or LF; up to 131071 of them) into the data so that the record length and field
// count limits are within the fuzzer's reach; its last byte also picks the get-field number.
#include <string>
#include <vector>

#include "fuzz_common.h"

namespace {

const char *const NAME = "fuzz input";

struct reading {
    FILE *fp;
    std::string msg;
};

// Runs fn with standard error caught; the message text goes to r.msg.
template <class F> void caught(reading &r, F fn) { r.msg = fuzz::messages_of(fn); }

long where(FILE *fp) { return ftell(fp); }

// The string parser on one record read by the stream readers (text of len bytes, count fields,
// field offsets off[]): the same fields, with or without a terminator after the text.
void check_string_parser(const char *text, int len, int count, const int *off, int k) {
    if (len > 0 && memchr(text, 0, (size_t)len)) return; // a string stops at its first NUL
    static const char *const terminators[] = {"", "\n", "\r\n"};
    for (const char *term : terminators) {
        std::string s(text, (size_t)len);
        s += term;
        std::vector<char> buf(s.begin(), s.end());
        buf.push_back('\0');
        char **table = nullptr;
        char err = 2;
        int n = csv_record_string_parse(buf.data(), 1, 1, &table, &err, 0);
        if (len == 0) {
            // A blank record, or the lone CR at the end of a file (one empty field to the
            // stream readers): an empty string, unless a terminator makes it one empty field.
            FUZZ_CHECK(err == 0);
            FUZZ_CHECK(n == (term[0] ? 1 : 0));
            continue;
        }
        FUZZ_CHECK(count <= MAX_FIELDS);
        FUZZ_CHECK(err == 0 && n == count);
        for (int i = 0; i < n; i++) FUZZ_CHECK(table[i] - buf.data() == off[i]);
        FUZZ_CHECK(strlen(buf.data()) == (size_t)len); // the terminator became NUL

        buf.assign(s.begin(), s.end());
        buf.push_back('\0');
        n = csv_record_string_split(buf.data(), 1, 1, &table, &err, 0);
        FUZZ_CHECK(err == 0 && n == count);
        for (int i = 1; i < n; i++) FUZZ_CHECK(table[i][-1] == '\0');

        if (k <= count && (k == count ? len - off[k - 1] : off[k] - off[k - 1] - 1) <
                              MAX_FIELD_LENGTH) {
            buf.assign(s.begin(), s.end());
            buf.push_back('\0');
            const char *f = csv_record_string_get_field(buf.data(), 1, 1, k, &err, 0);
            FUZZ_CHECK(f && err == 0);
            size_t flen = k == count ? (size_t)(len - off[k - 1]) : (size_t)(off[k] - off[k - 1] - 1);
            FUZZ_CHECK(strlen(f) == flen && memcmp(f, text + off[k - 1], flen) == 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    if (size < 4) return 0;
    static const char fillers[] = {'x', ',', '"', '\n'};
    char filler = fillers[(data[0] >> 1) & 3];
    size_t nfill = ((size_t)(data[0] >> 7) << 16) | ((size_t)data[1] << 8) | data[2];
    if (filler == '\n' || filler == ',') nfill %= 2048; // enough for the field limit
    int k = data[3] % 8 + 1;
    size_t at = size > 4 ? data[3] % (size - 4 + 1) : 0;
    std::vector<uint8_t> bytes(data + 4, data + 4 + at);
    bytes.insert(bytes.end(), nfill, (uint8_t)filler);
    bytes.insert(bytes.end(), data + 4 + at, data + size);

    reading raw{fuzz::open_bytes(bytes.data(), bytes.size()), {}};
    reading parse{fuzz::open_bytes(bytes.data(), bytes.size()), {}};
    reading split{fuzz::open_bytes(bytes.data(), bytes.size()), {}};
    reading get{fuzz::open_bytes(bytes.data(), bytes.size()), {}};
    reading skip{fuzz::open_bytes(bytes.data(), bytes.size()), {}};
    reading dsv{fuzz::open_bytes(bytes.data(), bytes.size()), {}};

    std::vector<char> text;
    std::vector<int> off(MAX_FIELDS);
    for (int recnum = 1;; recnum++) {
        int rcount = 0;
        char rerr = 2;
        const char *rtext = nullptr;
        caught(raw, [&] { rtext = csv_record_read(raw.fp, NAME, recnum, 1, &rcount, &rerr); });
        int rlen = rtext ? csv_record_read_length() : 0;
        FUZZ_CHECK(rerr == 0 || rerr == 1);
        FUZZ_CHECK(rtext ? rcount >= 0 && rerr == 0 : rcount == -1);

        int pcount = 0;
        char **pfields = nullptr;
        char perr = 2;
        char *ptext = nullptr;
        caught(parse, [&] {
            ptext = csv_record_read_and_parse(parse.fp, NAME, recnum, 1, &pcount, &pfields, &perr);
        });
        FUZZ_CHECK(perr == 0 || perr == 1);
        FUZZ_CHECK(ptext ? pcount >= 0 && pcount <= MAX_FIELDS && perr == 0
                         : pcount == -1 && pfields == nullptr);
        int plen = ptext ? csv_record_parse_length() : 0;
        if (ptext) {
            text.assign(ptext, ptext + plen);
            for (int i = 0; i < pcount; i++) off[i] = (int)(pfields[i] - ptext);
            if (pcount > 0) FUZZ_CHECK(off[0] == 0);
            for (int i = 1; i < pcount; i++) {
                FUZZ_CHECK(off[i] > off[i - 1] && off[i] <= plen);
                FUZZ_CHECK(ptext[off[i] - 1] == ',');
            }
        }

        // The DSV reader with a comma is the same reader.
        int dcount = 0;
        char **dfields = nullptr;
        char derr = 2;
        char *dtext = nullptr;
        caught(dsv, [&] {
            dtext = dsv_record_read_and_parse(',', dsv.fp, NAME, recnum, 1, &dcount, &dfields, &derr);
        });
        FUZZ_CHECK(!dtext == !ptext && dcount == pcount && derr == perr && dsv.msg == parse.msg);
        FUZZ_CHECK(where(dsv.fp) == where(parse.fp));
        if (dtext) {
            FUZZ_CHECK(dsv_record_parse_length() == plen && fuzz::same(dtext, text.data(), plen));
            for (int i = 0; i < dcount; i++) FUZZ_CHECK(dfields[i] - dtext == off[i]);
        }

        // Split: the parsed form with the commas before fields 2..n made NUL.
        char **sfields = nullptr;
        char serr = 2;
        int scount = 0;
        caught(split, [&] {
            scount = csv_record_read_and_split(split.fp, NAME, recnum, 1, &sfields, &serr);
        });
        FUZZ_CHECK(scount == (ptext ? pcount : -1) && serr == perr && split.msg == parse.msg);
        FUZZ_CHECK(where(split.fp) == where(parse.fp));
        if (scount > 0) {
            FUZZ_CHECK(csv_record_parse_length() == plen);
            for (int i = 0; i < scount; i++) {
                FUZZ_CHECK(sfields[i] - sfields[0] == off[i]);
                if (i > 0) FUZZ_CHECK(sfields[i][-1] == '\0');
            }
        }

        // Get-field: a copy of field k, fatal when it is longer than a field buffer.
        int flen = -1;
        if (ptext && k <= pcount) flen = k == pcount ? plen - off[k - 1] : off[k] - off[k - 1] - 1;
        int gcount = 0;
        char gerr = 2;
        char *gfield = nullptr;
        char *gtext = nullptr;
        bool fatal = false;
        caught(get, [&] {
            fatal = fuzz::ends_fatally([&] {
                gtext = csv_record_read_and_get_field(get.fp, NAME, recnum, 1, k, &gfield, &gcount,
                                                      &gerr);
            });
        });
        FUZZ_CHECK(fatal == (flen >= MAX_FIELD_LENGTH));
        if (fatal) break;
        FUZZ_CHECK(!gtext == !ptext && gcount == pcount && gerr == perr && get.msg == parse.msg);
        FUZZ_CHECK(where(get.fp) == where(parse.fp));
        if (gtext) {
            FUZZ_CHECK(!gfield == (flen < 0));
            if (gfield)
                FUZZ_CHECK(csv_record_get_field_length() == flen &&
                           fuzz::same(gfield, text.data() + off[k - 1], flen));
        }

        // Skip: the same verdicts, but no limit on length or fields.
        int kept = 0;
        char kerr = 2;
        caught(skip, [&] { kept = csv_record_read_and_skip(skip.fp, NAME, recnum, 1, &kerr); });

        // Skip against raw: only the record length limit may differ (skip reads on and may
        // then meet another error, or none).
        if (rerr && raw.msg.find("record length exceeded") != std::string::npos) break;
        FUZZ_CHECK(kept == (rtext ? 1 : 0) && kerr == rerr);
        FUZZ_CHECK_SAME(skip.msg, raw.msg);
        FUZZ_CHECK(where(skip.fp) == where(raw.fp));

        // Raw against parse: only the field limit may differ (raw reads on and may then meet
        // another error, or none).
        if (perr && parse.msg.find("number of fields exceeded") != std::string::npos) {
            FUZZ_CHECK(rerr || rcount > MAX_FIELDS);
            break;
        }
        FUZZ_CHECK(!rtext == !ptext && rcount == pcount && rerr == perr);
        FUZZ_CHECK_SAME(raw.msg, parse.msg);
        FUZZ_CHECK(where(raw.fp) == where(parse.fp));
        if (rtext) FUZZ_CHECK(rlen == plen && fuzz::same(rtext, text.data(), plen));

        if (!rtext) break;
        if (rcount > 0 || rlen > 0) check_string_parser(text.data(), plen, pcount, off.data(), k);
    }
    for (reading *r : {&raw, &parse, &split, &get, &skip, &dsv}) fclose(r->fp);
    return 0;
}
