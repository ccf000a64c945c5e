// The replacement text of zelk-subst and zelk-setcell against a plain expansion written from
// its rules: "\&" is a literal '&'; without numbering '&' is the matched text (at most once);
// with numbering "&0" to "&9" are the match and its subexpressions, and any other '&' is an
// error. With back references (zelk-subst -g), '&' is the match as often as it stands, "\1"
// to "\9" the subexpressions the pattern has, "\&" and "\\" literal, and any other
// backslash an error. A text whose converted form passes the format buffer is refused; any
// other text is accepted and expands to the reference's bytes, NUL bytes and '%' in the
// arguments included.
//
// Input: a flag byte (bit 0: numbered; bit 1: back references, for a pattern of (flag >> 2) % 10
// subexpressions), the replacement text up to the first 0xFF byte (and its first NUL), then up
// to ten arguments separated by 0xFF bytes.
#include <optional>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "replacement.h"

namespace {

struct expansion {
    std::string text;
    size_t format_length; // the printf format the replacement stands for: '%' and refs grow
};

std::optional<expansion> reference(const std::string &t, bool numbered,
                                   const std::vector<std::string> &args) {
    expansion e{"", 0};
    bool seen = false;
    for (size_t i = 0; i < t.size(); i++) {
        char c = t[i];
        if (c == '\\' && i + 1 < t.size() && t[i + 1] == '&') {
            e.text += '&';
            e.format_length += 1;
            i++;
        } else if (c == '&' && !numbered) {
            if (seen) return std::nullopt;
            seen = true;
            e.text += args[0];
            e.format_length += 2;
        } else if (c == '&') {
            if (i + 1 == t.size() || t[i + 1] < '0' || t[i + 1] > '9') return std::nullopt;
            int k = t[++i] - '0';
            e.text += args[(size_t)k];
            e.format_length += k == 9 ? 5 : 4;
        } else {
            e.text += c;
            e.format_length += c == '%' ? 2 : 1;
        }
    }
    return e;
}

std::optional<expansion> reference_backrefs(const std::string &t, int nsub,
                                            const std::vector<std::string> &args) {
    expansion e{"", 0};
    for (size_t i = 0; i < t.size(); i++) {
        char c = t[i];
        if (c == '&') {
            e.text += args[0];
            e.format_length += 2;
        } else if (c != '\\') {
            e.text += c;
            e.format_length += c == '%' ? 2 : 1;
        } else {
            char d = i + 1 < t.size() ? t[++i] : '\0';
            if (d == '&' || d == '\\')
                e.text += d;
            else if (d >= '1' && d <= '0' + nsub)
                e.text += args[(size_t)(d - '0')];
            else
                return std::nullopt;
            e.format_length += 2;
        }
    }
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    if (size < 1) return 0;
    bool numbered = data[0] & 1;
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    std::vector<std::string> parts = fuzz::split(rest, '\xff');
    std::string text = parts[0].substr(0, parts[0].find('\0'));
    std::vector<std::string> args(parts.begin() + 1, parts.end());
    args.resize(10);
    const char *argp[10];
    size_t argl[10];
    for (int k = 0; k < 10; k++) argp[k] = args[(size_t)k].data(), argl[k] = args[(size_t)k].size();

    static replacement r;
    bool backrefs = data[0] & 2;
    int nsub = (data[0] >> 2) % 10;
    bool fatal = fuzz::ends_fatally([&] {
        if (backrefs)
            replacement_compile_backrefs(&r, text.c_str(), nsub, "REPLACEMENT");
        else
            replacement_compile(&r, text.c_str(), numbered, "REPLACEMENT");
    });
    auto want = backrefs ? reference_backrefs(text, nsub, args) : reference(text, numbered, args);
    if (!want) {
        FUZZ_CHECK(fatal);
        return 0;
    }
    // The format buffer holds MAX_FIELD_LENGTH - 1 bytes of format.
    FUZZ_CHECK(fatal == (want->format_length > MAX_FIELD_LENGTH - 1));
    if (fatal) return 0;
    static char buf[MAX_RECORD_LENGTH];
    size_t n = replacement_compose(&r, argp, argl, buf, sizeof buf);
    if (n > sizeof buf) return 0;
    std::string got(buf, n);
    FUZZ_CHECK_SAME(got, want->text);
    return 0;
}
