// zelk-concat: copy the records of CSV files to standard output, with one header.
#include <cstdio>

#include "cli.h"
#include "inputs.h"
#include "libcsv.h"

static char opt_headersall;  // -h
static char opt_headersomit; // -o

// Set once some input has yielded its first kept record: later inputs' first records are
// their headers, not the output's.
static bool header_written_by_earlier_input;

static void print_usage(void) {
    fputs("Program to 'cat' (print to stdout) the records in one or more CSV files, including "
          "header from first only.\n\n"
          "Usage: zelk-concat [OPTION...] [CSVFILE...]\n\n"
          "Options:\n"
          "  -b -- blank records passed through (removed by default)\n"
          "  -h -- header records should all be printed (not just from first CSVFILE)\n"
          "  -o -- omit headers (don't print any header records)\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -z -- zero (null char) terminate output records (for use with sort, uniq, etc.)\n",
          stderr);
}

static const cli_pair pairs[] = {{'h', 'o'}, {0, 0}};
static const cli_program program = {"zelk-concat", "bhotz", "btz", pairs, print_usage};

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
            if (!opt_headersomit && (first_input || opt_headersall))
                out_record(text, (size_t)csv_record_read_length());
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
