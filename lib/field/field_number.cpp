#include "field_number.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "field_buffer.h"
#include "libcsv.h"

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The end of the run of digits from p, at most up to e.
inline const char *skip_digits(const char *p, const char *e) {
    while (p < e && is_digit(*p)) p++;
    return p;
}

// Powers of ten that are exact doubles.
constexpr double exact_pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

double value_by_strtod(const char *s, size_t n) {
    static char buf[MAX_RECORD_LENGTH];
    if (n > sizeof buf - 1) n = sizeof buf - 1;
    memcpy(buf, s, n);
    buf[n] = '\0';
    return strtod(buf, nullptr);
}

} // namespace

field_kind field_number_kind(const char *field, size_t len) {
    const char *e = field + len;
    const char *p = field;
    if (p < e && (*p == '-' || *p == '+')) p++;
    if (p < e && is_digit(*p)) return field_kind::number;
    // A point and digits at the end.
    const char *q = e;
    while (q > field && is_digit(q[-1])) q--;
    if (q < e && q > field && q[-1] == '.') return field_kind::number;
    for (p = field; p < e; p++)
        if (*p != ' ' && *p != '\t') return field_kind::other;
    return field_kind::blank;
}

size_t decimal_prefix(const char *s, size_t n) {
    const char *e = s + n;
    const char *p = s;
    if (p < e && (*p == '-' || *p == '+')) p++;
    const char *digits = p;
    p = skip_digits(p, e);
    size_t ndigits = (size_t)(p - digits);
    if (p < e && *p == '.') {
        const char *frac = p + 1;
        p = skip_digits(frac, e);
        ndigits += (size_t)(p - frac);
    }
    if (ndigits == 0) return 0;
    if (p < e && (*p == 'e' || *p == 'E')) {
        const char *x = p + 1;
        if (x < e && (*x == '-' || *x == '+')) x++;
        const char *end = skip_digits(x, e);
        if (end > x) p = end;
    }
    return (size_t)(p - s);
}

double decimal_value(const char *s, size_t n) {
    const char *e = s + n;
    const char *p = s;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    uint64_t m = 0; // the significant digits, leading zeros left out
    int sig = 0;    // how many
    int exp10 = 0;  // the power of ten m is scaled by
    bool point = false;
    for (; p < e; p++) {
        char c = *p;
        if (c == '.') {
            point = true;
            continue;
        }
        if (!is_digit(c)) break;
        if (point) exp10--;
        if (m == 0 && c == '0') continue;
        if (sig == 19) return value_by_strtod(s, n);
        m = m * 10 + (uint64_t)(c - '0');
        sig++;
    }
    if (p < e) { // the exponent
        p++;
        bool xneg = false;
        if (*p == '-' || *p == '+') xneg = *p++ == '-';
        int x = 0;
        for (; p < e; p++)
            if (x < 100000) x = x * 10 + (*p - '0');
        exp10 += xneg ? -x : x;
    }
    if (m == 0) return negative ? -0.0 : 0.0;
    // m and 10^|exp10| are exact doubles, so one multiplication or division rounds once, as
    // the correctly rounded conversion does.
    if (m > (uint64_t)1 << 53 || exp10 < -22 || exp10 > 22) return value_by_strtod(s, n);
    double v = (double)m;
    v = exp10 < 0 ? v / exact_pow10[-exp10] : v * exact_pow10[exp10];
    return negative ? -v : v;
}

field_kind field_number_read(const char *field, size_t len, double *value) {
    const char *p = field, *e = field + len;
    bool negative = false;
    if (p < e && (*p == '-' || *p == '+')) negative = *p++ == '-';
    const char *digits = p;
    uint64_t m = 0;
    while (p < e && is_digit(*p))
        m = m * 10 + (uint64_t)(*p++ - '0');
    size_t ndigits = (size_t)(p - digits), nfrac = 0;
    if (p < e && *p == '.') {
        const char *frac = ++p;
        while (p < e && is_digit(*p))
            m = m * 10 + (uint64_t)(*p++ - '0');
        nfrac = (size_t)(p - frac);
        ndigits += nfrac;
    }
    // 19 digits cannot overflow m; m up to 2^53 and 10^nfrac (nfrac at most 19) are exact
    // doubles, and one division rounds once, as decimal_value does. Anything else goes the
    // long way.
    if (p == e && ndigits > 0 && ndigits <= 19 && m <= (uint64_t)1 << 53) {
        double v = (double)m / exact_pow10[nfrac];
        *value = negative ? -v : v;
        return field_kind::number;
    }
    field_kind kind = field_number_kind(field, len);
    // A quoted field is never a number as read, so a number costs no test of its quotes.
    if (kind == field_kind::other && number_unquote(&field, &len))
        kind = field_number_kind(field, len);
    if (kind == field_kind::number) *value = field_number_value(field, len);
    return kind;
}
