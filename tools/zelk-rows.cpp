// zelk-rows: copy a range of records, or the last record, of each CSV file unchanged.
#include <cstdio>

#include "cli.h"
#include "inputs.h"
#include "libcsv.h"
#include "record_range.h"

static char opt_printheader;     // -h
static char opt_printall = 1;    // cleared by -n
static int opt_numtoprint;       // -nNUM
static char opt_verbose;         // -v
static char opt_printlast;       // FIRST_RECORD "L"
static char opt_printfilenames;  // more than one CSVFILE
static int opt_firstrecord;

static void print_usage(FILE *out) {
    fputs("Program to print out a range of records in a list of CSV files.\n\n"
          "Usage: zelk-rows [OPTION...] FIRST_RECORD [CSVFILE...]\n\n"
          "FIRST_RECORD is 1-based index of first record to print, header being record 1.\n"
          "FIRST_RECORD may be \"L\" to print the last record in the file.\n\n"
          "Options:\n"
          "  -b -- blank records passed through (removed by default)\n"
          "  -h -- print header even if FIRST_RECORD is not 1 (i.e., add header to output)\n"
          "  -nNUM -- number of records to print (rest of file by default)\n"
          "           (does not count header if -h option)\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -v -- verbose: prefix records with record numbers, and filenames if multiple CSVFILEs\n"
          "  -z -- zero (null char) terminate output records (for use with sort, uniq, etc.)\n",
          out);
}

static const cli_program program = {"zelk-rows", "bhn:tvz", "btz", nullptr, print_usage};

static void print_record(const char *name, int recnum, const char *text, int len) {
    if (opt_verbose) {
        if (opt_printfilenames)
            printf("%s:%d:", name, recnum);
        else
            printf("%d:", recnum);
    }
    out_record(text, (size_t)len);
    errcheck_stdout_exit();
}

// The last record of the input, after the header already written (count records read).
static bool print_last_record(FILE *fp, const char *name, int count) {
    char err;
    int recnum = 0, len = 0;
    const char *last = read_last_record(fp, name, &count, &recnum, &len, &err);
    if (err) return false;
    if (!last) {
        if (opt_printheader) return true; // the header was the whole file
        warn_csvfile_empty(name);
        return false;
    }
    print_record(name, recnum, last, len);
    return true;
}

// Copies the range (or the last record) of one input; false on any failure, reported.
static bool print_csv_range(FILE *fp, const char *name, int) {
    int numfields;
    char err;
    int count = 0; // records read so far
    if (opt_printheader) {
        const char *text = csv_record_read(fp, name, 1, 1, &numfields, &err);
        if (!text) {
            if (!err) warn_csvfile_empty(name);
            return false;
        }
        print_record(name, 1, text, csv_record_read_length());
        count = 1;
    }
    if (opt_printlast) return print_last_record(fp, name, count);

    if (!skip_to_record(fp, name, opt_firstrecord, &count)) return false;

    int printed = 0;
    int nread = 0; // records of the range read, blank ones included
    for (;;) {
        if (!opt_printall && printed == opt_numtoprint) return true;
        const char *text = csv_record_read(fp, name, count + 1, 1, &numfields, &err);
        if (!text) break;
        count++;
        nread++;
        if (numfields == 0 && !opt_blankrecspass) continue;
        print_record(name, count, text, csv_record_read_length());
        printed++;
    }
    if (err) return false;
    // Without -n the range runs to the end of the file, as asked, once it has begun. (A range
    // whose records were all blank and dropped has begun.)
    if (opt_printall && nread > 0) return true;
    range_ended_short(name, count, nread, opt_firstrecord, opt_numtoprint);
    return false;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'h': opt_printheader = 1; break;
        case 'n':
            opt_numtoprint = intstrconv(optarg, "-nNUM");
            opt_printall = 0;
            break;
        case 'v': opt_verbose = 1; break;
        }
    }
    if (optind >= argc) cli_usage_exit();
    opt_firstrecord = first_record_operand(argv[optind++], opt_printall ? 1 : opt_numtoprint,
                                           opt_printheader, &opt_printlast);
    opt_printfilenames = argc - optind > 1;
    cli_exit(each_csvfile(argc - optind, argv + optind, print_csv_range) ? 0 : 1);
}
