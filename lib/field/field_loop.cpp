#include "field_loop.h"

#include <cstring>

#include "cli.h"
#include "libcsv.h"

int field_operand(const char *arg) { return field_operand(arg, "FIELD"); }

int field_operand(const char *arg, const char *operand) {
    if (!opt_queryfieldname) return intstrconv(arg, operand, 1);
    opt_fieldnamestr = arg;
    return 0;
}

const char *header_pass(FILE *fp, const char *name, int *fieldnum, bool write, char *error) {
    int numfields;
    char **fields;
    const char *text = csv_record_read_and_parse(fp, name, 1, 1, &numfields, &fields, error);
    if (!text) {
        // FIELD names a header field: without a header there is nothing to work on.
        if (!*error && opt_queryfieldname) {
            error_empty_input(name);
            *error = 1;
        }
        return nullptr;
    }
    if (opt_queryfieldname) *fieldnum = fieldname2fieldnum(opt_fieldnamestr, numfields, fields);
    if (write) {
        out_record(text, (size_t)csv_record_parse_length());
        errcheck_stdout_exit();
    }
    return text;
}

const char *header_pass_required(FILE *fp, const char *name, int *fieldnum, bool write) {
    char error;
    const char *text = header_pass(fp, name, fieldnum, write, &error);
    if (!text && !error) error_empty_input(name);
    return text;
}

const char *header_fields_required(FILE *fp, const char *name, int *numfields, char ***fields) {
    char error;
    const char *text = csv_record_read_and_parse(fp, name, 1, 1, numfields, fields, &error);
    if (!text && !error) error_empty_input(name);
    return text;
}

void blank_record_pass(void) {
    if (!opt_blankrecspass) return;
    out_terminator();
    errcheck_stdout_exit();
}

namespace {

// The loop of read_field_record over a reader: read(recnum, numfields, fields, error) gives
// the next record parsed, length() its byte count.
template <class Read>
const char *next_field_record(Read read, int (*length)(void), int *recnum, int *numfields,
                              char ***fields, size_t *textlen, char *error,
                              void (*blank)(int recnum)) {
    for (;;) {
        const char *text = read(++*recnum, numfields, fields, error);
        if (!text) return nullptr;
        if (*numfields == 0 && !opt_blankrecisfield) {
            if (!blank)
                blank_record_pass();
            else if (opt_blankrecspass)
                blank(*recnum);
            continue;
        }
        *textlen = (size_t)length();
        return text;
    }
}

} // namespace

const char *read_field_record(FILE *fp, const char *name, int *recnum, int *numfields,
                              char ***fields, size_t *textlen, char *error,
                              void (*blank)(int recnum)) {
    auto read = [fp, name](int n, int *nf, char ***f, char *e) {
        return csv_record_read_and_parse(fp, name, n, 1, nf, f, e);
    };
    return next_field_record(read, csv_record_parse_length, recnum, numfields, fields, textlen,
                             error, blank);
}

const char *read_dsv_field_record(char sep, FILE *fp, const char *name, int *recnum,
                                  int *numfields, char ***fields, size_t *textlen, char *error) {
    auto read = [sep, fp, name](int n, int *nf, char ***f, char *e) {
        return dsv_record_read_and_parse(sep, fp, name, n, 1, nf, f, e);
    };
    return next_field_record(read, dsv_record_parse_length, recnum, numfields, fields, textlen,
                             error, nullptr);
}

field_span field_span_of(const char *text, size_t textlen, char **fields, int numfields,
                         int fieldnum) {
    field_span f{text, textlen, 0, 0, field_count(numfields)};
    csv_where_field(fieldnum);
    if (numfields == 0) return f;
    f.start = (size_t)(fields[fieldnum - 1] - text);
    f.len = (size_t)csv_parsed_field_length(fields, numfields, fieldnum, text + textlen);
    return f;
}

void field_span_copy(const field_span &f, char *buf) {
    if (f.len > MAX_FIELD_LENGTH - 1) field_length_exceeded();
    memcpy(buf, f.text + f.start, f.len);
    buf[f.len] = '\0';
}

const char *read_field_copy(FILE *fp, const char *name, int *recnum, int fieldnum, char *buf,
                            size_t *fieldlen, int *numfields, size_t *textlen, char *error) {
    char **fields;
    const char *text = read_field_record(fp, name, recnum, numfields, &fields, textlen, error);
    if (!text || field_count(*numfields) < fieldnum) return text;
    field_span f = field_span_of(text, *textlen, fields, *numfields, fieldnum);
    field_span_copy(f, buf);
    *fieldlen = f.len;
    return text;
}

void write_field_replaced(const field_span &f, const char *value, size_t n, int valuefields,
                          int recnum) {
    out_rec_begin(recnum);
    out_rec_add_fields(f.numfields - 2 + valuefields);
    out_rec_bytes(f.text, f.start);
    out_rec_bytes(value, n);
    size_t end = f.start + f.len;
    out_rec_bytes(f.text + end, f.textlen - end);
    out_rec_end();
}
