// zelk-width-tally: the field count of each record, to find records that differ from the header.
#include <cstdio>

#include "cli.h"
#include "libcsv.h"
#include "parallel.h"

static char opt_countsonly;     // -c
static int opt_firstrec = 1;    // -f
static char opt_headercount;    // -h
static char opt_mismatchesonly; // -m
static char opt_limitrecs;      // -n
static int opt_numrecs;
static char opt_verbose; // -v

static void print_usage(FILE *out) {
    fputs("Program to check and print out fields counts for the records in a CSV file.\n\n"
          "By default shows counts for header (record 1) and all records, prefixed by record "
          "number.\n"
          "Use -m option to see only records whose fields counts do not match header.\n\n"
          "Usage: zelk-width-tally [OPTION...] [CSVFILE]\n\n"
          "Options:\n"
          "  -c       -- counts only, do not print record number prefixes\n"
          "  -fFIRST  -- first record to print fields count for (1-based index, header is 1, "
          "the default)\n"
          "  -h       -- print header (record #1) fields count even if header not in records "
          "range\n"
          "  -jNUM    -- work on NUM cores (default: all for a file of 16 MiB or more)\n"
          "  -m       -- mismatches only: print fields counts for records that differ from "
          "header\n"
          "  -nNUMBER -- number of records to process (default is all from FIRST)\n"
          "  -v       -- verbose: mark records where fields count differs from header\n",
          out);
}

#define C_MSG "Error: -c option not compatible with -m and -v options!"
#define H_MSG "Error: -h option not compatible with -m and -v options!"
#define M_MSG "Error: -m option not compatible with -c, -h, -v options!"
#define V_MSG "Error: -v option not compatible with -c, -h, -m options!"

// Each option is refused with its own message when a conflicting one came before it.
static const cli_pair pairs[] = {
    {'m', 'c', C_MSG, true}, {'v', 'c', C_MSG, true}, {'m', 'h', H_MSG, true},
    {'v', 'h', H_MSG, true}, {'c', 'm', M_MSG, true}, {'h', 'm', M_MSG, true},
    {'v', 'm', M_MSG, true}, {'c', 'v', V_MSG, true}, {'h', 'v', V_MSG, true},
    {'m', 'v', V_MSG, true}, {0, 0}};
static const cli_program program = {"zelk-width-tally", "cf:hj:mn:v", "j", pairs, print_usage};

// The header itself (record 1) has header_count fields: it is never marked.
static void print_count(int recnum, int count, int header_count) {
    if (!opt_countsonly) {
        out_int(recnum);
        out_char(':');
    }
    out_int(count);
    if (opt_verbose && count != header_count) out_char('*');
    out_char('\n');
    errcheck_stdout_exit();
}

static int header_count;
static int processed; // records printed or passed over for -n

static bool tally_records(FILE *fp, const char *name, int *recnum, void *) {
    const int header = header_count; // held in a register across the reads
    char err;
    int r = *recnum;
    for (;;) {
        int count;
        if (!csv_record_read(fp, name, ++r, opt_verbose, &count, &err)) break;
        if (r < opt_firstrec) continue;
        if (!opt_mismatchesonly || count != header) print_count(r, count, header);
        if (opt_limitrecs && ++processed >= opt_numrecs) {
            *recnum = r;
            return true;
        }
    }
    *recnum = r - 1; // (the read that found the end counted one)
    return !err;
}

static int tally_csv_stream(FILE *fp, const char *name) {
    char err;
    if (!csv_record_read(fp, name, 1, opt_verbose, &header_count, &err)) {
        if (!err) errorf(0, "Warning: CSVFILE is empty");
        return 1;
    }
    if (!opt_mismatchesonly && (opt_firstrec == 1 || opt_headercount)) {
        print_count(1, header_count, header_count);
        if (opt_firstrec == 1) processed = 1;
    }
    if (opt_limitrecs && processed >= opt_numrecs) return 0;
    // A limit counts records in input order: one process.
    if (opt_limitrecs) opt_jobs = 1;
    int recnum = 1;
    return run_record_loop(fp, name, &recnum, {tally_records}) ? 0 : 1;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'c': opt_countsonly = 1; break;
        case 'f': opt_firstrec = intstrconv(optarg, "-fFIRST"); break;
        case 'h': opt_headercount = 1; break;
        case 'm': opt_mismatchesonly = 1; break;
        case 'n':
            opt_limitrecs = 1;
            opt_numrecs = intstrconv(optarg, "-nNUMBER");
            break;
        case 'v': opt_verbose = 1; break;
        }
    }
    if (argc - optind > 1) cli_usage_exit();
    const char *name;
    FILE *fp = open_input_or_exit(optind < argc ? argv[optind] : nullptr, &name);
    cli_exit(tally_csv_stream(fp, name));
}
