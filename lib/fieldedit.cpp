#include "fieldedit.h"

#include <cstring>

#include "cli.h"
#include "libcsv.h"

field_span field_span_of(const char *text, size_t textlen, char **fields, int numfields,
                         int fieldnum) {
    field_span f{text, textlen, 0, 0};
    if (numfields == 0) return f;
    f.start = (size_t)(fields[fieldnum - 1] - text);
    f.len = (size_t)csv_parsed_field_length(fields, numfields, fieldnum, text + textlen);
    return f;
}

void field_span_copy(const field_span &f, char *buf) {
    if (f.len > MAX_FIELD_LENGTH - 1)
        fatalf(0, "ERROR: field length (%d) exceeds the maximum allowed (%d)", (int)f.len,
               MAX_FIELD_LENGTH);
    memcpy(buf, f.text + f.start, f.len);
    buf[f.len] = '\0';
}

void out_before_field(const field_span &f) {
    out_bytes(f.text, f.start);
}

void out_after_field(const field_span &f) {
    size_t end = f.start + f.len;
    out_bytes(f.text + end, f.textlen - end);
}
