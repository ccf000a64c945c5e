// Internal to the record library: the CSV grammar's messages and the helpers that the stream
// readers (csv_read.cpp) and the string parser (csv_string.cpp) share, so that both report a
// fault in the same words. Not for programs: they include libcsv.h.
#pragma once

#include "libcsv.h"

// The syntax and limit reporters. The stream readers call them whatever their verbose flag;
// the string parser only when its verbose flag is set.
void syntax_double_quote_in_unquoted(int recnum, int fieldnum);
void syntax_max_fields(int recnum);
void syntax_quoted_field_not_closed(int recnum, int fieldnum);
void syntax_unembedded_cr(int recnum);
void syntax_unescaped_double_quote(int recnum, int fieldnum);
void syntax_max_record_length(int recnum);

// The split forms: the separator before each field after the first becomes a NUL.
inline void split_in_place(char **table, int count) {
    for (int i = 1; i < count; i++) table[i][-1] = '\0';
}

// Copies len bytes of field text and a NUL into buf (MAX_FIELD_LENGTH bytes); a field of
// MAX_FIELD_LENGTH bytes or more is fatal (field_length_exceeded).
const char *copy_field_bounded(char *buf, const char *start, size_t len);

// How the stream readers scan the bytes of unquoted fields: one at a time, or in blocks of the
// vector width. The widest the CPU has is chosen when the library starts (the environment
// variable ZELK_SIMD=scalar|sse2|avx2 narrows it); the result never depends on it.
enum CsvScan { CSV_SCAN_SCALAR, CSV_SCAN_SSE2, CSV_SCAN_AVX2 };
// Sets the scan, if the CPU has it; returns whether it does.
bool csv_scan_set(CsvScan scan);
