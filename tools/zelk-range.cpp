// zelk-range: keep the records whose value in one numeric field lies within a closed range.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex.h>

#include "cli.h"
#include "field_loop.h"
#include "field_match.h"
#include "libcsv.h"

static char opt_lowerval;    // -m
static double opt_lowermin;  // -m
static char opt_upperval;    // -x
static double opt_uppermax;  // -x
static char opt_passignored; // -p
static char opt_invert;      // -v
static char opt_warnignored; // -w

// A field that begins with digits (after an optional sign), or that ends with a point and
// digits, counts as a number; its value is that of its longest decimal prefix.
static regex_t number_re;
static regex_t blank_re;

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

// The length of the decimal number at the start of s: an optional sign, digits with at most
// one point (at least one digit), and an optional exponent. 0 when there is none.
static size_t decimal_prefix(const char *s) {
    size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    size_t digits = strspn(s + i, "0123456789");
    i += digits;
    if (s[i] == '.') {
        size_t frac = strspn(s + i + 1, "0123456789");
        digits += frac;
        i += 1 + frac;
    }
    if (digits == 0) return 0;
    if (s[i] == 'e' || s[i] == 'E') {
        size_t j = i + 1;
        if (s[j] == '-' || s[j] == '+') j++;
        size_t exp = strspn(s + j, "0123456789");
        if (exp > 0) i = j + exp;
    }
    return i;
}

// The value of the decimal prefix of a field (0 without one): hexadecimal, "inf" or "nan"
// are not read into it.
static double field_value(const char *field) {
    char buf[MAX_FIELD_LENGTH];
    size_t n = decimal_prefix(field);
    memcpy(buf, field, n);
    buf[n] = '\0';
    return n ? strtod(buf, nullptr) : 0.0;
}

// A bound: a whole decimal number, or "Invalid value for NAME: TEXT (reason)".
static double bound_arg(const char *arg, const char *name) {
    size_t n = decimal_prefix(arg);
    if (n == 0 || arg[n] != '\0')
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
        if (field_regex_exec(&number_re, field, len, 0, nullptr) == 0) {
            if (out_of_range(field_value(field)) == (bool)opt_invert) write_record(text);
        } else if (field_regex_exec(&blank_re, field, len, 0, nullptr) == 0) {
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
    int fieldnum = field_operand(argv[optind]);

    FILE *fp = stdin;
    const char *name = STDIN_NAME;
    if (nops == 2 && !is_stdin_operand(argv[optind + 1])) {
        name = argv[optind + 1];
        fp = fopen(name, "r");
        if (!fp) fatalf(errno, "Error: failed opening CSVFILE '%s'", name);
        setvbuf(fp, nullptr, _IOFBF, 1 << 16);
    }
    if (regcomp(&number_re, "^([-+]?[0-9]+(\\.[0-9]*)?)|(\\.[0-9]+)$", REG_EXTENDED | REG_NOSUB) !=
        0)
        fatalf(0, "ERROR: failed compiling number regex");
    if (regcomp(&blank_re, "^[ \t]*$", REG_EXTENDED | REG_NOSUB) != 0)
        fatalf(0, "ERROR: failed compiling blank regex");

    cli_exit(filter_csv_stream(fp, name, fieldnum));
}
