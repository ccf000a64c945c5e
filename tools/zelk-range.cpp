// zelk-range: keep the records whose value in one numeric field lies within a closed range.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "field_loop.h"
#include "field_number.h"
#include "libcsv.h"
#include "parallel.h"

static char opt_lowerval;    // -m
static double opt_lowermin;  // -m
static char opt_upperval;    // -x
static double opt_uppermax;  // -x
static char opt_passignored; // -p
static char opt_invert;      // -v
static char opt_warnignored; // -w

static void print_usage(FILE *out) {
    fputs("Program to filter a CSV file based on the values in a numeric-valued field.\n\n"
          "Usage: zelk-range [OPTION...] FIELD [CSVFILE]\n\n"
          "FIELD is the 1-based index of the numeric-valued field to filter on, or header field "
          "name if -Q option.\n\n"
          "Filter Options:\n"
          "  -mMIN_VALUE -- exclude values less than MIN_VALUE\n"
          "  -xMAX_VALUE -- exclude values greater than MAX_VALUE\n\n"
          "Other Options:\n"
          "  -b -- blank records passed through (removed by default)\n"
          "  -h -- process header record (passed through by default)\n"
          "  -jNUM -- work on NUM cores (default: all for a file of 16 MiB or more)\n"
          "  -o -- omit header record (not passed through)\n"
          "  -p -- pass through records with FIELD blank or missing (removed by default)\n"
          "  -Q -- query header to get index of FIELD name\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -v -- invert filtering (i.e., output records that should be filtered)\n"
          "  -w -- warn about records being ignored (FIELD blank or missing)\n",
          out);
}

static const cli_pair pairs[] = {{'p', 'w'}, {0, 0}};
static const cli_program program = {"zelk-range", "m:x:bhj:opQtvw", "bhjoQt", pairs, print_usage};

// A bound: a whole decimal number, or "Invalid value for NAME: TEXT (reason)".
static double bound_arg(const char *arg, const char *name) {
    size_t len = strlen(arg);
    if (len == 0 || decimal_prefix(arg, len) != len)
        fatalf(0, "Invalid value for %s: %s (not a decimal number)", name, arg);
    errno = 0;
    double v = strtod(arg, nullptr);
    if (errno == ERANGE && (v > 1 || v < -1))
        fatalf(0, "Invalid value for %s: %s (invalid/out-of-range)", name, arg);
    return v;
}

static bool out_of_range(double v) {
    return (opt_lowerval && v < opt_lowermin) || (opt_upperval && v > opt_uppermax);
}

static void write_record(const char *text, size_t len) {
    out_record(text, len);
    errcheck_stdout_exit();
}

static int fieldnum;

// The records after the header, to the end of the input or of the part given (parallel.h).
static bool filter_records(FILE *fp, const char *name, int *recnum, void *) {
    int n = *recnum;
    int numfields;
    char **fields;
    size_t textlen;
    const char *text;
    char error;
    while ((text = read_field_record(fp, name, &n, &numfields, &fields, &textlen, &error))) {
        if (numfields < fieldnum) {
            if (opt_passignored)
                write_record(text, textlen);
            else if (opt_warnignored)
                warnf("Warning: record #%d is missing FIELD", n);
            continue;
        }
        field_span f = field_span_of(text, textlen, fields, numfields, fieldnum);
        if (f.len > MAX_FIELD_LENGTH - 1) field_length_exceeded();
        double value;
        switch (field_number_read(text + f.start, f.len, &value)) {
        case field_kind::number:
            if (out_of_range(value) == (bool)opt_invert) write_record(text, textlen);
            break;
        case field_kind::blank:
            if (opt_passignored)
                write_record(text, textlen);
            else if (opt_warnignored)
                warnf("Warning: record #%d has blank FIELD", n);
            break;
        case field_kind::other:
            fatalf(0, "ERROR: record #%d has non-numeric data in FIELD: '%.*s'", n, (int)f.len,
                   text + f.start);
        }
    }
    *recnum = n - 1; // (the read that found the end counted one)
    return !error;
}

// Returns the exit status.
static int filter_csv_stream(FILE *fp, const char *name) {
    int recnum = 0;
    char error;
    if (!opt_headerproc) {
        if (!header_pass(fp, name, &fieldnum, !opt_headeromit, &error)) return error ? 1 : 0;
        recnum = 1;
    }
    return run_record_loop(fp, name, &recnum, {filter_records}) ? 0 : 1;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'm':
            opt_lowerval = 1;
            opt_lowermin = bound_arg(optarg, "-mMIN_VALUE");
            break;
        case 'x':
            opt_upperval = 1;
            opt_uppermax = bound_arg(optarg, "-xMAX_VALUE");
            break;
        case 'p': opt_passignored = 1; break;
        case 'v': opt_invert = 1; break;
        case 'w': opt_warnignored = 1; break;
        }
    }

    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();
    fieldnum = field_operand(argv[optind]);

    FILE *fp = stdin;
    const char *name = STDIN_NAME;
    if (nops == 2 && !is_stdin_operand(argv[optind + 1])) {
        name = argv[optind + 1];
        fp = fopen(name, "r");
        if (!fp) fatalf(errno, "Error: failed opening CSVFILE '%s'", name);
        input_buffer_lend(fp);
    }
    cli_exit(filter_csv_stream(fp, name));
}
