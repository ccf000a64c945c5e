// zelk-order: sort the records of a CSV file on one field, as text, number or date-time,
// with /usr/bin/sort doing the comparing.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "cli.h"
#include "field_buffer.h"
#include "field_loop.h"
#include "libcsv.h"
#include "libsubproc.h"
#include "sort_frame.h"

static char opt_datesort;                          // -d, -D
static const char *opt_dateformat = "%m/%d/%Y %T"; // -D
static char opt_emptyfielderror;                   // -e
static char opt_headersort;                        // -h
static char opt_numericsort;                       // -n, -g: the key is a number
static char opt_reversesort;                       // -r
static char opt_unquotekey;                        // -u
static const char *opt_tzone = "UTC";              // -z

// sort's arguments: five fixed ones, then each appended option once, however often it is
// repeated.
static arg_vector sort_args;

static void print_usage(FILE *out) {
    fputs("Program to sort a CSV file, based on values in a single field.\n\n"
          "Usage: zelk-order [OPTIONS] SORT_FIELD [CSVFILE]\n\n"
          "SORT_FIELD is the 1-based field index to sort on, or header field name if -Q "
          "option.\n\n"
          "NOTE: a record with embedded LFs (\\n's) in quoted fields sorts as one record.\n\n"
          "Options:\n"
          "  -d -- SORT_FIELD is a date-time, use -D if need to supply date-time FORMAT string\n"
          "  -DFORMAT -- SORT_FIELD is a date-time, use FORMAT as the date-time format string\n"
          "  -e -- empty SORT_FIELD is an error (allowed by default)\n"
          "  -g -- general numeric sort: floating-point numbers with exponents (2e-05)\n"
          "  -h -- sort header record (passed through by default)\n"
          "  -i -- ignore case: compare the keys with a-z folded to A-Z\n"
          "  -n -- numeric sort\n"
          "  -o -- omit header record (not sorted, not passed through)\n"
          "  -Q -- query header to get index of FIELD name\n"
          "  -r -- reverse sort\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- unquote quoted SORT_FIELD values to obtain sort keys\n"
          "        (remove surrounding \"'s and unescape embedded \"'s);\n"
          "        date-time keys are always automatically unquoted\n"
          "  -zTIMEZONE -- timezone for use with date-time sorts, e.g. \"America/Chicago\"\n"
          "  -1 -- interpret blank record as having a single empty field\n\n",
          out);
    print_datetime_usage(
        out, "TIMEZONE required only if -d/-D option used and date-times require DST.\n");
}

static const cli_pair pairs[] = {
    {'h', 'o'},
    {'h', 'Q'},
    {'n', 'd', "Error: -d and -n options not compatible!", true},
    {'n', 'D', "-D and -n options not compatible!", true},
    {'d', 'n', "-n option not compatible with -d or -D options!", true},
    {'D', 'n', "-n option not compatible with -d or -D options!", true},
    {'i', 'n'},
    {'i', 'd'},
    {'i', 'D'},
    {'g', 'n'},
    {'g', 'd'},
    {'g', 'D'},
    {'g', 'i'},
    {0, 0}};
static const cli_program program = {"zelk-order", "dD:eghinoQrtuz:1", "oQt1", pairs, print_usage};

static void sort_argv_add_once(char *seen, const char *entry) {
    if (*seen) return;
    *seen = 1;
    arg_vector_add(&sort_args, entry);
}

// Streams the records after recnum (the last one read) into sort, one frame each.
static void create_sort_input(FILE *fp, const char *name, int recnum, int sortfield, FILE *pipe) {
    static char keybuf[MAX_FIELD_LENGTH];
    for (;;) {
        int numfields;
        size_t reclen, keylen;
        char error;
        const char *record = read_field_copy(fp, name, &recnum, sortfield, keybuf, &keylen,
                                             &numfields, &reclen, &error);
        if (!record) {
            if (error) fatal_exit();
            return;
        }
        int present = field_count(numfields);
        if (present < sortfield) {
            if (opt_datesort)
                fatalf(0, "ERROR: record #%d: no SORT_FIELD (%d fields)", recnum, present);
            fatalf(0, "ERROR: record #%d: no SORT_FIELD (only %d fields)", recnum, present);
        }
        const char *key = keybuf;
        sortframe_check_record(recnum, record, reclen);
        if (opt_datesort || opt_unquotekey) {
            csv_field_unquote_inplace(keybuf, 0);
            keylen = strlen(keybuf);
        } else if (opt_numericsort) {
            number_unquote(&key, &keylen);
        }
        if (opt_emptyfielderror && keylen == 0)
            fatalf(0, "ERROR: record #%d: SORT_FIELD is empty", recnum);
        if (opt_datesort && keylen != 0) {
            key = datetime_to_utimestr(key, opt_dateformat, recnum, "SORT_FIELD");
            keylen = strlen(key);
        }
        sortframe_check_key(recnum, key, keylen, false);
        sortframe_put_key(pipe, key, keylen);
        sortframe_put_record(pipe, record, reclen, opt_terminatecr);
        sortframe_check_pipe(pipe);
    }
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    arg_vector_init(&sort_args, 10, "ERROR: failed allocating dynamic memory",
                    "ERROR: max size of sort argv exceeded");
    static const char *const fixed[] = {"sort", "--field-separator=\x02", "--zero-terminated",
                                        "--stable", "--key=1,1", SORT_BUFFER_SIZE};
    for (const char *a : fixed) arg_vector_add(&sort_args, a);
    char numeric_added = 0, reverse_added = 0, ignorecase_added = 0;
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'D': opt_dateformat = optarg; [[fallthrough]];
        case 'd':
            opt_datesort = 1;
            sort_argv_add_once(&numeric_added, "--numeric-sort");
            break;
        case 'e': opt_emptyfielderror = 1; break;
        case 'g':
            opt_numericsort = 1;
            sort_argv_add_once(&numeric_added, "--general-numeric-sort");
            break;
        case 'h': opt_headersort = 1; break;
        case 'i': sort_argv_add_once(&ignorecase_added, "--ignore-case"); break;
        case 'n':
            opt_numericsort = 1;
            sort_argv_add_once(&numeric_added, "--numeric-sort");
            break;
        case 'r':
            opt_reversesort = 1;
            sort_argv_add_once(&reverse_added, "--reverse");
            break;
        case 'u': opt_unquotekey = 1; break;
        case 'z': opt_tzone = optarg; break;
        }
    }
    if (opt_datesort) setenv("TZ", opt_tzone, 1);

    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();
    int sortfield = field_operand(argv[optind], "SORT_FIELD");
    const char *name;
    FILE *fp = open_input_or_exit(nops == 2 ? argv[optind + 1] : nullptr, &name);

    int to_sort[2], from_sort[2];
    start_sort_child(sort_args.argv, to_sort, from_sort);

    int recnum = 0;
    if (!opt_headersort) {
        const char *header = header_pass_required(fp, name, &sortfield, false);
        if (!header) fatal_exit();
        if (!opt_headeromit) sort_write_header(header, (size_t)csv_record_parse_length());
        recnum = 1;
    }

    FILE *pipe = open_sort_pipe(to_sort[1]);
    create_sort_input(fp, name, recnum, sortfield, pipe);
    if (!close_sort_pipe(pipe)) {
        fatalf(errno, "ERROR: failed reformatting sort output");
    }
    if (!reformat_sort_output(from_sort[0])) fatal_exit();
    cli_exit(collect_children() ? 0 : 1);
}
