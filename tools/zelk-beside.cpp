// zelk-beside: paste two CSV files together record by record: output record n is record n of
// CSVFILE1, a separator and record n of CSVFILE2, headers included.
#include <cstdio>

#include "cli.h"
#include "libcsv.h"
#include "inputs.h"

static char opt_exactfields2 = 1; // cleared by -a
static char opt_mismatch1more;    // -m
static char opt_mismatch2more;    // -M
static char opt_padrecords2;      // -p
static char opt_verbose;          // -v
static const char *opt_recseparator = ",";

// The record numbers of the last read attempted in each file (the header is record 1).
static int numrecords1;
static int numrecords2;
// CSVFILE2 records written with a field count other than its header's.
static int field2mismatches;

static void print_usage(FILE *out) {
    fputs("Program to paste/append corresponding records from a second CSV file onto the "
          "records from a first CSV file.\n\n"
          "Usage: zelk-beside [OPTION...] CSVFILE1 [CSVFILE2]\n\n"
          "Options:\n"
          "  -a -- allow CSVFILE2 records to have variable numbers of fields\n"
          "  -m -- mismatches of record counts allowed, CSVFILE1 > CSVFILE2 (must be equal by "
          "default)\n"
          "  -M -- mismatches of record counts allowed, CSVFILE1 < CSVFILE2 (must be equal by "
          "default)\n"
          "  -p -- pad CSVFILE2 records with empty fields when records contain less fields than "
          "header\n"
          "  -sSEPARATOR -- separator between CSVFILE1 and CSVFILE2 records (comma by default)\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -v -- verbose: print final report about paste operations\n"
          "  -1 -- interpret blank record as having a single empty field\n",
          out);
}

static const cli_program program = {"zelk-beside", "amMps:tv1", "t1", nullptr, print_usage};

static void write_commas(int n) {
    for (int i = 0; i < n; i++)
        out_rec_separator(",", 1);
}

// The field count a data record is judged by.
static int data_field_count(int numfields) {
    return numfields == 0 && opt_blankrecisfield ? 1 : numfields;
}

static bool paste_csv_streams(FILE *fp1, FILE *fp2, const char *name1, const char *name2) {
    int numfields;
    char err1, err2;
    size_t len;

    numrecords1 = 1;
    const char *text = read_numbered_header(fp1, name1, 1, &numfields, nullptr, &len);
    if (!text) return false;
    const int headerfields1 = numfields;
    out_rec_begin(1);
    joined_part(text, len, numfields);
    joined_separator(opt_recseparator);

    numrecords2 = 1;
    text = read_numbered_header(fp2, name2, 2, &numfields, nullptr, &len);
    if (!text) {
        end_partial_record();
        return false;
    }
    const int headerfields2 = numfields;
    int pasted2 = 1; // CSVFILE2 records read and pasted, the header included
    joined_part(text, len, numfields);
    out_rec_end();
    errcheck_stdout_exit();

    bool ran_out2 = false; // only with -m
    for (;;) {
        text = csv_record_read(fp1, name1, ++numrecords1, 1, &numfields, &err1);
        if (!text) break;
        int count1 = data_field_count(numfields);
        if (count1 != headerfields1) {
            error_numbered_field_count(1, "", numrecords1, count1, headerfields1);
            return false;
        }
        out_rec_begin(numrecords1);
        joined_part(text, (size_t)csv_record_read_length(), count1);
        joined_separator(opt_recseparator);

        if (!ran_out2) {
            text = csv_record_read(fp2, name2, ++numrecords2, 1, &numfields, &err2);
            if (!text) {
                if (err2 || !opt_mismatch1more) {
                    end_partial_record();
                    if (!err2)
                        errorf(0,
                               "ERROR: mismatch @record #%d: CSVFILE1 has more records than "
                               "CSVFILE2",
                               numrecords1);
                    return false;
                }
                ran_out2 = true;
                numrecords2--; // the attempt found nothing
            }
        }
        if (ran_out2) {
            if (opt_padrecords2) write_commas(headerfields2 - 1);
        } else {
            pasted2++;
            int count2 = data_field_count(numfields);
            if (count2 != headerfields2 && opt_exactfields2) {
                end_partial_record();
                error_numbered_field_count(2, "", numrecords2, count2, headerfields2);
                return false;
            }
            joined_part(text, (size_t)csv_record_read_length(), count2);
            if (count2 != headerfields2) {
                field2mismatches++;
                // A blank record is already one empty field in the output, so it is padded
                // like a one-field record: the result has the header's field count.
                int present = count2 > 0 ? count2 : 1;
                if (opt_padrecords2 && present < headerfields2)
                    write_commas(headerfields2 - present);
            }
        }
        out_rec_end();
        errcheck_stdout_exit();
    }
    if (err1) return false;

    if (!ran_out2 && !opt_mismatch2more) {
        if (csv_record_read_and_skip(fp2, name2, numrecords2 + 1, 1, &err2)) {
            errorf(0, "ERROR: mismatch @record #%d: CSVFILE1 has less records than CSVFILE2",
                   numrecords1);
            return false;
        }
        if (err2) return false;
    }

    if (opt_verbose) {
        // The report is for a complete paste: the output must have been written in full.
        fflush(stdout);
        errcheck_stdout_exit();
        fprintf(stderr, "Number of records in CSVFILE1:           %d\n", numrecords1 - 1);
        fprintf(stderr, "Number of pasted CSVFILE2 records:       %d\n", pasted2);
        fprintf(stderr, "CSVFILE2 records with fields mismatches: %d\n", field2mismatches);
    }
    return true;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'a': opt_exactfields2 = 0; break;
        case 'm': opt_mismatch1more = 1; break;
        case 'M': opt_mismatch2more = 1; break;
        case 'p': opt_padrecords2 = 1; break;
        case 's': opt_recseparator = optarg; break;
        case 'v': opt_verbose = 1; break;
        }
    }
    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();

    const char *name1, *name2;
    FILE *fp1 = open_numbered_csvfile(argv[optind], 1, &name1);
    FILE *fp2 = open_numbered_csvfile(nops == 2 ? argv[optind + 1] : nullptr, 2, &name2);
    cli_exit(paste_csv_streams(fp1, fp2, name1, name2) ? 0 : 1);
}
