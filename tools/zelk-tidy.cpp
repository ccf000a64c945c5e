// zelk-tidy: copy a CSV file, repairing or normalising its quoting, whitespace, line breaks in
// fields, field counts and blank records, and count every change.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "field_buffer.h"
#include "field_match.h"
#include "libcsv.h"
#include "parallel.h"

static char opt_blankrecsremove;  // -b
static char opt_blankrecspad;     // -B
static char opt_cleanfields;      // -c
static char opt_recordstrim;      // -d
static char opt_quoteemptyfields; // -e
static char opt_recordspad;       // -p
static char opt_replacelfcrs;     // -r
static char opt_unquotefields;    // -u
static char opt_report;           // -v
static char opt_verbose;          // -V
static char opt_wsquote;          // -w
static char opt_wsempty;          // -W
static char opt_ltwsquote;        // -x
static char opt_ltwsremove;       // -X
static const char *opt_separatorstr = ",";
static const char *opt_emptyfieldstr = "";

static int stat_numheaderfields;

// What the cleaning counts, as one array so that a part of the input's counts add up in one loop.
enum {
    STAT_RECORDSREAD,
    STAT_FIELDSUNQUOTED,
    STAT_RECORDSPADDED,
    STAT_RECORDSTRIMMED,
    STAT_BLANKSREMOVED,
    STAT_BLANKSPADDED,
    STAT_EMPTYQUOTED,
    STAT_WSQUOTED,
    STAT_WSEMPTIED,
    STAT_LTWSQUOTED,
    STAT_LTWSREMOVED,
    STAT_CLEANED, // the rewrite's counts, taken from it after each run of records
    STAT_CRS,
    STAT_LFS,
    NSTATS
};
struct tidy_tally {
    int n[NSTATS];
};
// The loop is handed this one, and counts into it by name, as the field procedures do.
static tidy_tally tally;
static int *const stat = tally.n;

static size_t separator_len;
static bool separator_is_comma;
static size_t emptyfield_len;

static void print_usage(FILE *out) {
    fputs("Program to 'clean' CSV file fields in one or more of multiple ways:\n"
          "(1) unquoting fields that do not need to be quoted;\n"
          "(2) padding/trimming records to make field counts consistent with header;\n"
          "(3) removing (or padding) blank records\n"
          "(4) replacing embedded CR (\\r) and LF (\\n) characters with text;\n"
          "(5) quoting empty fields;\n"
          "(6) quoting or making empty, unquoted fields that are whitespace only;\n"
          "(7) quoting or \"cleaning,\" unquoted fields that have leading/trailing "
          "whitespace;\n\n"
          "Usage: zelk-tidy [OPTION...] [CSVFILE]\n\n"
          "Options:\n"
          "  -b -- blank records removed\n"
          "  -B -- blank records padded with empty fields (matching header)\n"
          "  -c -- clean quoted fields (remove double quotes and unescape embedded \"'s if "
          "possible)\n"
          "  -d -- delete/trim extra fields when records contain more fields than header\n"
          "  -e -- empty fields quoted (this includes padding fields)\n"
          "  -jNUM -- work on NUM cores (default: all for a file of 16 MiB or more)\n"
          "  -p -- pad records with empty fields when records contain less fields than header\n"
          "  -r -- replace embedded CR (\\r) and LF (\\n) characters with text\n"
          "  -sSEPARATOR -- separator string for output fields (comma by default),\n"
          "                 intended for use with -u option\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- unquote quoted fields (remove surrounding \"'s and unescape embedded \"'s)\n"
          "        Note: this can leave output as an invalid CSV, so best used with -s option\n"
          "  -v -- verbose: print final cleaning report\n"
          "  -V -- verbose: print warning/error messages about every CSV issue\n"
          "  -w -- whitespace fields quoted\n"
          "  -W -- whitespace fields made empty (can be combined with -e to quote)\n"
          "  -x -- leading/trailing whitespace fields quoted\n"
          "  -X -- leading/trailing whitespace in unquoted fields removed\n",
          out);
}

// -u refuses -c before -e, whichever came first.
static const cli_pair pairs[] = {{'b', 'B'}, {'c', 'u'}, {'e', 'u'}, {0, 0}};
static const cli_program program = {"zelk-tidy", "bBcdej:prs:tuvVwWxX", "jt", pairs, print_usage};

// ---- Field procedures -----------------------------------------------------------------------
// Each takes one field as split by the reader (quotes kept) and returns the text to write: the
// field, a part of it, the field buffer or the empty-field text, with its length in *outlen.

typedef const char *(*field_proc)(const char *field, int len, int *outlen);

static char fieldbuf[MAX_FIELD_LENGTH];
// Counts line breaks replaced and fields cleaned, for the tally to take.
static field_rewrite rewrite{.buf = fieldbuf};

static void take_rewrite_counts(void) {
    stat[STAT_CLEANED] += rewrite.cleaned;
    stat[STAT_CRS] += rewrite.crs;
    stat[STAT_LFS] += rewrite.lfs;
    rewrite.cleaned = rewrite.crs = rewrite.lfs = 0;
}

static const char *unchanged(const char *field, int len, int *outlen) {
    *outlen = len;
    return field;
}

static const char *empty_field(int *outlen) {
    if (opt_quoteemptyfields) stat[STAT_EMPTYQUOTED]++;
    *outlen = (int)emptyfield_len;
    return opt_emptyfieldstr;
}

static const char *field_proc_do_nothing(const char *field, int len, int *outlen) {
    return unchanged(field, len, outlen);
}

static const char *field_proc_replace_embeds(const char *field, int len, int *outlen) {
    return rewrite.whole<true>(field, len, outlen);
}

// -u, and -r when Embeds.
template <bool Embeds>
static const char *field_proc_unquote(const char *field, int len, int *outlen) {
    if (field_is_wrapped(field, len)) {
        if (len == 2 && opt_quoteemptyfields) return unchanged(field, len, outlen);
        stat[STAT_FIELDSUNQUOTED]++;
        return rewrite.value<Embeds>(field, len, outlen);
    }
    if (len == 0) return empty_field(outlen);
    return rewrite.whole<Embeds>(field, len, outlen);
}

// -c, and -r when Embeds; -e keeps "" as it is.
template <bool Embeds>
static const char *field_proc_clean(const char *field, int len, int *outlen) {
    if (len == 0) return empty_field(outlen);
    if (!field_is_wrapped(field, len)) return rewrite.whole<Embeds>(field, len, outlen);
    if (len == 2 && opt_quoteemptyfields) return unchanged(field, len, outlen);
    return rewrite.clean<Embeds>(field, len, outlen);
}

static field_proc choose_field_proc(void) {
    if (opt_unquotefields)
        return opt_replacelfcrs ? field_proc_unquote<true> : field_proc_unquote<false>;
    if (opt_cleanfields) return opt_replacelfcrs ? field_proc_clean<true> : field_proc_clean<false>;
    return opt_replacelfcrs ? field_proc_replace_embeds : field_proc_do_nothing;
}

// ---- Records --------------------------------------------------------------------------------

static field_proc proc;

// What a field is written as: text[0..len), between double quotes when quoted is set.
struct field_out {
    const char *text;
    int len;
    bool quoted;
};

// Whether the field procedure may rewrite into fieldbuf (and so meet the field length limit).
static bool proc_rewrites;

static field_out field_output(const char *f, int len, int fieldnum) {
    if (len == 0) {
        if (opt_quoteemptyfields) {
            stat[STAT_EMPTYQUOTED]++;
            return {"\"\"", 2, false};
        }
        return {f, 0, false};
    }
    if (ws_only(f, len)) {
        if (opt_wsquote) {
            stat[STAT_WSQUOTED]++;
            return {f, len, true};
        }
        if (opt_wsempty) {
            stat[STAT_WSEMPTIED]++;
            return {opt_emptyfieldstr, (int)emptyfield_len, false};
        }
        return {f, len, false};
    }
    if (ws_leading_trailing(f, len)) {
        if (opt_ltwsquote) {
            stat[STAT_LTWSQUOTED]++;
            return {f, len, true};
        }
        if (opt_ltwsremove) {
            const char *p = f, *end = f + len;
            while (p < end && ws_is_blank(*p)) p++;
            while (end > p && ws_is_blank(end[-1])) end--;
            stat[STAT_LTWSREMOVED]++;
            return {p, (int)(end - p), false};
        }
        return {f, len, false};
    }
    if (proc_rewrites) csv_where_field(fieldnum);
    int outlen;
    const char *out = proc(f, len, &outlen);
    return {out, outlen, false};
}

static void write_field_out(const field_out &o) {
    if (o.quoted) out_rec_char('"');
    out_rec_bytes(o.text, (size_t)o.len);
    if (o.quoted) out_rec_char('"');
}

// Fields 1..n of a parsed record (separators in place, the text ending at end), separated by
// the separator string. With the comma as separator, a run of fields written as they are is
// copied from the record text in one piece.
// A byte order mark before a quoted first field is written as it stands, in front of what
// becomes of the quoted field.
static void write_fields(char **fields, int numfields, int n, const char *end) {
    out_rec_add_fields(n - 1);
    int bom = 0;
    if (n > 0) {
        int len = csv_parsed_field_length(fields, numfields, 1, end);
        bom = csv_field_bom_len(fields[0], (size_t)len);
    }
    if (separator_is_comma) {
        const char *run = fields[0]; // the start of the text not yet written
        const char *field_end = run;
        for (int i = 0; i < n; i++) {
            int skip = i == 0 ? bom : 0;
            const char *f = fields[i] + skip;
            int len = csv_parsed_field_length(fields, numfields, i + 1, end) - skip;
            field_end = f + len;
            field_out o = field_output(f, len, i + 1);
            if (o.text == f && o.len == len && !o.quoted) continue;
            out_rec_bytes(run, (size_t)(f - run));
            write_field_out(o);
            run = field_end;
        }
        out_rec_bytes(run, (size_t)(field_end - run));
        return;
    }
    out_rec_bytes(fields[0], (size_t)bom);
    for (int i = 0; i < n; i++) {
        if (i > 0) out_rec_bytes(opt_separatorstr, separator_len);
        int skip = i == 0 ? bom : 0;
        int len = csv_parsed_field_length(fields, numfields, i + 1, end) - skip;
        write_field_out(field_output(fields[i] + skip, len, i + 1));
    }
}

static void process_blank_record(int recnum, int header_fields) {
    if (opt_blankrecsremove) {
        stat[STAT_BLANKSREMOVED]++;
        if (opt_verbose) errorf(0, "Warning: record #%d is blank, being removed", recnum);
        return;
    }
    if (opt_blankrecspad) {
        stat[STAT_BLANKSPADDED]++;
        int n = header_fields > 0 ? header_fields : 1;
        out_rec_begin(recnum);
        for (int i = 0; i < n; i++) {
            if (i > 0) out_rec_separator(opt_separatorstr, separator_len);
            out_rec_bytes(opt_emptyfieldstr, emptyfield_len);
        }
        out_rec_end();
    } else {
        out_terminator();
    }
    errcheck_stdout_exit();
}

static void process_record(char **fields, int nf, const char *end, int recnum,
                           int header_fields) {
    out_rec_begin(recnum);
    if (nf > header_fields && opt_recordstrim) {
        stat[STAT_RECORDSTRIMMED]++;
        write_fields(fields, nf, header_fields, end);
    } else {
        write_fields(fields, nf, nf, end);
    }
    if (nf < header_fields && opt_recordspad) {
        for (int i = nf; i < header_fields; i++) {
            out_rec_separator(opt_separatorstr, separator_len);
            out_rec_bytes(opt_emptyfieldstr, emptyfield_len);
            if (opt_quoteemptyfields) stat[STAT_EMPTYQUOTED]++;
        }
        stat[STAT_RECORDSPADDED]++;
    }
    out_rec_end();
    if (opt_verbose && nf > header_fields)
        errorf(0,
               opt_recordstrim ? "Warning: record #%d has more fields than header (%d vs %d), "
                                 "trimming"
                               : "Warning: record #%d has more fields than header (%d vs %d)",
               recnum, nf, header_fields);
    else if (opt_verbose && nf < header_fields)
        errorf(0,
               opt_recordspad ? "Warning: record #%d has less fields than header (%d vs %d), "
                                "padding"
                              : "Warning: record #%d has less fields than header (%d vs %d)",
               recnum, nf, header_fields);
    errcheck_stdout_exit();
}

// Reads record recnum (the header when Header) and writes what becomes of it; false at the end
// of the input or on an error (*err set).
template <bool Header>
[[gnu::always_inline]] inline bool tidy_record(FILE *fp, const char *name, int recnum, int header,
                                               char *err) {
    char **fields;
    int nf;
    const char *text = csv_record_read_and_parse(fp, name, recnum, opt_verbose, &nf, &fields, err);
    if (!text) return false;
    stat[STAT_RECORDSREAD]++;
    if (Header) header = stat_numheaderfields = nf;
    const char *end = text + csv_record_parse_length();
    if (nf == 0) {
        process_blank_record(recnum, header);
    } else if (Header) {
        out_rec_begin(recnum);
        write_fields(fields, nf, nf, end);
        out_rec_end();
        errcheck_stdout_exit();
    } else {
        process_record(fields, nf, end, recnum, header);
    }
    return true;
}

static bool tidy_records(FILE *fp, const char *name, int *recnum, void *) {
    const int header = stat_numheaderfields; // held in a register across the reads
    char err;
    int r = *recnum;
    while (tidy_record<false>(fp, name, ++r, header, &err)) {
    }
    *recnum = r - 1; // (the read that found the end counted one)
    take_rewrite_counts();
    return !err;
}

// Copies every record; false when the reader reported an error.
static bool tidy_csv_stream(FILE *fp, const char *name) {
    char err;
    if (!tidy_record<true>(fp, name, 1, 0, &err)) {
        if (err) return false;
        errorf(0, "Warning: CSVFILE '%s' is empty", name);
        return true;
    }
    // Counted from zero in every part.
    take_rewrite_counts();
    int recnum = 1;
    return run_record_loop(fp, name, &recnum,
                           {tidy_records, &tally, sizeof tally, add_counts<tidy_tally>});
}

static void print_report(void) {
    fprintf(stderr,
            "Cleaning Report:\n"
            "Number of records read in total:                      %d\n"
            "Number of header fields:                              %d\n"
            "Number of fields cleaned:                             %d\n"
            "Number of fields unquoted:                            %d\n"
            "Number of records with fields padded:                 %d\n"
            "Number of records with fields trimmed:                %d\n"
            "Number of blank records removed:                      %d\n"
            "Number of blank records padded:                       %d\n"
            "Number of empty fields quoted:                        %d\n"
            "Number of embedded CRs replaced:                      %d\n"
            "Number of embedded LFs replaced:                      %d\n"
            "Number of whitespace fields quoted:                   %d\n"
            "Number of whitespace fields emptied:                  %d\n"
            "Number of leading/trailing whitespace fields quoted:  %d\n"
            "Number of leading/trailing whitespace fields cleaned: %d\n",
            stat[STAT_RECORDSREAD], stat_numheaderfields, stat[STAT_CLEANED],
            stat[STAT_FIELDSUNQUOTED], stat[STAT_RECORDSPADDED], stat[STAT_RECORDSTRIMMED],
            stat[STAT_BLANKSREMOVED], stat[STAT_BLANKSPADDED], stat[STAT_EMPTYQUOTED],
            stat[STAT_CRS], stat[STAT_LFS], stat[STAT_WSQUOTED], stat[STAT_WSEMPTIED],
            stat[STAT_LTWSQUOTED], stat[STAT_LTWSREMOVED]);
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'b': opt_blankrecsremove = 1; break;
        case 'B': opt_blankrecspad = 1; break;
        case 'c': opt_cleanfields = 1; break;
        case 'd': opt_recordstrim = 1; break;
        case 'e':
            opt_quoteemptyfields = 1;
            opt_emptyfieldstr = "\"\"";
            break;
        case 'p': opt_recordspad = 1; break;
        case 'r': opt_replacelfcrs = 1; break;
        case 's': opt_separatorstr = optarg; break;
        case 'u': opt_unquotefields = 1; break;
        case 'v': opt_report = 1; break;
        case 'V': opt_verbose = 1; break;
        case 'w': opt_wsquote = 1; break;
        case 'W': opt_wsempty = 1; break;
        case 'x': opt_ltwsquote = 1; break;
        case 'X': opt_ltwsremove = 1; break;
        }
    }
    if (argc - optind > 1) cli_usage_exit();
    separator_len = strlen(opt_separatorstr);
    emptyfield_len = strlen(opt_emptyfieldstr);
    separator_is_comma = strcmp(opt_separatorstr, ",") == 0;
    proc = choose_field_proc();
    proc_rewrites = opt_unquotefields || opt_replacelfcrs;

    const char *name;
    FILE *fp = open_input_or_exit(optind < argc ? argv[optind] : nullptr, &name);
    ws_classes_compile();
    if (!tidy_csv_stream(fp, name)) cli_exit(1);
    if (opt_report) {
        // The report describes output that was written: a failed write is reported instead.
        if (fflush(stdout) != 0) cli_exit(1);
        print_report();
    }
    cli_exit(0);
}
