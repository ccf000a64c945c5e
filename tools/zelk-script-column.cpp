// zelk-script-column: replace one field of every record by what AWK code makes of it.
#include <cstdio>
#include <cstring>

#include "awk_exchange.h"
#include "cli.h"
#include "field_buffer.h"
#include "field_loop.h"
#include "libcsv.h"
#include "libsubproc.h"

static char opt_values; // -u

static void print_usage(FILE *out) {
    fputs("Program to 'process' the values in one field in the records of a CSV file, using "
          "AWK code.\n\n"
          "Usage: zelk-script-column [OPTIONS] FIELD [CSVFILE]\n\n"
          "FIELD is the 1-based field index to process, or header field name if -Q option.\n\n"
          "AWK program code must be supplied via the -e or -f option.\n\n"
          "Options:\n"
          "  -b          -- blank records passed through (removed by default, see also -1)\n"
          "  -eCODE      -- CODE is the AWK program to execute\n"
          "  -fCODE_FILE -- CODE_FILE is a file containing the AWK program to execute\n"
          "  -h          -- process header record (passed through by default)\n"
          "  -lLIB_FILE  -- load AWK library/functions file LIB_FILE\n"
          "  -o          -- omit header record (not processed, not passed through)\n"
          "  -Q          -- query header to get index of FIELD name\n"
          "  -t          -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u          -- give the code FIELD's value (a quoted field without its quotes,\n"
          "                 doubled quotes single) and quote the new value where it needs it;\n"
          "                 a value the code leaves as it was is written as read\n"
          "  -1          -- interpret blank record as single empty field (see also -b)\n\n"
          "The AWK program code will receive FIELD's value in each CSVFILE record as its input "
          "\"record\" ($0).\n"
          "E.g., CSVFILE record \"A,B,C\" and FIELD of 2, will result in AWK code having $0 be "
          "\"B\".\n"
          "Modify FIELD's value by having the code do an assignment to $0: $0=newvalue.\n"
          "Note that $0 must have a string value, so use sprintf() to assign new numeric "
          "values.\n"
          "FIELD values in output records will be the values of $0 produced for each CSVFILE "
          "record.\n"
          "AWK code is not to do any output (do not call print or printf).\n"
          "AWK code must be valid AWK \"program,\" i.e., one or more rules: "
          "[pattern]{actions}.\n",
          out);
}

static const cli_program program = {"zelk-script-column", "be:f:hl:oQtu1", "b1hoQt", nullptr,
                                    print_usage};

// Writes a record with its FIELD replaced by the result (a blank record passed through: the
// terminator alone). A result that is not CSV text is written as it is, counted as one field.
static void write_result(const awk_record &rec, const char *result, int len) {
    if (result) {
        int resultfields = csv_fields_count(result, (size_t)len);
        field_span f{rec.text, rec.len, rec.cut_at, rec.cut_len, rec.numfields};
        write_field_replaced(f, result, (size_t)len, resultfields > 0 ? resultfields : 1,
                             rec.recnum);
    } else {
        out_terminator();
    }
    errcheck_stdout_exit();
}

// The handler with -u: the result is a value. One equal to the value the code was given puts
// the field back as read; any other is quoted when it holds a double quote, a comma or a line
// break.
static void write_value_result(const awk_record &rec, const char *result, int len) {
    if (!result) {
        write_result(rec, result, len);
        return;
    }
    static char buf[MAX_FIELD_LENGTH];
    const char *raw = rec.text + rec.cut_at;
    int vlen;
    const char *value = awk_field_value(raw, rec.cut_len, buf, &vlen);
    if (vlen == len && memcmp(value, result, (size_t)len) == 0) {
        result = raw;
        len = (int)rec.cut_len;
    } else if (!quotes_removable(result, len, ',', false)) {
        // Quoted, it is held to the limit of a result as awk gives it.
        int quoted = len + 2;
        for (int i = 0; i < len; i++)
            quoted += result[i] == '"';
        if (quoted > AWK_RESULT_MAX - 1)
            fatalf(0, "ERROR: processed field from AWK exceeds max field size");
        field_buffer fb{buf, 0};
        fb.put_quoted(result, len);
        result = fb.finish(&len);
    }
    field_span f{rec.text, rec.len, rec.cut_at, rec.cut_len, rec.numfields};
    write_field_replaced(f, result, (size_t)len, 1, rec.recnum);
    errcheck_stdout_exit();
}

// Rewrites FIELD of every record of fp, sent to awk as its value with Values (-u); false when
// the header could not be read or a CSV or read error ended the input. Every other failure
// ends the process.
template <bool Values> static bool process_csv_file(FILE *fp, const char *name, int fieldnum) {
    int numfields;
    char **fields;
    char error_flag;
    int recnum = 0;
    static char valuebuf[MAX_FIELD_LENGTH]; // FIELD's value with -u
    if (!opt_headerproc) {
        const char *header = header_pass_required(fp, name, &fieldnum, false);
        if (!header) return false;
        if (!opt_headeromit) {
            out_record(header, (size_t)csv_record_parse_length());
            fflush(stdout);
            errcheck_stdout_exit();
        }
        recnum = 1;
    }

    for (;;) {
        // A blank record passed through takes its turn behind the records still waiting for
        // their results.
        size_t textlen;
        const char *text = read_field_record(fp, name, &recnum, &numfields, &fields, &textlen,
                                             &error_flag, awk_submit_blank);
        if (!text) return !error_flag;
        int present = field_count(numfields);
        if (present < fieldnum) {
            awk_drain();
            fatalf(0, "ERROR: record #%d: FIELD #%d does not exist (%d fields)", recnum, fieldnum,
                   present);
        }
        field_span f = field_span_of(text, textlen, fields, numfields, fieldnum);
        awk_refuse_long_field(f.len);
        const char *field = text + f.start;
        awk_refuse_framing_bytes(field, f.len, recnum);
        const char *value = field;
        int vlen = (int)f.len;
        if (Values) value = awk_field_value(field, f.len, valuebuf, &vlen);
        awk_submit(recnum, text, textlen, value, (size_t)vlen, f.start, f.len, f.numfields);
    }
}

int main(int argc, char **argv) {
    if (argc == 1) {
        print_usage(stderr);
        return 1;
    }
    cli_begin(&program, argc, argv);
    static const char *const assignments[] = {AWK_SET_RS, AWK_SET_ORS, nullptr};
    awk_argv_begin(2 * argc + 6, "ERROR: failed allocating dynamic memory",
                   "ERROR: max size of AWK argv exceeded (%d vs %d)", assignments);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'e':
        case 'f':
        case 'l': awk_code_option(c, optarg); break;
        case 'u': opt_values = 1; break;
        }
    }
    awk_require_code();
    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();
    int fieldnum = field_operand(argv[optind]);
    const char *name;
    FILE *fp = open_input_or_exit(nops == 2 ? argv[optind + 1] : nullptr, &name);

    fp = awk_start(AWK_ONE_RESULT, "$0", fp);
    awk_set_handler(opt_values ? write_value_result : write_result,
                    "ERROR: failed writing field to AWK",
                    "ERROR: invalid processed field from AWK\n");
    if (!(opt_values ? process_csv_file<true> : process_csv_file<false>)(fp, name, fieldnum)) {
        awk_drain();
        fatal_exit();
    }
    awk_finish();
    cli_exit(collect_children() ? 0 : 1);
}
