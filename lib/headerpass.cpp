#include "headerpass.h"

#include "cli.h"
#include "libcsv.h"

int field_operand(const char *arg) {
    if (!opt_queryfieldname) return intstrconv(arg, "FIELD", 1);
    opt_fieldnamestr = arg;
    return 0;
}

const char *header_pass(FILE *fp, const char *name, int *fieldnum, bool write, char *error) {
    int numfields;
    char **fields;
    const char *text = csv_record_read_and_parse(fp, name, 1, 1, &numfields, &fields, error);
    if (!text) return nullptr;
    if (opt_queryfieldname) *fieldnum = fieldname2fieldnum(opt_fieldnamestr, numfields, fields);
    if (write) {
        out_record(text, (size_t)csv_record_parse_length());
        errcheck_stdout_exit();
    }
    return text;
}

void blank_record_pass(void) {
    if (!opt_blankrecspass) return;
    out_terminator();
    errcheck_stdout_exit();
}

const char *read_field_record(FILE *fp, const char *name, int *recnum, int *numfields,
                              char ***fields, size_t *textlen, char *error) {
    for (;;) {
        const char *text =
            csv_record_read_and_parse(fp, name, ++*recnum, 1, numfields, fields, error);
        if (!text) return nullptr;
        if (*numfields == 0 && !opt_blankrecisfield) {
            blank_record_pass();
            continue;
        }
        *textlen = (size_t)csv_record_parse_length();
        return text;
    }
}
