// zelk-row-tally: count the CSV records (not lines) of each input, checking their syntax.
#include <climits>
#include <cstdio>

#include "cli.h"
#include "inputs.h"
#include "libcsv.h"
#include "parallel.h"

static char opt_countheaders = 1; // cleared by -h
static char opt_verbose = 1;      // cleared by -v

static void print_usage(FILE *out) {
    fputs("Program to print out counts of the number of records in one or more CSV files.\n\n"
          "Usage: zelk-row-tally [OPTION...] [CSVFILE...]\n\n"
          "Options:\n"
          "  -h -- header records should NOT be counted (counted by default)\n"
          "  -jNUM -- work on NUM cores (default: one, as fast as reading the file)\n"
          "  -v -- not verbose: do NOT print filenames to prefix counts\n",
          out);
}

static const cli_program program = {"zelk-row-tally", "hj:v", "j", nullptr, print_usage};

// The records of an input; a part of it counts its own. Counted wide so that a file of more
// than INT_MAX (blank) records still gets its true count; record numbers in messages stop at
// INT_MAX.
struct row_tally {
    long long records;
};
static row_tally tally;

static void add_tally(void *into, const void *part) {
    static_cast<row_tally *>(into)->records += static_cast<const row_tally *>(part)->records;
}

static bool count_records(FILE *fp, const char *name, int *recnum, void *counts) {
    char error;
    int first = *recnum < INT_MAX ? *recnum + 1 : INT_MAX;
    long long count = *recnum + csv_records_skip(fp, name, first, LONG_MAX, &error);
    static_cast<row_tally *>(counts)->records += count - *recnum;
    *recnum = count < INT_MAX ? (int)count : INT_MAX;
    return !error;
}

// Counts one input and prints its count; false (and no count) on a CSV or read error.
static bool count_csv_stream(FILE *fp, const char *name, int) {
    tally.records = 0;
    int recnum = 0;
    record_loop loop = {count_records, &tally, sizeof tally, add_tally};
    loop.by_default = false; // counting costs no more than reading: a single process is faster
    if (!run_record_loop(fp, name, &recnum, loop))
        return false;
    long long count = tally.records;
    // An empty file has no header to leave out: its count stays 0.
    if (!opt_countheaders && count > 0) count--;
    if (opt_verbose)
        printf("%7lld:%s\n", count, name);
    else
        printf("%lld\n", count);
    errcheck_stdout_exit();
    return true;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'h': opt_countheaders = 0; break;
        case 'v': opt_verbose = 0; break;
        }
    }

    cli_exit(each_csvfile(argc - optind, argv + optind, count_csv_stream) ? 0 : 1);
}
