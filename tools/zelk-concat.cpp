// zelk-concat: copy the records of CSV files to standard output, with one header.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "inputs.h"
#include "libcsv.h"

static char opt_headersall;  // -h
static char opt_headersomit; // -o

// Set once some input has yielded its first kept record: later inputs' first records are
// their headers, not the output's.
static bool header_written_by_earlier_input;

// The header that leads the output, as read, and the input it came from: a later input whose
// header differs has its columns written under the wrong names.
static char first_header[MAX_RECORD_LENGTH];
static size_t first_header_len;
static int first_header_fields;
static const char *first_header_input;

static void print_usage(FILE *out) {
    fputs("Program to 'cat' (print to stdout) the records in one or more CSV files, including "
          "header from first only.\n\n"
          "Usage: zelk-concat [OPTION...] [CSVFILE...]\n\n"
          "Options:\n"
          "  -b -- blank records passed through (removed by default)\n"
          "  -h -- header records should all be printed (not just from first CSVFILE)\n"
          "  -o -- omit headers (don't print any header records)\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -z -- zero (null char) terminate output records (for use with sort, uniq, etc.)\n",
          out);
}

static const cli_pair pairs[] = {{'h', 'o'}, {0, 0}};
static const cli_program program = {"zelk-concat", "bhotz", "btz", pairs, print_usage};

// The value of the field at *p in a record text that the reader has accepted (quotes removed,
// doubled quotes made single) copied to out; *p moves past the field and its comma.
static int next_value(const char **p, const char *end, char *out) {
    const char *s = *p;
    int n = 0;
    if (s < end && *s == '"') {
        for (s++; !(*s == '"' && (s + 1 == end || s[1] != '"')); s++) {
            out[n++] = *s;
            if (*s == '"') s++;
        }
        s++;
    } else {
        while (s < end && *s != ',')
            out[n++] = *s++;
    }
    *p = s + 1;
    return n;
}

// A header text without a byte order mark that stands before a quoted first field, so that
// the field is read as the quoted field it is.
static const char *bom_before_quote_skipped(const char *text, size_t n) {
    return csv_bom_before_quote(text, n) ? text + CSV_UTF8_BOM_LEN : text;
}

// Keeps the first header; warns when a later one differs from it, naming the first field whose
// value differs (a leading UTF-8 byte order mark, which spreadsheet exports add, aside).
static void check_header(const char *text, size_t n, int numfields, const char *name) {
    if (!first_header_input) {
        memcpy(first_header, text, n);
        first_header_len = n;
        first_header_fields = numfields;
        first_header_input = name;
        return;
    }
    static char value1[MAX_RECORD_LENGTH], value2[MAX_RECORD_LENGTH];
    const char *p1 = bom_before_quote_skipped(first_header, first_header_len);
    const char *p2 = bom_before_quote_skipped(text, n);
    int field = 1;
    for (; field <= numfields && field <= first_header_fields; field++) {
        int len1 = next_value(&p1, first_header + first_header_len, value1);
        int len2 = next_value(&p2, text + n, value2);
        const char *v1 = value1, *v2 = value2;
        if (field == 1) {
            v1 = header_field_skip_bom(v1, &len1);
            v2 = header_field_skip_bom(v2, &len2);
        }
        if (len1 != len2 || memcmp(v1, v2, (size_t)len1) != 0) break;
    }
    if (field <= numfields || field <= first_header_fields)
        errorf(0, "Warning: header of CSVFILE '%s' differs from that of CSVFILE '%s' at field #%d",
               name, first_header_input, field);
}

// Copies one input; false when it ended with a CSV or read error. The header written is that
// of the first input that yields a record, so an empty first file does not hide the next
// file's header.
static bool cat_csv_stream(FILE *fp, const char *name, int) {
    int numfields;
    char error;
    int kept = 0;
    for (int recnum = 1;; recnum++) {
        const char *text = csv_record_read(fp, name, recnum, 1, &numfields, &error);
        if (!text) return error == 0;
        if (numfields == 0 && !opt_blankrecspass) continue;
        if (++kept == 1) {
            bool first_input = !header_written_by_earlier_input;
            header_written_by_earlier_input = true;
            size_t len = (size_t)csv_record_read_length();
            check_header(text, len, numfields, name);
            if (!opt_headersomit && first_input) {
                out_record(text, len);
            } else if (!opt_headersomit && opt_headersall) {
                // Not the start of the output: a mark before a quoted first field goes inside
                // the quotes, as in every record built after others.
                out_rec_begin(1);
                out_rec_bytes_not_first(text, len);
                out_rec_add_fields(numfields - 1); // a blank header (-b) stays a blank line
                out_rec_end();
            }
        } else {
            out_record(text, (size_t)csv_record_read_length());
        }
        errcheck_stdout_exit();
    }
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'h': opt_headersall = 1; break;
        case 'o': opt_headersomit = 1; break;
        }
    }

    bool ok = each_csvfile(argc - optind, argv + optind, cat_csv_stream);
    cli_exit(ok ? 0 : 1);
}
