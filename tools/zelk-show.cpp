// zelk-show: print records of CSV files one field per line, numbered and optionally labelled
// with the header's field names, for reading.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "inputs.h"
#include "libcsv.h"
#include "record_range.h"

static char opt_printheader;  // -h
static int opt_numtoprint = 1; // -nNUM
static char opt_printlast;    // FIRST_RECORD "L"
static int opt_firstrecord;

// Header names of the current file (-h): a copy of its split header record, with each
// name's start and length, so that a NUL byte in a name is printed, not cut off.
static char header_text[MAX_RECORD_LENGTH];
static const char *header_names[MAX_FIELDS];
static int header_lens[MAX_FIELDS];
static int header_count;
static int header_maxlen;

// The last record of a file ("L"), copied so that it can be split in place.
static char last_record[MAX_RECORD_LENGTH];

static const char EXTRA_LABEL[] = "[EXTRA]";
static const int EXTRA_LABEL_LEN = sizeof EXTRA_LABEL - 1;

static void print_usage(FILE *out) {
    fputs("Program to print out a range of records in one or more CSV files, each field on a "
          "separate line so readable.\n\n"
          "Usage: zelk-show [OPTION...] FIRST_RECORD [CSVFILE...]\n\n"
          "FIRST_RECORD is 1-based index of first record to print, header being record 1.\n"
          "FIRST_RECORD may be \"L\" to print the last record in each file.\n\n"
          "Options:\n"
          "  -h    -- include header field names when printing fields (when FIRST_RECORD>1)\n"
          "  -nNUM -- number of records to print (1 by default)\n",
          out);
}

static const cli_program program = {"zelk-show", "hn:", "", nullptr, print_usage};

static int decimal_digits(int n) {
    int d = 1;
    while (n >= 10) {
        n /= 10;
        d++;
    }
    return d;
}

// "%*s" with an empty string: |width| blanks, whichever side a negative width pads.
static void print_pad(int width) { printf("%*s", width, ""); }

// One record, one line per field: "N: 'text'", or with header labels "N: name:<pad> 'text'",
// then the header names the record lacks marked [MISSING]. fields are split in place and
// end_of_text is the record's terminating NUL, so field lengths count NUL bytes inside fields.
static void print_record(bool title, int recnum, int numfields, char **fields,
                         const char *end_of_text) {
    if (title) printf("Record #%d:\n", recnum);
    int w = decimal_digits(numfields);
    if (!opt_printheader || recnum <= 1) {
        for (int i = 1; i <= numfields; i++) {
            printf("%*d: '", w, i);
            out_bytes(fields[i - 1], (size_t)csv_parsed_field_length(fields, numfields, i,
                                                                       end_of_text));
            out_str("'\n");
        }
        return;
    }
    // The labels' column is as wide as the longest label, "[EXTRA]" included when it occurs.
    int n = header_maxlen;
    if (numfields > header_count && n < EXTRA_LABEL_LEN) n = EXTRA_LABEL_LEN;
    for (int i = 1; i <= numfields; i++) {
        printf("%*d: ", w, i);
        int lablen;
        if (i <= header_count) {
            out_bytes(header_names[i - 1], (size_t)header_lens[i - 1]);
            lablen = header_lens[i - 1];
        } else {
            out_str(EXTRA_LABEL);
            lablen = EXTRA_LABEL_LEN;
        }
        out_char(':');
        print_pad(n - lablen);
        out_str(" '");
        out_bytes(fields[i - 1], (size_t)csv_parsed_field_length(fields, numfields, i,
                                                                   end_of_text));
        out_str("'\n");
    }
    for (int i = numfields + 1; i <= header_count; i++) {
        printf("%*d: ", w, i);
        out_bytes(header_names[i - 1], (size_t)header_lens[i - 1]);
        out_char(':');
        print_pad(header_maxlen - header_lens[i - 1]);
        out_str(" [MISSING]\n");
    }
}

// Reads record 1 and keeps its fields as the header names. False when there is none.
static bool read_header_names(FILE *fp, const char *name) {
    char **fields;
    char err;
    int count = csv_record_read_and_split(fp, name, 1, 1, &fields, &err);
    if (count < 0) {
        if (!err) warn_csvfile_empty(name);
        return false;
    }
    header_count = count;
    header_maxlen = 0;
    if (count == 0) return true;
    int len = csv_record_parse_length();
    memcpy(header_text, fields[0], (size_t)len + 1);
    for (int i = 1; i <= count; i++) {
        header_names[i - 1] = header_text + (fields[i - 1] - fields[0]);
        header_lens[i - 1] = csv_parsed_field_length(fields, count, i, fields[0] + len);
        // A label is the name as typed: no byte order mark before the first one.
        if (i == 1) header_names[0] = header_field_skip_bom(header_names[0], &header_lens[0]);
        if (header_lens[i - 1] > header_maxlen) header_maxlen = header_lens[i - 1];
    }
    return true;
}

// The last record of the input ("L"), count records having been read before.
static bool show_last_record(FILE *fp, const char *name, int count) {
    char err;
    int lastnum = 0, lastlen = 0;
    const char *last = read_last_record(fp, name, &count, &lastnum, &lastlen, &err);
    if (err) return false;
    if (!last) {
        if (opt_printheader) return true;
        warn_csvfile_empty(name);
        return false;
    }
    // The record is split as a C string, which would end at a NUL byte inside it.
    if (memchr(last, '\0', (size_t)lastlen)) {
        errorf(0, "ERROR: record #%d holds a NUL byte and cannot be split into fields", lastnum);
        errorf(0, "file:  '%s'", name);
        return false;
    }
    memcpy(last_record, last, (size_t)lastlen + 1);
    char **fields;
    int nf = csv_record_string_split(last_record, lastnum, 1, &fields, &err, 0);
    if (nf < 0) {
        // More fields than a record may be split into: reported like a read of that record.
        errorf(0, "file:  '%s'", name);
        return false;
    }
    if (nf == 0) {
        errorf(0, "Warning: last record is empty");
        return false;
    }
    print_record(true, lastnum, nf, fields, last_record + lastlen);
    errcheck_stdout_exit();
    return true;
}

// Shows the records asked for of one input; false on any failure, reported.
static bool show_csv_records(FILE *fp, const char *name, int index) {
    // Every file shown after the first gets a banner with its name.
    if (index > 1) printf("\n==> %s <==\n", name);
    char err;
    int count = 0; // records read so far
    if (opt_printheader) {
        if (!read_header_names(fp, name)) return false;
        count = 1;
    }
    if (opt_printlast) return show_last_record(fp, name, count);

    if (!skip_to_record(fp, name, opt_firstrecord, &count)) return false;

    for (int handled = 0; handled < opt_numtoprint; handled++) {
        char **fields;
        int nf = csv_record_read_and_split(fp, name, count + 1, 1, &fields, &err);
        if (nf < 0) {
            if (!err) range_ended_short(name, count, handled, opt_firstrecord, opt_numtoprint);
            return false;
        }
        count++;
        if (nf == 0)
            printf("Record #%d is blank\n", count);
        else
            print_record(opt_numtoprint > 1, count, nf, fields,
                         fields[0] + csv_record_parse_length());
        if (handled + 1 < opt_numtoprint) out_char('\n');
        errcheck_stdout_exit();
    }
    return true;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'h': opt_printheader = 1; break;
        case 'n': opt_numtoprint = intstrconv(optarg, "-nNUM"); break;
        }
    }
    if (optind >= argc) cli_usage_exit();
    opt_firstrecord =
        first_record_operand(argv[optind++], opt_numtoprint, opt_printheader, &opt_printlast);

    cli_exit(each_csvfile(argc - optind, argv + optind, show_csv_records) ? 0 : 1);
}
