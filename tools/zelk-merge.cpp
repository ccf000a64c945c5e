// zelk-merge: join a second CSV file to a first on one key field each. For every CSVFILE1
// record the CSVFILE2 record with the identical key is found and written after it, on the same
// output record. CSVFILE2 is searched by a circular scan that starts just after the previous
// match and may rewind the file (the default), or with -o by a single forward pass that works
// on a pipe. Either way at most one record of each file is held.
#include <cstdio>
#include <cstring>
#include <error.h>

#include "cli.h"
#include "field_match.h"
#include "libcsv.h"
#include "inputs.h"

static char opt_allowmissing;    // -a
static char opt_orderedkeys;     // -o
static char opt_queryfieldnames; // -Q
static char opt_unquotekeys;     // -u
static char opt_verbose;         // -v
static const char *opt_keynamestr1 = "";
static const char *opt_keynamestr2 = "";
static const char *opt_recseparator = ",";

static int stat_numrecords1; // number of the last CSVFILE1 record read (the header is 1)
static int stat_nummatches2; // CSVFILE2 records joined

static void print_usage(void) {
    fputs("Program to join/append records from a second CSV file with 'matching' records in a "
          "first CSV file.\n"
          "Records 'match' if their key field values are identical.\n"
          "Key values must be unique in each file--i.e., there must be a single record with "
          "each key value in both files.\n\n"
          "Usage: zelk-merge [OPTION...] KEY_FIELD1 CSVFILE1 KEY_FIELD2 [CSVFILE2]\n\n"
          "KEY_FIELD1 is the 1-based index of the key field in CSVFILE1, or header field name "
          "if -Q option.\n"
          "KEY_FIELD2 is the 1-based index of the key field in CSVFILE2, or header field name "
          "if -Q option.\n\n"
          "Options:\n"
          "  -a -- allow CSVFILE2 to lack matching records\n"
          "  -o -- identically ordered keys in files, so can be efficient finding match in "
          "CSVFILE2\n"
          "        when using -a option (Note: all CSVFILE2 keys must match a CSVFILE1 key!)\n"
          "  -Q -- query header to get index of FIELD name\n"
          "  -sSEPARATOR -- separator between CSVFILE records (comma by default)\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- unquote quoted KEY_FIELDs before comparing\n"
          "        (remove surrounding \"'s and unescape embedded \"'s)\n"
          "  -v -- verbose: print final report about join operations\n",
          stderr);
}

static const cli_program program = {"zelk-merge", "aoQs:tuv", "t", nullptr, print_usage};

// The key of the current CSVFILE1 record; every comparison is made against it.
static held_key keycopy;

// Stops the run at once after the CSVFILE1 part of an output record was written: the record
// is ended first so that the output stops with a complete line.
[[noreturn]] static void fail_after_partial_record(void) {
    end_partial_record();
    cli_exit(1);
}

// A CSVFILE2 record as read or as held. key is null when the record has no field KEY_FIELD2
// (a blank or short record): such a record matches no key.
struct record2 {
    const char *text;
    int textlen;
    const char *key;
    int keylen;
    int numfields;
    int recnum;
};

// The length of a key just read (into the library's field copy), after unquoting it in place
// with -u. A key whose quoting is invalid is compared as it stands.
static int prepare_key(char *key) {
    int len = csv_record_get_field_length();
    if (opt_unquotekeys && csv_field_unquote_inplace(key, 0) == 1) len = (int)strlen(key);
    return len;
}

// Reads CSVFILE2 record recnum into rec; false at the end of the file. A CSV or read error in
// CSVFILE2 ends the run: a join that went on without the records that follow it would lose
// matches silently.
static bool read_record2(FILE *fp, const char *name, int recnum, char verbose, int keyfield,
                         record2 *rec) {
    char *key;
    int numfields;
    char err;
    const char *text =
        csv_record_read_and_get_field(fp, name, recnum, verbose, keyfield, &key, &numfields, &err);
    if (!text) {
        if (err) fail_after_partial_record();
        return false;
    }
    rec->text = text;
    rec->textlen = csv_record_parse_length();
    rec->numfields = numfields;
    rec->recnum = recnum;
    rec->key = key;
    rec->keylen = key ? prepare_key(key) : 0;
    return true;
}

static bool matches_keycopy(const char *key, int keylen) {
    return key && held_key_equals(&keycopy, key, keylen);
}

// ---- Circular scan (default) ----------------------------------------------------------------

static int currentrec = 1; // the CSVFILE2 record read last; the file stands just after it
// Set once CSVFILE2 has been read to its end: every later read is a second reading of a record
// already checked, so its warnings (an unterminated last record) are not repeated.
static bool seen_end2;

// Reads CSVFILE2 forward for a record whose key is keycopy, up to and including record `last`
// (0: to the end of the file).
static bool scan_forward(FILE *fp, const char *name, int keyfield, int last, record2 *rec) {
    while (last == 0 || currentrec < last) {
        if (!read_record2(fp, name, currentrec + 1, seen_end2 ? 0 : 1, keyfield, rec)) {
            seen_end2 = true;
            return false;
        }
        currentrec++;
        if (matches_keycopy(rec->key, rec->keylen)) return true;
    }
    return false;
}

// Visits every CSVFILE2 record once, beginning just after the previous match: when both files
// list their keys in the same order, each match costs one read.
static bool circular_scan(FILE *fp, const char *name, int keyfield, record2 *rec) {
    const int start = currentrec;
    if (scan_forward(fp, name, keyfield, 0, rec)) return true;
    if (start == 1) return false;
    int numfields;
    char err;
    clearerr(fp);
    if (fseeko(fp, 0, SEEK_SET) != 0 || !csv_record_read(fp, name, 1, 0, &numfields, &err)) {
        out_str(opt_recterminator);
        error(0, 0, "ERROR: failed 'rewinding' CSVFILE2");
        cli_exit(1);
    }
    currentrec = 1;
    return scan_forward(fp, name, keyfield, start, rec);
}

// ---- Forward pass (-o) ----------------------------------------------------------------------

static int currentrec_o = 1;
static bool lastmatched = true; // the pending record was used; the next one must be read
static held_record record2copy; // the pending record, waiting for a later CSVFILE1 key
static held_key key2copy;
static int numfields2; // the pending record's field count
static bool used_up2;  // CSVFILE2 has ended: nothing matches any more

static bool forward_pass(FILE *fp, const char *name, int keyfield, record2 *rec) {
    if (lastmatched) {
        if (used_up2) return false;
        // A record without the key field can never match; waiting on it would block every
        // later match, so it is passed over.
        do {
            if (!read_record2(fp, name, currentrec_o + 1, 1, keyfield, rec)) {
                used_up2 = true;
                return false;
            }
            currentrec_o++;
        } while (!rec->key);
        if (matches_keycopy(rec->key, rec->keylen)) return true;
        held_record_set(&record2copy, rec->text, rec->textlen);
        held_key_set(&key2copy, rec->key, rec->keylen);
        numfields2 = rec->numfields;
        lastmatched = false;
        return false;
    }
    if (!held_key_equals(&keycopy, key2copy.text, key2copy.len)) return false;
    lastmatched = true;
    *rec = {record2copy.text, record2copy.len, key2copy.text,
            key2copy.len,     numfields2,      currentrec_o};
    return true;
}

// ---- The join -------------------------------------------------------------------------------

// Refuses a key field that the header (and so every record checked against it) lacks.
static bool key_field_exists(int n, int keyfield, int headerfields) {
    if (keyfield <= headerfields) return true;
    error(0, 0, "ERROR: CSVFILE%d header: KEY_FIELD%d #%d does not exist (%d fields)", n, n,
          keyfield, headerfields);
    return false;
}

static bool join_csv_streams(FILE *fp1, FILE *fp2, const char *name1, const char *name2,
                             int keyfield1, int keyfield2) {
    int numfields;
    char **fields;
    char err;

    size_t len;

    stat_numrecords1 = 1;
    const char *text = read_numbered_header(fp1, name1, 1, &numfields, &fields, &len);
    if (!text) return false;
    if (opt_queryfieldnames) keyfield1 = fieldname2fieldnum(opt_keynamestr1, numfields, fields);
    if (!key_field_exists(1, keyfield1, numfields)) return false;
    const int headerfields1 = numfields;
    out_bytes(text, len);

    text = read_numbered_header(fp2, name2, 2, &numfields, &fields, &len);
    if (!text) return false;
    if (opt_queryfieldnames) keyfield2 = fieldname2fieldnum(opt_keynamestr2, numfields, fields);
    if (!key_field_exists(2, keyfield2, numfields)) {
        end_partial_record();
        return false;
    }
    const int headerfields2 = numfields;
    out_str(opt_recseparator);
    out_bytes(text, len);
    out_str(opt_recterminator);
    errcheck_stdout_exit();

    // -a: the CSVFILE2 part of an unmatched record, as many empty fields as its header has.
    char fill[520];
    int ncommas = headerfields2 > 1 ? headerfields2 - 1 : 0;
    memset(fill, ',', (size_t)ncommas);
    fill[ncommas] = '\0';

    for (;;) {
        char *key;
        text = csv_record_read_and_get_field(fp1, name1, stat_numrecords1 + 1, 1, keyfield1, &key,
                                             &numfields, &err);
        if (!text) return !err;
        stat_numrecords1++;
        if (numfields != headerfields1) {
            error_numbered_field_count(1, "", stat_numrecords1, numfields, headerfields1);
            return false;
        }
        out_bytes(text, (size_t)csv_record_parse_length());
        held_key_set(&keycopy, key, prepare_key(key));

        record2 rec;
        bool matched = opt_orderedkeys ? forward_pass(fp2, name2, keyfield2, &rec)
                                       : circular_scan(fp2, name2, keyfield2, &rec);
        if (matched) {
            if (rec.numfields != headerfields2) {
                out_str(opt_recterminator);
                error_numbered_field_count(2, "matching ", rec.recnum, rec.numfields,
                                           headerfields2);
                cli_exit(1);
            }
            stat_nummatches2++;
            out_str(opt_recseparator);
            out_bytes(rec.text, (size_t)rec.textlen);
            out_str(opt_recterminator);
        } else if (opt_allowmissing) {
            out_str(opt_recseparator);
            out_str(fill);
            out_str(opt_recterminator);
        } else {
            out_str(opt_recterminator);
            error(0, 0, "ERROR: CSVFILE2 does not have matching record for key: %s", keycopy.text);
            return false;
        }
        errcheck_stdout_exit();
    }
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'a': opt_allowmissing = 1; break;
        case 'o': opt_orderedkeys = 1; break;
        case 'Q': opt_queryfieldnames = 1; break;
        case 's': opt_recseparator = optarg; break;
        case 'u': opt_unquotekeys = 1; break;
        case 'v': opt_verbose = 1; break;
        }
    }
    int nops = argc - optind;
    if (nops < 3 || nops > 4) cli_usage_exit();
    char **ops = argv + optind;

    int keyfield1 = 0, keyfield2 = 0;
    if (opt_queryfieldnames) {
        opt_keynamestr1 = ops[0];
        opt_keynamestr2 = ops[2];
    } else {
        keyfield1 = intstrconv(ops[0], "KEY_FIELD1");
        keyfield2 = intstrconv(ops[2], "KEY_FIELD2");
    }

    const char *name1, *name2;
    FILE *fp1 = open_numbered_csvfile(ops[1], 1, &name1);
    FILE *fp2 = open_numbered_csvfile(nops == 4 ? ops[3] : nullptr, 2, &name2);
    if (!join_csv_streams(fp1, fp2, name1, name2, keyfield1, keyfield2)) cli_exit(1);

    if (opt_verbose) {
        // The report is for a complete join: the output must have been written in full.
        fflush(stdout);
        errcheck_stdout_exit();
        fprintf(stderr, "Number of (non-header) records in CSVFILE1:           %d\n",
                stat_numrecords1 - 1);
        fprintf(stderr, "Number of records joined from CSVFILE2:               %d\n",
                stat_nummatches2);
    }
    cli_exit(0);
}
