// zelk-range: keep the records whose value in one numeric field lies within a closed range.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cli.h"
#include "field_loop.h"
#include "libcsv.h"

static char opt_lowerval;    // -m
static double opt_lowermin;  // -m
static char opt_upperval;    // -x
static double opt_uppermax;  // -x
static char opt_passignored; // -p
static char opt_invert;      // -v
static char opt_warnignored; // -w

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A field that begins with digits, or that ends with a point and digits, counts as a number;
// strtod takes its longest numeric prefix.
static bool is_number(const char *f, size_t len) {
    if (len > 0 && is_digit(f[0])) return true;
    size_t k = len;
    while (k > 0 && is_digit(f[k - 1])) k--;
    return k < len && k > 0 && f[k - 1] == '.';
}

// The value strtod gives a field that begins with a digit. Digits with an optional point and
// more digits, at most 19 of them in all, whose value fits a double exactly and with at most
// 22 digits after the point, are one correctly rounded division by an exact power of ten,
// which is strtod's own result; anything else (an exponent, a hexadecimal number, more
// digits) is left to strtod.
static double leading_number(const char *f, size_t len) {
    static const double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    unsigned long long m = 0;
    size_t i = 0, digits = 0, frac = 0;
    for (; i < len && is_digit(f[i]); i++, digits++) m = m * 10 + (unsigned)(f[i] - '0');
    if (i < len && f[i] == '.')
        for (i++; i < len && is_digit(f[i]); i++, digits++, frac++)
            m = m * 10 + (unsigned)(f[i] - '0');
    bool plain_end = i == len || (f[i] != 'e' && f[i] != 'E' && f[i] != 'x' && f[i] != 'X');
    if (!plain_end || digits > 19 || frac > 22 || m > (1ULL << 53)) return strtod(f, nullptr);
    return (double)m / pow10[frac];
}

// Empty, or spaces and tabs only.
static bool is_blank(const char *f, size_t len) {
    for (size_t i = 0; i < len; i++)
        if (f[i] != ' ' && f[i] != '\t') return false;
    return true;
}

static void print_usage(void) {
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
          "  -o -- omit header record (not passed through)\n"
          "  -p -- pass through records with FIELD blank or missing (removed by default)\n"
          "  -Q -- query header to get index of FIELD name\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -v -- invert filtering (i.e., output records that should be filtered)\n"
          "  -w -- warn about records being ignored (FIELD blank or missing)\n",
          stderr);
}

static const cli_pair pairs[] = {{'p', 'w'}, {0, 0}};
static const cli_program program = {"zelk-range", "m:x:bhopQtvw", "bhoQt", pairs, print_usage};

static bool out_of_range(double v) {
    return (opt_lowerval && v < opt_lowermin) || (opt_upperval && v > opt_uppermax);
}

static void write_record(const char *text) {
    out_record(text, (size_t)csv_record_parse_length());
    errcheck_stdout_exit();
}

// Returns the exit status.
static int filter_csv_stream(FILE *fp, const char *name, int fieldnum) {
    int recnum = 0;
    int numfields;
    char error;
    if (!opt_headerproc) {
        if (!header_pass(fp, name, &fieldnum, !opt_headeromit, &error)) return error ? 1 : 0;
        recnum = 1;
    }
    for (;;) {
        ++recnum;
        char *field;
        const char *text = csv_record_read_and_get_field(fp, name, recnum, 1, fieldnum, &field,
                                                         &numfields, &error);
        if (!text) break;
        if (numfields == 0) {
            blank_record_pass();
            continue;
        }
        if (!field) {
            if (opt_passignored)
                write_record(text);
            else if (opt_warnignored)
                fprintf(stderr, "Warning: record #%d is missing FIELD\n", recnum);
            continue;
        }
        size_t len = (size_t)csv_record_get_field_length();
        if (is_number(field, len)) {
            double v = is_digit(field[0]) ? leading_number(field, len) : strtod(field, nullptr);
            if (out_of_range(v) == (bool)opt_invert) write_record(text);
        } else if (is_blank(field, len)) {
            if (opt_passignored)
                write_record(text);
            else if (opt_warnignored)
                fprintf(stderr, "Warning: record #%d has blank FIELD\n", recnum);
        } else {
            fatalf(0, "ERROR: record #%d has non-numeric data in FIELD: '%s'", recnum, field);
        }
    }
    return error ? 1 : 0;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'm':
            opt_lowerval = 1;
            opt_lowermin = strtod(optarg, nullptr);
            break;
        case 'x':
            opt_upperval = 1;
            opt_uppermax = strtod(optarg, nullptr);
            break;
        case 'p': opt_passignored = 1; break;
        case 'v': opt_invert = 1; break;
        case 'w': opt_warnignored = 1; break;
        }
    }

    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();
    int fieldnum = field_operand(argv[optind]);

    FILE *fp = stdin;
    const char *name = STDIN_NAME;
    if (nops == 2) {
        name = argv[optind + 1];
        fp = fopen(name, "r");
        if (!fp) fatalf(errno, "Error: failed opening CSVFILE '%s'", name);
        setvbuf(fp, nullptr, _IOFBF, 1 << 16);
    }

    cli_exit(filter_csv_stream(fp, name, fieldnum));
}
