// zelk-setcell: copy a CSV file with the value of one field of one record replaced.
#include <cstdio>

#include "cli.h"
#include "field_loop.h"
#include "libcsv.h"
#include "replacement.h"

// NEWVALUE, converted once.
static replacement format;

static void print_usage(FILE *out) {
    fputs("Program to edit (replace) the value of one field in one record in a CSV file.\n\n"
          "Usage: zelk-setcell [OPTION...] RECORD FIELD NEWVALUE [CSVFILE]\n\n"
          "RECORD is the 1-based record number to operate on.\n"
          "FIELD is the 1-based field index to operate on, or header field name if -Q option.\n"
          "NEWVALUE is the new/replacement value of the specified field.\n"
          "(NEWVALUE can contain '&' to be substituted by the previous value of the field.)\n\n"
          "Options:\n"
          "  -Q -- query header (record 1) to get index of FIELD name\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n",
          out);
}

static const cli_program program = {"zelk-setcell", "Qt", "Qt", nullptr, print_usage};

// Copies records from recnum on until the input ends; false when it ended on an error.
static bool copy_records(FILE *fp, const char *name, int recnum, int upto) {
    int numfields;
    char error;
    for (; upto == 0 || recnum < upto; recnum++) {
        const char *text = csv_record_read(fp, name, recnum, 1, &numfields, &error);
        if (!text) return !error;
        out_record(text, (size_t)csv_record_read_length());
        errcheck_stdout_exit();
    }
    return true;
}

// fieldnum is 0 when -Q names the field and recnum is the header.
static void replace_csv_record(FILE *fp, const char *name, int recnum, int fieldnum) {
    int numfields;
    char **fields;
    char error;
    const char *text = csv_record_read_and_parse(fp, name, recnum, 1, &numfields, &fields, &error);
    if (!text) {
        if (!error && opt_queryfieldname && recnum == 1)
            error_empty_input(name);
        else if (!error)
            fatalf(0, "ERROR: CSVFILE '%s' has less than RECORD (%d) records", name, recnum);
        cli_exit(1);
    }
    if (fieldnum == 0) fieldnum = fieldname2fieldnum(opt_fieldnamestr, numfields, fields);
    if (numfields < fieldnum)
        fatalf(0, "ERROR: record #%d does not contain replacement FIELD #%d", recnum, fieldnum);
    field_span f =
        field_span_of(text, (size_t)csv_record_parse_length(), fields, numfields, fieldnum);
    char old[MAX_FIELD_LENGTH];
    field_span_copy(f, old);
    const char *args[1] = {old};
    size_t argl[1] = {f.len};
    replacement_write_record(f, &format, args, argl, old, recnum, fieldnum);
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    while (cli_next_option(argc, argv) != -1) {
    }

    int nops = argc - optind;
    if (nops < 3 || nops > 4) cli_usage_exit();
    int recnum = intstrconv(argv[optind], "RECORD", 1);
    int fieldnum = field_operand(argv[optind + 1]);
    const char *path = nops == 4 ? argv[optind + 3] : nullptr;
    const char *name;
    FILE *fp = open_input_or_exit(path, &name);
    replacement_compile(&format, argv[optind + 2], false, "NEWVALUE");

    // With -Q the header is read for the name first, unless it is the record to change.
    int from = 1;
    if (opt_queryfieldname && recnum > 1) {
        if (!header_pass_required(fp, name, &fieldnum, true)) cli_exit(1);
        from = 2;
    }
    if (!copy_records(fp, name, from, recnum)) cli_exit(1);
    replace_csv_record(fp, name, recnum, fieldnum);
    cli_exit(copy_records(fp, name, recnum + 1, 0) ? 0 : 1);
}
