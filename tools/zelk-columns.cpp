// zelk-columns: print chosen fields of every record, in list order, or all fields except the
// listed ones. Fields are copied exactly as they stand, quotes included.
#include <climits>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "field_list.h"
#include "field_loop.h"
#include "libcsv.h"
#include "parallel.h"

static char opt_allowextra;        // -a
static char opt_fielderrorp;       // -e
static char opt_limitunbounded;    // -l
static char opt_queryfieldnames;   // -Q
static char opt_reversecut;        // -r
static char opt_warn;              // -w
static const char *opt_fieldseparator = ","; // -s

static field_list fields_list;
static int numheaderfields; // H: the header's field count, fixed for the run
static int list_max_index;  // the largest index of the list

// Under -r: which fields to leave out. Records have at most MAX_FIELDS fields, so listed
// indices beyond that can never be met; everything from omit_from on is left out too (an
// open-ended range).
static bool omit_field[MAX_FIELDS];
static int omit_from = INT_MAX;

// The record being written: its split fields and the end of its text.
static char **rec_fields;
static int rec_numfields;
static const char *rec_end;

static void print_usage(FILE *out) {
    fputs("Program to 'cut' (print out) only specified fields from the records in a CSV file.\n\n"
          "Usage: zelk-columns [OPTION...] FIELDS_LIST [CSVFILE]\n\n"
          "FIELDS_LIST must be a comma-separated list of 1-based field specs:\n"
          "numbers (e.g., 3), ranges (e.g., 3-6), unbounded range (e.g., 3-) as final entry,\n"
          "or header field names if -Q option.\n\n"
          "Options:\n"
          "  -a -- allow FIELDS_LIST specs to refer to fields beyond those in the header (may "
          "create empty fields)\n"
          "  -b -- blank records passed through (removed by default, see also -1)\n"
          "  -e -- error terminate if FIELDS_LIST entries missing from record (replaced with "
          "empty fields by default)\n"
          "  -jNUM -- work on NUM cores (default: all for a file of 16 MiB or more)\n"
          "  -l -- limit fields for unbounded FIELDS_LIST spec (e.g., 5-) to number of header "
          "fields\n"
          "  -o -- omit header field(s) from output\n"
          "  -Q -- query header to get indices of FIELDS_LIST field names\n"
          "  -r -- reverse meaning of FIELDS_LIST: print out all fields EXCEPT those specified\n"
          "  -sSEPARATOR -- output field separator (comma by default)\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -w -- warn about missing fields and fields not in header (with -a option)\n"
          "  -z -- zero (null char) terminate output records (for use with sort, uniq, etc.)\n"
          "  -1 -- interpret blank record as having a single empty field (see also -b)\n",
          out);
}

// -l tests -a before -r.
static const cli_pair pairs[] = {{'a', 'l'}, {'l', 'r'}, {0, 0}};
static const cli_program program = {"zelk-columns", "abej:loQrs:twz1", "b1jotz", pairs,
                                    print_usage};

// Field i + 1, written first in its output record when leads is set.
static void write_field(int i, bool leads) {
    int len = csv_parsed_field_length(rec_fields, rec_numfields, i + 1, rec_end);
    if (leads)
        out_rec_bytes(rec_fields[i], (size_t)len);
    else
        out_rec_bytes_not_first(rec_fields[i], (size_t)len);
}

static size_t fieldseparator_len = 1;

static void write_separator(void) { out_rec_separator(opt_fieldseparator, fieldseparator_len); }

// Fields first to limit - 1 of the record (first > 0), each after a separator. With the comma
// as separator they stand in the record text as they are written, separators included, and go
// out in one piece. (None of them can begin with the byte order mark that a field after others
// may not carry as it stands: the readers take one only at the start of the input.)
static void write_field_run(int first, int limit) {
    if (first >= limit) return;
    if (fieldseparator_len != 1 || opt_fieldseparator[0] != ',') {
        for (int m = first; m < limit; m++) {
            write_separator();
            write_field(m, false);
        }
        return;
    }
    int last = csv_parsed_field_length(rec_fields, rec_numfields, limit, rec_end);
    out_rec_add_fields(limit - first);
    out_rec_bytes(rec_fields[first] - 1,
                  (size_t)(rec_fields[limit - 1] + last - rec_fields[first] + 1));
}

// The listed fields in list order; missing ones become empty fields (or are fatal with -e).
// An open-ended range then runs to the end of the record (to the header's width with -l), and
// every record is filled with empty fields to at least the header's width.
static void print_listed_fields(int recnum) {
    int f = rec_numfields;
    // With -e the record is checked before any of it is written, so that the output never
    // ends in part of a record.
    if (opt_fielderrorp && list_max_index >= f)
        for (int k = 0; k < fields_list.count; k++)
            if (fields_list.index[k] >= f)
                fatalf(0, "ERROR: record #%d: field #%d does not exist (%d fields in record)",
                       recnum, fields_list.index[k] + 1, f);
    for (int k = 0; k < fields_list.count; k++) {
        int i = fields_list.index[k];
        if (k > 0) write_separator();
        if (i < f) {
            write_field(i, k == 0);
            continue;
        }
        if (opt_warn)
            errorf(0,
                   "Warning: record #%d: field #%d does not exist (%d fields in record), printing "
                   "blank field",
                   recnum, i + 1, f);
    }
    if (fields_list.openended) {
        int next = fields_list.index[fields_list.count - 1] + 1;
        int limit = (opt_limitunbounded && f > numheaderfields) ? numheaderfields : f;
        write_field_run(next, limit);
        for (int p = next > limit ? next : limit; p < numheaderfields; p++) write_separator();
    }
}

// Every field of the record except the listed ones, in record order.
static void print_other_fields(int recnum) {
    bool first = true;
    for (int j = 0; j < rec_numfields && j < omit_from; j++) {
        if (omit_field[j]) continue;
        if (first)
            out_rec_begin(recnum);
        else
            write_separator();
        write_field(j, first);
        first = false;
    }
    // Every field left out: a record of none, which is a blank line.
    if (first)
        out_terminator();
    else
        out_rec_end();
}

static void print_record(int recnum) {
    if (opt_reversecut) {
        print_other_fields(recnum);
    } else {
        out_rec_begin(recnum);
        print_listed_fields(recnum);
        out_rec_end();
    }
    errcheck_stdout_exit();
}

static void set_omitted_fields(void) {
    for (int k = 0; k < fields_list.count; k++) {
        int i = fields_list.index[k];
        if (i < MAX_FIELDS) omit_field[i] = true;
    }
    if (fields_list.openended) omit_from = fields_list.index[fields_list.count - 1];
}

// The records after the header, to the end of the input or of the part given (parallel.h).
static bool cut_records(FILE *fp, const char *name, int *recnum, void *) {
    // A blank record read as one empty field.
    static char empty_text[1] = "";
    static char *empty_fields[1] = {empty_text};

    int n = *recnum;
    char error;
    for (;;) {
        size_t textlen;
        const char *text =
            read_field_record(fp, name, &n, &rec_numfields, &rec_fields, &textlen, &error);
        if (!text) break;
        if (rec_numfields == 0) {
            rec_fields = empty_fields;
            rec_numfields = 1;
            rec_end = empty_text;
        } else {
            rec_end = text + textlen;
        }
        print_record(n);
    }
    *recnum = n - 1; // (the read that found the end counted one)
    return !error;
}

static int cut_csv_stream(FILE *fp, const char *name, char *liststr) {
    const char *header = header_fields_required(fp, name, &numheaderfields, &rec_fields);
    if (!header) return 1;
    rec_numfields = numheaderfields;
    rec_end = header + csv_record_parse_length();

    field_list_rules rules = {opt_queryfieldnames != 0, opt_allowextra != 0, opt_warn != 0};
    field_list_parse(liststr, rules, numheaderfields, rec_fields, rec_end, &fields_list);
    if (opt_reversecut) set_omitted_fields();
    for (int k = 0; k < fields_list.count; k++)
        if (fields_list.index[k] > list_max_index) list_max_index = fields_list.index[k];

    if (!opt_headeromit) print_record(1);

    int recnum = 1;
    return run_record_loop(fp, name, &recnum, {cut_records}) ? 0 : 1;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'a': opt_allowextra = 1; break;
        case 'e': opt_fielderrorp = 1; break;
        case 'l': opt_limitunbounded = 1; break;
        case 'Q': opt_queryfieldnames = 1; break;
        case 'r': opt_reversecut = 1; break;
        case 's':
            opt_fieldseparator = optarg;
            fieldseparator_len = strlen(optarg);
            break;
        case 'w': opt_warn = 1; break;
        }
    }
    int operands = argc - optind;
    if (operands < 1 || operands > 2) cli_usage_exit();

    const char *name;
    FILE *fp = open_input_or_exit(operands == 2 ? argv[optind + 1] : nullptr, &name);
    cli_exit(cut_csv_stream(fp, name, argv[optind]));
}
