// Numeric fields as zelk-range reads them. A field is a number when it begins with a digit
// (after an optional sign) or ends with a point and digits; its value is that of its longest
// decimal prefix (0 without one), so "12abc" is 12, "0x10" is 0 and "x.5" is 0. Blank fields
// (spaces and tabs only, or nothing) are neither numbers nor errors. Fields are byte ranges:
// a NUL byte inside is data and belongs to no number. A quoted field that number_unquotes
// (field_buffer.h) is read without its quotes, so "42" is read as 42 is.
#pragma once

#include <cstddef>

enum class field_kind { number, blank, other };

// What field[0..len) is.
field_kind field_number_kind(const char *field, size_t len);

// The length of the decimal number at the start of s[0..n): an optional sign, digits with at
// most one point (at least one digit), and an optional exponent (e or E, an optional sign,
// digits). 0 when there is none.
size_t decimal_prefix(const char *s, size_t n);

// The value of s[0..n), which is a decimal number as decimal_prefix reads it whole (n below
// MAX_RECORD_LENGTH), exactly as strtod reads it: correctly rounded, infinite past the largest
// double and zero or subnormal below the smallest. A number of up to 19 significant digits
// whose value and power of ten are exact doubles is computed here; any other goes to strtod.
double decimal_value(const char *s, size_t n);

// The value of the decimal prefix of field[0..len), 0 without one.
inline double field_number_value(const char *field, size_t len) {
    size_t n = decimal_prefix(field, len);
    return n ? decimal_value(field, n) : 0.0;
}

// field_number_kind of the field as a numeric field is read (one that is no number as read
// but number_unquotes is read inside its quotes) and, for a number, field_number_value in
// *value. A field of nothing but a sign, digits and a point is read in one pass.
field_kind field_number_read(const char *field, size_t len, double *value);
