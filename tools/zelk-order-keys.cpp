// zelk-order-keys: sort the records of a CSV file on several keys, each text, numeric or
// date-time, ascending or descending, with /usr/bin/sort doing the comparing.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "field_buffer.h"
#include "field_loop.h"
#include "libcsv.h"
#include "libsubproc.h"
#include "sort_frame.h"

static const char *opt_dateformat = "%m/%d/%Y %T"; // -D
static char opt_emptyfielderror;                   // -e
static char opt_headersort;                        // -h
static char opt_unquotekeys;                       // -u
static const char *opt_tzone = "UTC";              // -z
static char opt_datesort;                          // some KEYDEF has "d"

#define MAX_KEYDEF_FIELD MAX_FIELDS

// The keys in the order given: the -k arguments as typed, and once read, their field numbers
// and kinds ('d' date-time, 'n' numeric, general or not, 0 text).
static struct {
    int given;
    const char **specs;
    int count;
    int maxfield;
    int *fields;
    char *kinds;
} keydefs;

static arg_vector sort_args;

#define MAX_SUFFIX_LENGTH 2

static void print_usage(FILE *out) {
    fputs("Program to sort a CSV file, based on values in multiple fields.\n\n"
          "Usage: zelk-order-keys [OPTIONS] -kKEYDEF... [CSVFILE]\n\n"
          "KEYDEF defines a sort key: FIELD[n|g|d|i][r]\n"
          "  FIELD is the 1-based index of the key field, or header field name if -Q option;\n"
          "  field can be followed by 'n' or 'd' to indicate numeric or date-time sorting for "
          "the key;\n"
          "  or by 'g' for general numeric sorting (floating-point numbers with exponents),\n"
          "  or by 'i' to compare the key as text with a-z folded to A-Z (ignoring case);\n"
          "  KEYDEF can be completed with 'r' to indicate reverse sort;\n"
          "  Examples: -k1, -k2r, -k3n, -k4nr, -k5d, -k5dr, -k6i, -k6ir, -k7g.\n\n"
          "NOTE: a record with embedded LFs (\\n's) in quoted fields sorts as one record.\n\n"
          "Options:\n"
          "  -DFORMAT -- use FORMAT as the date-time format string for any date-time sort "
          "keys\n"
          "  -e -- empty KEYDEF fields are an error (allowed by default)\n"
          "  -h -- sort header record (passed through by default)\n"
          "  -o -- omit header record (not sorted, not passed through)\n"
          "  -Q -- query header to get indices of KEYDEF field names\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- unquote quoted KEYDEF field values to obtain sort keys\n"
          "        (remove surrounding \"'s and unescape embedded \"'s);\n"
          "        date-time keys are always automatically unquoted\n"
          "  -zTIMEZONE -- timezone for use with date sorts, e.g. \"America/Chicago\"\n"
          "  -1 -- interpret blank record as having a single empty field\n\n",
          out);
    print_datetime_usage(out, "TIMEZONE required only if date-time sort keys require DST.\n");
}

static const cli_pair pairs[] = {{'h', 'o'}, {'h', 'Q'}, {0, 0}};
static const cli_program program = {"zelk-order-keys", "D:ehk:oQtuz:1", "oQt1", pairs, print_usage};

static void *alloc_or_exit(size_t n) {
    void *p = calloc(n, 1);
    if (!p) fatalf(errno, "ERROR: failed allocating dynamic memory");
    return p;
}

// Whether text is what may follow a KEYDEF's FIELD, number or header name alike: at most one
// kind letter, then at most one r. Checked by hand: compiling it as a regular expression,
// glibc's regcomp frees a block twice when one of its allocations fails.
static bool is_suffix(const char *text) {
    if (*text != '\0' && strchr("ngdi", *text)) text++;
    if (*text == 'r') text++;
    return *text == '\0';
}

// One key: field number and the KEYDEF's suffix letters, and the sort entry that compares it.
static void add_key(int field, const char *suffix) {
    int p = ++keydefs.count;
    keydefs.fields[p - 1] = field;
    if (field > keydefs.maxfield) keydefs.maxfield = field;
    bool reverse = strchr(suffix, 'r') != nullptr;
    const char *opts;
    if (strchr(suffix, 'd')) {
        keydefs.kinds[p - 1] = 'd';
        opt_datesort = 1;
        opts = reverse ? "nr" : "n";
    } else if (strchr(suffix, 'n')) {
        keydefs.kinds[p - 1] = 'n';
        opts = reverse ? "nr" : "n";
    } else if (strchr(suffix, 'g')) {
        keydefs.kinds[p - 1] = 'n'; // read as a number, compared by sort -g
        opts = reverse ? "gr" : "g";
    } else if (strchr(suffix, 'i')) {
        opts = reverse ? "fr" : "f";
    } else {
        opts = reverse ? "r" : "";
    }
    char *entry = (char *)alloc_or_exit(28);
    snprintf(entry, 28, "-k%d,%d%s", p, p, opts);
    arg_vector_add(&sort_args, entry);
}

// A KEYDEF whose FIELD is a number.
static void add_keydef(const char *k) {
    size_t digits = strspn(k, "0123456789");
    if (digits == 0 || !is_suffix(k + digits)) fatalf(0, "Invalid KEYDEF syntax: '%s'!", k);
    char reason[51] = "";
    errno = 0;
    long v = strtol(k, nullptr, 10);
    if (errno == ERANGE || (v == 0 && errno == EINVAL))
        snprintf(reason, sizeof reason, "invalid/out-of-range");
    else if (v < 1)
        snprintf(reason, sizeof reason, "must be >= %d", 1);
    else if (v > MAX_KEYDEF_FIELD)
        snprintf(reason, sizeof reason, "must be <= %d", MAX_KEYDEF_FIELD);
    if (reason[0]) fatalf(0, "Invalid value for %s: %s (%s)", "KEYDEF", k, reason);
    add_key((int)v, k + digits);
}

// A KEYDEF whose FIELD is a header name. A name may itself end in suffix letters, so every
// reading is tried: the whole KEYDEF as a name, then the name without each possible suffix.
// Exactly one reading must name a header field; two are refused rather than guessed between.
static void add_named_keydef(const char *k, int numfields, char **fields, const char *end) {
    size_t len = strlen(k);
    int field = 0;
    size_t namelen = 0;
    for (size_t cut = 0; cut <= MAX_SUFFIX_LENGTH && (cut == 0 || cut < len); cut++) {
        if (!is_suffix(k + len - cut)) continue;
        char *name = strndup(k, len - cut);
        if (!name) fatalf(errno, "ERROR: failed allocating dynamic memory");
        int n = header_field_lookup(name, numfields, fields, end);
        if (n != 0 && field != 0)
            fatalf(0, "ERROR: KEYDEF '%s' is ambiguous: header names '%.*s' and '%s' both fit", k,
                   (int)namelen, k, name);
        free(name);
        if (n == 0) continue;
        field = n;
        namelen = len - cut;
    }
    if (field == 0) fatalf(0, "ERROR: FIELD name '%s' not found in header", k);
    add_key(field, k + namelen);
}

// Where fields 1..n of a record as read lie (the record holds at least n fields and is valid
// CSV: the reader checked it), found without parsing the fields after them.
static void locate_fields(const char *record, const char *end, int n, const char **start,
                          size_t *len) {
    const char *p = record;
    for (int i = 0; i < n; i++) {
        start[i] = p;
        const char *q = p;
        if (q < end && *q == '"') { // to the closing quote, past doubled ones
            for (q++;; q += 2) {
                q = (const char *)memchr(q, '"', (size_t)(end - q));
                if (!q || q + 1 >= end || q[1] != '"') break;
            }
            q = q ? q + 1 : end;
        }
        const char *comma = (const char *)memchr(q, ',', (size_t)(end - q));
        if (!comma) comma = end;
        len[i] = (size_t)(comma - p);
        p = comma + 1;
    }
}

// Streams the input into sort, one frame per record; false when the run must fail. A header
// already read (with -Q) is passed in, else it is read here.
static bool create_sort_input_from_csv_file(FILE *fp, const char *name, int pipefd,
                                            const char *header, size_t headerlen) {
    static char splitbuf[MAX_RECORD_LENGTH];
    static char keybuf[MAX_RECORD_LENGTH];
    const char *starts[MAX_KEYDEF_FIELD];
    size_t lens[MAX_KEYDEF_FIELD];
    int numfields;
    char error;
    int recnum = 1;
    if (!opt_headersort) {
        if (!header) {
            header = csv_record_read(fp, name, 1, 1, &numfields, &error);
            if (!header) {
                if (!error) error_empty_input(name);
                return false;
            }
            headerlen = (size_t)csv_record_read_length();
        }
        if (!opt_headeromit) sort_write_header(header, headerlen);
        recnum = 2;
    }
    FILE *pipe = open_sort_pipe(pipefd);
    for (;; recnum++) {
        const char *record = csv_record_read(fp, name, recnum, 1, &numfields, &error);
        if (!record) break;
        if (numfields == 0) {
            if (!opt_blankrecisfield) continue;
            numfields = 1;
        }
        if (numfields < keydefs.maxfield) {
            errorf(0, "ERROR: record #%d: lacks max KEYDEF field %d (only %d fields)", recnum,
                   keydefs.maxfield, numfields);
            return false;
        }
        size_t reclen = (size_t)csv_record_read_length();
        sortframe_check_record(recnum, record, reclen);
        if (numfields > MAX_FIELDS) {
            // Refused by the parser, as every record with too many fields is.
            memcpy(splitbuf, record, reclen + 1);
            char **fields;
            char spliterror;
            csv_record_string_split(splitbuf, recnum, 1, &fields, &spliterror,
                                    opt_blankrecisfield);
            if (spliterror) return false;
        }
        // The record stays in the reader's buffer for the frame; each key is copied.
        locate_fields(record, record + reclen, keydefs.maxfield, starts, lens);
        for (int i = 0; i < keydefs.count; i++) {
            int f = keydefs.fields[i];
            const char *key = keybuf;
            size_t keylen = lens[f - 1];
            memcpy(keybuf, starts[f - 1], keylen);
            keybuf[keylen] = '\0';
            // Emptiness is that of the value, so "" is an empty key like an empty field.
            if (keydefs.kinds[i] == 'd' || opt_unquotekeys) {
                csv_field_unquote_inplace(keybuf, 0);
                keylen = strlen(keybuf);
            } else if (keydefs.kinds[i] == 'n') {
                number_unquote(&key, &keylen);
            }
            if (keylen == 0) {
                if (opt_emptyfielderror) {
                    errorf(0, "ERROR: record #%d: KEYDEF field %d is empty", recnum, f);
                    return false;
                }
            } else if (keydefs.kinds[i] == 'd') {
                char what[32];
                snprintf(what, sizeof what, "KEYDEF field %d", f);
                key = datetime_to_utimestr(keybuf, opt_dateformat, recnum, what);
                keylen = strlen(key);
            }
            sortframe_check_key(recnum, key, keylen, true);
            sortframe_put_key(pipe, key, keylen);
            putc_unlocked(SORT_FRAME_KEYSEP, pipe);
        }
        sortframe_put_record(pipe, record, reclen, opt_terminatecr);
        sortframe_check_pipe(pipe);
    }
    if (!close_sort_pipe(pipe)) {
        errorf(errno, "Error: failed writing output to '%s'", "pipe to sort");
        return false;
    }
    return error == 0;
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    arg_vector_init(&sort_args, argc + 6, "ERROR: failed allocating dynamic memory",
                    "ERROR: max size of sort argv exceeded");
    keydefs.specs = (const char **)alloc_or_exit(sizeof(char *) * (size_t)argc);
    keydefs.fields = (int *)alloc_or_exit(sizeof(int) * (size_t)argc);
    keydefs.kinds = (char *)alloc_or_exit((size_t)argc);
    arg_vector_add(&sort_args, "sort");
    arg_vector_add(&sort_args, "--field-separator=\x01");
    arg_vector_add(&sort_args, "--zero-terminated");
    arg_vector_add(&sort_args, "--stable");
    arg_vector_add(&sort_args, SORT_BUFFER_SIZE);

    // Names are looked up in the header; numbers are checked as each -k is seen.
    bool names = cli_option_given(argc, argv, 'Q');
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'D': opt_dateformat = optarg; break;
        case 'e': opt_emptyfielderror = 1; break;
        case 'h': opt_headersort = 1; break;
        case 'k':
            keydefs.specs[keydefs.given++] = optarg;
            if (!names) add_keydef(optarg);
            break;
        case 'u': opt_unquotekeys = 1; break;
        case 'z': opt_tzone = optarg; break;
        }
    }
    if (keydefs.given == 0) fatalf(0, "ERROR: At least one -kKEYDEF spec is required!\n\n");

    int nops = argc - optind;
    if (nops > 1) cli_usage_exit();
    const char *name;
    FILE *fp = open_input_or_exit(nops == 1 ? argv[optind] : nullptr, &name);
    const char *header = nullptr;
    size_t headerlen = 0;
    if (opt_queryfieldname) {
        int numfields;
        char **fields;
        header = header_fields_required(fp, name, &numfields, &fields);
        if (!header) fatal_exit();
        headerlen = (size_t)csv_record_parse_length();
        for (int i = 0; i < keydefs.given; i++)
            add_named_keydef(keydefs.specs[i], numfields, fields, header + headerlen);
    }
    if (opt_datesort) setenv("TZ", opt_tzone, 1);

    int to_sort[2], from_sort[2];
    start_sort_child(sort_args.argv, to_sort, from_sort);
    if (!create_sort_input_from_csv_file(fp, name, to_sort[1], header, headerlen)) fatal_exit();
    if (!reformat_sort_output(from_sort[0])) fatal_exit();
    cli_exit(collect_children() ? 0 : 1);
}
