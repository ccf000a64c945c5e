// zelk-dedupe: reduce each run of consecutive records with the same key to one record, the
// last of the run by default or the first with -f.
#include <cstdio>

#include "cli.h"
#include "field_loop.h"
#include "field_match.h"
#include "libcsv.h"

static char opt_leavefirst;  // -f
static char opt_ignorecase;  // -i
static char opt_unquotekeys; // -u

static void print_usage(FILE *out) {
    fputs("Program to remove records with duplicate keys in a CSV file.\n\n"
          "Usage: zelk-dedupe [OPTION...] KEY_FIELD [CSVFILE]\n\n"
          "KEY_FIELD is the 1-based field index for record keys to remove duplicates of,\n"
          "or header field name if -Q option.\n\n"
          "Options:\n"
          "  -f -- first record of sequence should be left when there are key duplicates\n"
          "        (default is to leave last record of sequence with duplicate keys)\n"
          "  -h -- process header (passed through by default)\n"
          "  -i -- ignore case of ASCII letters when comparing keys\n"
          "  -Q -- query header to get indices of FIELDS_LIST field names\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- unquote quoted KEY_FIELDs before comparing\n"
          "        (remove surrounding \"'s and unescape embedded \"'s)\n\n"
          "Note: Duplicate key records must be sequential (grouped), so sorting\n"
          "on KEY_FIELD may be required before running this program (use stable sort).\n",
          out);
}

static const cli_program program = {"zelk-dedupe", "fhiQtu", "hQt", nullptr, print_usage};

enum ReadResult { READ_END, READ_FAILED, READ_RECORD };

// One data record as read: its text and its key field (as read, or its value with -u), with
// their lengths.
struct keyed_record {
    const char *text;
    int textlen;
    const char *key;
    int keylen;
};

// Reads data record recnum. READ_END at the end of input (*readerr tells whether the
// reader failed), READ_FAILED when the record has no field keyfield (reported here).
static ReadResult read_keyed_record(FILE *fp, const char *name, int recnum, int keyfield,
                                    keyed_record *rec, char *readerr) {
    char *key;
    int numfields;
    const char *text =
        csv_record_read_and_get_field(fp, name, recnum, 1, keyfield, &key, &numfields, readerr);
    if (!text) return READ_END;
    if (numfields < keyfield) {
        errorf(0, "ERROR: record #%d: KEY_FIELD #%d does not exist (%d fields)", recnum, keyfield,
               numfields);
        return READ_FAILED;
    }
    rec->text = text;
    rec->textlen = csv_record_parse_length();
    rec->key = key;
    rec->keylen = csv_record_get_field_length();
    if (opt_unquotekeys) rec->keylen = csv_field_value_inplace(key, rec->keylen);
    return READ_RECORD;
}

static bool same_key(const held_key *k, const keyed_record &rec) {
    return opt_ignorecase ? held_key_equals_nocase(k, rec.key, rec.keylen)
                          : held_key_equals(k, rec.key, rec.keylen);
}

static void no_records_warning(void) {
    errorf(0, "Warning: no records to process");
}

// Default mode: a record is held until a record with another key (or the end) shows that it
// was the last of its run.
static bool keep_last_of_runs(FILE *fp, const char *name, int recnum, int keyfield) {
    static held_record held;
    static held_key heldkey;
    keyed_record rec;
    char readerr;
    switch (read_keyed_record(fp, name, recnum, keyfield, &rec, &readerr)) {
    case READ_END:
        if (!readerr) no_records_warning();
        return false;
    case READ_FAILED: return false;
    case READ_RECORD: break;
    }
    held_key_set(&heldkey, rec.key, rec.keylen);
    held_record_set(&held, rec.text, rec.textlen);
    for (;;) {
        switch (read_keyed_record(fp, name, ++recnum, keyfield, &rec, &readerr)) {
        case READ_END:
            out_record(held.text, (size_t)held.len);
            errcheck_stdout_exit();
            return !readerr;
        case READ_FAILED: return false;
        case READ_RECORD: break;
        }
        if (!same_key(&heldkey, rec)) {
            out_record(held.text, (size_t)held.len);
            errcheck_stdout_exit();
            held_key_set(&heldkey, rec.key, rec.keylen);
        }
        held_record_set(&held, rec.text, rec.textlen);
    }
}

// -f: a record is written when its key differs from the previous record's. The first data
// record is always written, whatever its key (an empty key included).
static bool keep_first_of_runs(FILE *fp, const char *name, int recnum, int keyfield) {
    static held_key prevkey;
    bool have_prev = false;
    keyed_record rec;
    char readerr;
    for (;; recnum++) {
        switch (read_keyed_record(fp, name, recnum, keyfield, &rec, &readerr)) {
        case READ_END: return !readerr;
        case READ_FAILED: return false;
        case READ_RECORD: break;
        }
        if (have_prev && same_key(&prevkey, rec)) continue;
        out_record(rec.text, (size_t)rec.textlen);
        errcheck_stdout_exit();
        held_key_set(&prevkey, rec.key, rec.keylen);
        have_prev = true;
    }
}

static bool process_csv_stream(FILE *fp, const char *name, int keyfield) {
    int recnum = 1;
    if (!opt_headerproc) {
        char readerr;
        if (!header_pass(fp, name, &keyfield, true, &readerr)) {
            // An input without even a header is a failure; say why rather than end silently.
            if (!readerr) no_records_warning();
            return false;
        }
        recnum = 2;
    }
    return opt_leavefirst ? keep_first_of_runs(fp, name, recnum, keyfield)
                          : keep_last_of_runs(fp, name, recnum, keyfield);
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'f': opt_leavefirst = 1; break;
        case 'i': opt_ignorecase = 1; break;
        case 'u': opt_unquotekeys = 1; break;
        }
    }
    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();

    int keyfield = field_operand(argv[optind], "KEY_FIELD");

    const char *name;
    FILE *fp = open_input_or_exit(nops == 2 ? argv[optind + 1] : nullptr, &name);
    cli_exit(process_csv_stream(fp, name, keyfield) ? 0 : 1);
}
