// zelk-timestamp: reformat the date-time values of one field, in UTC, optionally rounding the
// seconds to a whole minute.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cli.h"
#include "datetime.h"
#include "field_buffer.h"
#include "field_loop.h"
#include "libcsv.h"
#include "parallel.h"

static char opt_secsceiling;     // -c
static char opt_emptyfielderror; // -e
static char opt_secsround;       // -r

static char datetimenew[MAX_FIELD_LENGTH];
// FORMAT_NEW behind one marker byte: strftime returns 0 both for a result that does not fit and
// for an empty one, and the marker tells them apart.
static char *format_marked;

static void print_usage(FILE *out) {
    fputs("Program to reformat date-time values in one field of a CSV file.\n\n"
          "Usage: zelk-timestamp [OPTION...] FIELD FORMAT_OLD FORMAT_NEW [CSVFILE]\n\n"
          "FIELD is the 1-based index of the date-time field to reformat, or header field name "
          "if -Q option.\n"
          "FORMAT_OLD is the date-time format for existing values.\n"
          "FORMAT_NEW is the date-time format for replacement values.\n\n"
          "Options:\n"
          "  -b -- blank records passed through (removed by default)\n"
          "  -c -- take ceiling of seconds (altering minutes) to remove/zero-out seconds\n"
          "  -e -- empty FIELD values cause an error (allowed by default)\n"
          "  -h -- header record is to be processed (passed through by default)\n"
          "  -jNUM -- work on NUM cores (default: all for a file of 16 MiB or more)\n"
          "  -o -- omit header record (not processed, not passed through)\n"
          "  -Q -- query header to get index of FIELD name\n"
          "  -r -- round seconds (altering minutes) to remove/zero-out seconds\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n\n"
          "  -1 -- interpret blank record as having a single empty field (see also -b)\n\n"
          "Date-time FORMAT's must be consistent with strftime(3)/strptime(3):\n",
          out);
    fprintf(out, "e.g., \"%%D %%R\" or \"%%m/%%d/%%y %%H:%%M\" for \"1/5/21 1:23\" or "
                 "\"01/05/21 01:23\";\n");
    fprintf(out, "e.g., \"%%m/%%d/%%Y %%T\" or \"%%m/%%d/%%Y %%H:%%M:%%S\" for \"1/5/2021 "
                 "1:23:45\" or \"01/05/2021 01:23:45\";\n");
    fputs("Use \"man strftime\" or \"man strptime\" for further info.\n", out);
}

static const cli_pair pairs[] = {{'c', 'r'}, {0, 0}};
static const cli_program program = {"zelk-timestamp", "bcehj:oQrt1", "b1hjoQt", pairs, print_usage};

// Parses value with format into tm, starting from 1970-01-01 00:00:00 (a Thursday), so that
// members the format does not set keep that date. Text after the parsed part is ignored; a
// date-time that is not on the calendar fails.
static bool parse_datetime(const char *value, const char *format, struct tm *tm) {
    memset(tm, 0, sizeof *tm);
    tm->tm_mday = 1;
    tm->tm_year = 70;
    tm->tm_wday = 4;
    return datetime_parse(value, format, tm);
}

// Removes nonzero seconds: up to the next minute with -c, or with -r from 30 seconds on;
// otherwise down. The carry runs through hours, days, months and years.
static void round_seconds(struct tm *tm) {
    int s = tm->tm_sec;
    if (s == 0 || !(opt_secsceiling || opt_secsround)) return;
    time_t t = mktime(tm); // TZ is UTC
    if (opt_secsceiling || s >= 30)
        t += 60 - s;
    else
        t -= s;
    struct tm r;
    if (gmtime_r(&t, &r)) *tm = r;
}

// The new value in datetimenew; returns its length. A result that does not fit is fatal.
static size_t format_datetime(const struct tm *tm, const char *format_new, int recnum) {
    size_t n = strftime(datetimenew, sizeof datetimenew, format_new, tm);
    if (n == 0 && strftime(datetimenew, sizeof datetimenew, format_marked, tm) != 1)
        fatalf(0, "ERROR: reformatted date-time in record #%d exceeds %d bytes", recnum,
               MAX_FIELD_LENGTH - 1);
    datetimenew[n] = '\0';
    return n;
}

// Writes the record of f with s in place of the field, quoted when it was quoted or when it
// holds a separator, a double quote or a line break (so that it never splits the record).
static void write_field_value(const field_span &f, const char *s, size_t n, bool quote,
                              int recnum) {
    if (!quote && quotes_removable(s, (int)n, ',', false)) {
        write_field_replaced(f, s, n, 1, recnum);
        return;
    }
    // Room for every byte doubled: the new value is written whole, however many quotes it has.
    static char quoted[2 * MAX_FIELD_LENGTH + 2];
    field_buffer fb{quoted, 0, (int)sizeof quoted - 1};
    fb.put_quoted(s, (int)n);
    int len;
    fb.finish(&len);
    write_field_replaced(f, quoted, (size_t)len, 1, recnum);
}

// What the record loop reformats, set before it starts.
static struct {
    int fieldnum;
    const char *format_old, *format_new;
} job;

// The records after the header, to the end of the input or of the part given (parallel.h).
// A new value depends on nothing but the old one and the formats (in UTC), so parts can be
// done apart.
static bool reformat_records(FILE *fp, const char *name, int *recnum, void *) {
    const int fieldnum = job.fieldnum;
    const char *const format_old = job.format_old, *const format_new = job.format_new;
    int n = *recnum;
    int numfields;
    char **fields;
    char error;
    char value[MAX_FIELD_LENGTH];
    for (;;) {
        size_t textlen;
        const char *text = read_field_record(fp, name, &n, &numfields, &fields, &textlen, &error);
        if (!text) break;
        if (field_count(numfields) < fieldnum) {
            out_record(text, textlen);
            errcheck_stdout_exit();
            continue;
        }
        field_span f = field_span_of(text, textlen, fields, numfields, fieldnum);
        field_span_copy(f, value);
        bool quoted = f.len >= 1 && value[0] == '"' && value[f.len - 1] == '"';
        if (quoted) csv_field_unquote_inplace(value, 0);
        if (value[0] == '\0') {
            if (opt_emptyfielderror)
                fatalf(0, "ERROR: FIELD #%d is empty in record #%d", fieldnum, n);
            out_record(text, textlen);
            errcheck_stdout_exit();
            continue;
        }
        struct tm tm;
        if (!parse_datetime(value, format_old, &tm))
            fatalf(0, "ERROR: failed to reformat date-time '%s' in record #%d", value, n);
        round_seconds(&tm);
        size_t len = format_datetime(&tm, format_new, n);

        write_field_value(f, datetimenew, len, quoted, n);
        errcheck_stdout_exit();
    }
    *recnum = n - 1; // (the read that found the end counted one)
    return !error;
}

static bool reformat_csv_stream(FILE *fp, const char *name) {
    int recnum = 0; // the last record read
    if (!opt_headerproc) {
        if (!header_pass_required(fp, name, &job.fieldnum, !opt_headeromit)) return false;
        recnum = 1;
    }
    return run_record_loop(fp, name, &recnum, {reformat_records});
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'c': opt_secsceiling = 1; break;
        case 'e': opt_emptyfielderror = 1; break;
        case 'r': opt_secsround = 1; break;
        }
    }

    int nops = argc - optind;
    if (nops < 3 || nops > 4) cli_usage_exit();
    job.fieldnum = field_operand(argv[optind]);
    job.format_old = argv[optind + 1];
    job.format_new = argv[optind + 2];
    const char *path = nops == 4 ? argv[optind + 3] : nullptr;

    setenv("TZ", "UTC", 1);
    tzset();
    const char *name;
    FILE *fp = open_input_or_exit(path, &name);

    size_t fl = strlen(job.format_new);
    format_marked = (char *)malloc(fl + 2);
    if (!format_marked) fatalf(errno, "ERROR: failed allocating dynamic memory");
    format_marked[0] = 'x';
    memcpy(format_marked + 1, job.format_new, fl + 1);

    cli_exit(reformat_csv_stream(fp, name) ? 0 : 1);
}
