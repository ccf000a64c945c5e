// zelk-lint: check a CSV file and report its field-count mismatches, blank records and the
// layout habits of its fields.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "field_buffer.h"
#include "field_match.h"
#include "libcsv.h"
#include "parallel.h"

static char opt_keepgoing; // -k
static char opt_verbose;   // -v

static int stat_numheaderfields;

// What the check counts, as one array so that a part of the input's counts add up in one loop.
enum {
    STAT_RECORDSREAD,
    STAT_SYNTAXERRORS, // -k
    STAT_SHORTFIELDCNTWARNS,
    STAT_EXTRAFIELDCNTWARNS,
    STAT_EMPTYRECORDS,
    STAT_NULRECORDS,
    STAT_FIELDSWCRS,
    STAT_EMBEDDEDCRS,
    STAT_FIELDSWLFS,
    STAT_EMBEDDEDLFS,
    STAT_QUOTEDFIELDS,
    STAT_CLEANABLEQUOTEDFIELDS,
    STAT_EMPTYUNQUOTED,
    STAT_WSUNQUOTED,
    STAT_LTWSUNQUOTED,
    NSTATS
};
struct lint_tally {
    int n[NSTATS];
};
// The loop is handed this one, and counts into it by name, as examine_field does: fewer
// instructions a record than through the pointer it is given.
static lint_tally tally;
static int *const stat = tally.n;

static void print_usage(FILE *out) {
    fputs("Program to validate that a CSV file is properly formatted according to RFC 4180,\n"
          "plus provide additional info about the CSV file's characteristics.\n\n"
          "Usage: zelk-lint [OPTION...] [CSVFILE]\n\n"
          "Options:\n"
          "  -jNUM -- work on NUM cores (default: all for a file of 16 MiB or more)\n"
          "  -k -- keep going after a syntax error: describe it, go on at the next line,\n"
          "        and count the broken records in the report (status 1 if any)\n"
          "  -v -- verbose: print warning messages about each issue encountered\n",
          out);
}

static const cli_program program = {"zelk-lint", "j:kv", "j", nullptr, print_usage};

// A formatted line on standard output, through the checked writers. Every line formatted
// here is short (numbers and fixed text).
__attribute__((format(printf, 1, 2))) static void outf(const char *fmt, ...) {
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (n > 0) out_bytes(line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
}

static void examine_field(const char *f, int len, int recnum, int fieldnum) {
    if (len == 0) {
        stat[STAT_EMPTYUNQUOTED]++;
        if (opt_verbose)
            outf("Style: record #%d, field #%d: empty and unquoted.\n", recnum, fieldnum);
        return;
    }
    if (ws_only(f, len)) {
        stat[STAT_WSUNQUOTED]++;
        if (opt_verbose)
            outf("Style: record #%d, field #%d: whitespace only and unquoted.\n", recnum, fieldnum);
        return;
    }
    if (ws_leading_trailing(f, len)) {
        stat[STAT_LTWSUNQUOTED]++;
        if (opt_verbose)
            outf("Style: record #%d, field #%d: leading/trailing whitespace and unquoted.\n",
                 recnum, fieldnum);
        return;
    }
    // Only a quoted field can hold a line break or a double quote: the reader refuses them
    // anywhere else.
    if (f[0] != '"') return;
    // Its line breaks, counted in one pass.
    int crs = 0, lfs = 0;
    for (int i = 0; i < len; i++) {
        crs += f[i] == '\r';
        lfs += f[i] == '\n';
    }
    if (crs > 0) {
        stat[STAT_FIELDSWCRS]++;
        stat[STAT_EMBEDDEDCRS] += crs;
        if (opt_verbose)
            outf("Style: record #%d, field #%d: embedded carriage-returns(s) (\\r).\n", recnum,
                 fieldnum);
    }
    if (lfs > 0) {
        stat[STAT_FIELDSWLFS]++;
        stat[STAT_EMBEDDEDLFS] += lfs;
        if (opt_verbose)
            outf("Style: record #%d, field #%d: embedded linefeed(s) (\\n).\n", recnum, fieldnum);
    }
    if (field_is_wrapped(f, len)) {
        stat[STAT_QUOTEDFIELDS]++;
        if (quotes_removable(f + 1, len - 2, ',', false)) {
            stat[STAT_CLEANABLEQUOTEDFIELDS]++;
            if (opt_verbose)
                outf("Style: record #%d, field #%d: quoted but cleanable.\n", recnum, fieldnum);
        }
    }
}

// A byte order mark of UTF-16 or UTF-32 at the start of the input, seen in the stream's
// buffer without consuming anything: such a file is not CSV to these programs.
static void warn_wide_bom(FILE *fp, const char *name) {
    int c = getc_unlocked(fp);
    if (c == EOF) return;
    ungetc(c, fp);
    const unsigned char *p = (const unsigned char *)fp->_IO_read_ptr;
    size_t n = (size_t)(fp->_IO_read_end - fp->_IO_read_ptr);
    const char *kind = nullptr;
    if (n >= 4 && memcmp(p, "\xff\xfe\0\0", 4) == 0)
        kind = "UTF-32LE";
    else if (n >= 4 && memcmp(p, "\0\0\xfe\xff", 4) == 0)
        kind = "UTF-32BE";
    else if (n >= 2 && memcmp(p, "\xff\xfe", 2) == 0)
        kind = "UTF-16LE";
    else if (n >= 2 && memcmp(p, "\xfe\xff", 2) == 0)
        kind = "UTF-16BE";
    if (kind)
        errorf(0,
               "Warning: CSVFILE '%s' begins with a %s byte order mark: it is not CSV text "
               "(convert it to UTF-8 first)",
               name, kind);
}

// Reads record recnum (the header when Header) and counts its issues into stat; false at the
// end of the input or on an error that ends the check (*err set; with -k, a read error only).
template <bool Header>
[[gnu::always_inline]] inline bool lint_record(FILE *fp, const char *name, int recnum, int header,
                                               char *err) {
    char **fields;
    int nf;
    const char *text = csv_record_read_and_parse(fp, name, recnum, 1, &nf, &fields, err);
    if (!text && *err && opt_keepgoing && !ferror(fp)) {
        // The reader has described it; what follows the line it lies on is a new record.
        stat[STAT_RECORDSREAD]++;
        stat[STAT_SYNTAXERRORS]++;
        csv_record_resync(fp);
        return true;
    }
    if (!text) return false;
    stat[STAT_RECORDSREAD]++;
    if (Header) header = stat_numheaderfields = nf;
    // The parsed record keeps its separators: every NUL in it is data.
    const char *end = text + csv_record_parse_length();
    if (memchr(text, '\0', (size_t)(end - text))) {
        stat[STAT_NULRECORDS]++;
        if (opt_verbose) outf("Syntax: record #%d: NUL byte(s) in record.\n", recnum);
    }
    if (nf == 0) {
        stat[STAT_EMPTYRECORDS]++;
        if (opt_verbose) outf("Syntax: record #%d: blank/empty record.\n", recnum);
        return true;
    }
    if (!Header && nf < header) {
        stat[STAT_SHORTFIELDCNTWARNS]++;
        if (opt_verbose)
            outf("Syntax: record #%d: short of fields (%d vs %d in header).\n", recnum, nf, header);
    } else if (!Header && nf > header) {
        stat[STAT_EXTRAFIELDCNTWARNS]++;
        if (opt_verbose)
            outf("Syntax: record #%d: extra fields (%d vs %d in header).\n", recnum, nf, header);
    }
    for (int i = 0; i < nf; i++) {
        const char *f = fields[i];
        int len = csv_parsed_field_length(fields, nf, i + 1, end);
        // A byte order mark before a quoted first field: the field is the quoted one.
        int bom = i == 0 ? csv_field_bom_len(f, (size_t)len) : 0;
        examine_field(f + bom, len - bom, recnum, i + 1);
    }
    return true;
}

static bool lint_records(FILE *fp, const char *name, int *recnum, void *) {
    const int header = stat_numheaderfields; // held in a register across the reads
    char err;
    int r = *recnum;
    while (lint_record<false>(fp, name, ++r, header, &err)) {
    }
    *recnum = r - 1; // (the read that found the end counted one)
    return !err;
}

// Reads every record and counts its issues; false when the reader reported an error that
// ends the check.
static bool lint_csv_stream(FILE *fp, const char *name) {
    char err;
    // Counted as it is read, so that every error says its line and byte, in a pipe too; and
    // going on after an error finds the next line by itself: one process.
    if (opt_keepgoing) {
        csv_count_places(fp);
        opt_jobs = 1;
    }
    // Later records' field counts are compared with the header's.
    if (!lint_record<true>(fp, name, 1, 0, &err)) return !err;
    int recnum = 1;
    return run_record_loop(fp, name, &recnum,
                           {lint_records, &tally, sizeof tally, add_counts<lint_tally>});
}

static void print_report(const char *name) {
    out_str("Report for '");
    out_str(name);
    out_str("':\n");
    outf("------------------------------------------------------\n");
    outf("Basics:\n");
    outf("  Records in total:                            %d\n", stat[STAT_RECORDSREAD]);
    outf("  Fields in header record:                     %d\n", stat_numheaderfields);
    outf("Syntax:\n");
    if (opt_keepgoing)
        outf("  Records with syntax errors:                  %d\n", stat[STAT_SYNTAXERRORS]);
    outf("  Records with field count mismatches:         %d\n",
         stat[STAT_SHORTFIELDCNTWARNS] + stat[STAT_EXTRAFIELDCNTWARNS]);
    outf("                                short:         %d\n", stat[STAT_SHORTFIELDCNTWARNS]);
    outf("                                extra:         %d\n", stat[STAT_EXTRAFIELDCNTWARNS]);
    outf("  Blank records:                               %d\n", stat[STAT_EMPTYRECORDS]);
    outf("  Records with NUL bytes:                      %d\n", stat[STAT_NULRECORDS]);
    outf("Style:\n");
    outf("  Fields with embedded carriage-returns:       %d\n", stat[STAT_FIELDSWCRS]);
    outf("  Embedded carriage-returns:                   %d\n", stat[STAT_EMBEDDEDCRS]);
    outf("  Fields with embedded linefeeds:              %d\n", stat[STAT_FIELDSWLFS]);
    outf("  Embedded linefeeds:                          %d\n", stat[STAT_EMBEDDEDLFS]);
    outf("  Quoted fields:                               %d\n", stat[STAT_QUOTEDFIELDS]);
    outf("  Cleanable quoted fields:                     %d\n", stat[STAT_CLEANABLEQUOTEDFIELDS]);
    outf("  Unquoted empty fields:                       %d\n", stat[STAT_EMPTYUNQUOTED]);
    outf("  Unquoted whitespace fields:                  %d\n", stat[STAT_WSUNQUOTED]);
    outf("  Unquoted leading/trailing whitespace fields: %d\n", stat[STAT_LTWSUNQUOTED]);
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1)
        if (c == 'k')
            opt_keepgoing = 1;
        else if (c == 'v')
            opt_verbose = 1;
    if (argc - optind > 1) cli_usage_exit();
    const char *name;
    FILE *fp = open_input_or_exit(optind < argc ? argv[optind] : nullptr, &name);
    ws_classes_compile();
    warn_wide_bom(fp, name);
    if (!lint_csv_stream(fp, name)) cli_exit(1);
    if (stat[STAT_RECORDSREAD] == 0) errorf(0, "Warning: CSVFILE '%s' is empty", name);
    if (opt_verbose) out_char('\n');
    print_report(name);
    cli_exit(stat[STAT_SYNTAXERRORS] > 0);
}
