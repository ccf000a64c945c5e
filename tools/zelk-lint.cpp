// zelk-lint: check a CSV file and report its field-count mismatches, blank records and the
// layout habits of its fields.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "field_buffer.h"
#include "libcsv.h"
#include "field_match.h"

static char opt_keepgoing; // -k
static char opt_verbose;   // -v

static int stat_numrecordsread;
static int stat_numheaderfields;
static int stat_numsyntaxerrors; // -k
static int stat_numshortfieldcntwarns;
static int stat_numextrafieldcntwarns;
static int stat_numemptyrecords;
static int stat_numnulrecords;
static int stat_numfieldswcrs;
static int stat_numembeddedcrs;
static int stat_numfieldswlfs;
static int stat_numembeddedlfs;
static int stat_numquotedfields;
static int stat_numcleanablequotedfields;
static int stat_numemptyunquoted;
static int stat_numwsunquoted;
static int stat_numltwsunquoted;

static void print_usage(FILE *out) {
    fputs("Program to validate that a CSV file is properly formatted according to RFC 4180,\n"
          "plus provide additional info about the CSV file's characteristics.\n\n"
          "Usage: zelk-lint [OPTION...] [CSVFILE]\n\n"
          "Options:\n"
          "  -k -- keep going after a syntax error: describe it, go on at the next line,\n"
          "        and count the broken records in the report (status 1 if any)\n"
          "  -v -- verbose: print warning messages about each issue encountered\n",
          out);
}

static const cli_program program = {"zelk-lint", "kv", "", nullptr, print_usage};

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
        stat_numemptyunquoted++;
        if (opt_verbose)
            outf("Style: record #%d, field #%d: empty and unquoted.\n", recnum, fieldnum);
        return;
    }
    if (ws_only(f, len)) {
        stat_numwsunquoted++;
        if (opt_verbose)
            outf("Style: record #%d, field #%d: whitespace only and unquoted.\n", recnum,
                 fieldnum);
        return;
    }
    if (ws_leading_trailing(f, len)) {
        stat_numltwsunquoted++;
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
        stat_numfieldswcrs++;
        stat_numembeddedcrs += crs;
        if (opt_verbose)
            outf("Style: record #%d, field #%d: embedded carriage-returns(s) (\\r).\n", recnum,
                 fieldnum);
    }
    if (lfs > 0) {
        stat_numfieldswlfs++;
        stat_numembeddedlfs += lfs;
        if (opt_verbose)
            outf("Style: record #%d, field #%d: embedded linefeed(s) (\\n).\n", recnum, fieldnum);
    }
    if (field_is_wrapped(f, len)) {
        stat_numquotedfields++;
        if (quotes_removable(f + 1, len - 2, ',', false)) {
            stat_numcleanablequotedfields++;
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

// Reads every record and counts its issues; false when the reader reported an error that
// ends the check (with -k, a read error only).
static bool lint_csv_stream(FILE *fp, const char *name) {
    char **fields;
    char err;
    // Counted as it is read, so that every error says its line and byte, in a pipe too.
    if (opt_keepgoing) csv_count_places(fp);
    for (int recnum = 1;; recnum++) {
        int nf;
        const char *text = csv_record_read_and_parse(fp, name, recnum, 1, &nf, &fields, &err);
        if (!text && err && opt_keepgoing && !ferror(fp)) {
            // The reader has described it; what follows the line it lies on is a new record.
            stat_numrecordsread++;
            stat_numsyntaxerrors++;
            csv_record_resync(fp);
            continue;
        }
        if (!text) return err == 0;
        stat_numrecordsread++;
        if (recnum == 1) stat_numheaderfields = nf;
        // The parsed record keeps its separators: every NUL in it is data.
        const char *end = text + csv_record_parse_length();
        if (memchr(text, '\0', (size_t)(end - text))) {
            stat_numnulrecords++;
            if (opt_verbose) outf("Syntax: record #%d: NUL byte(s) in record.\n", recnum);
        }
        if (nf == 0) {
            stat_numemptyrecords++;
            if (opt_verbose) outf("Syntax: record #%d: blank/empty record.\n", recnum);
            continue;
        }
        if (recnum > 1 && nf < stat_numheaderfields) {
            stat_numshortfieldcntwarns++;
            if (opt_verbose)
                outf("Syntax: record #%d: short of fields (%d vs %d in header).\n", recnum, nf,
                     stat_numheaderfields);
        } else if (recnum > 1 && nf > stat_numheaderfields) {
            stat_numextrafieldcntwarns++;
            if (opt_verbose)
                outf("Syntax: record #%d: extra fields (%d vs %d in header).\n", recnum, nf,
                     stat_numheaderfields);
        }
        for (int i = 0; i < nf; i++) {
            const char *f = fields[i];
            int len = csv_parsed_field_length(fields, nf, i + 1, end);
            // A byte order mark before a quoted first field: the field is the quoted one.
            int bom = i == 0 ? csv_field_bom_len(f, (size_t)len) : 0;
            examine_field(f + bom, len - bom, recnum, i + 1);
        }
    }
}

static void print_report(const char *name) {
    out_str("Report for '");
    out_str(name);
    out_str("':\n");
    outf("------------------------------------------------------\n");
    outf("Basics:\n");
    outf("  Records in total:                            %d\n", stat_numrecordsread);
    outf("  Fields in header record:                     %d\n", stat_numheaderfields);
    outf("Syntax:\n");
    if (opt_keepgoing)
        outf("  Records with syntax errors:                  %d\n", stat_numsyntaxerrors);
    outf("  Records with field count mismatches:         %d\n",
         stat_numshortfieldcntwarns + stat_numextrafieldcntwarns);
    outf("                                short:         %d\n", stat_numshortfieldcntwarns);
    outf("                                extra:         %d\n", stat_numextrafieldcntwarns);
    outf("  Blank records:                               %d\n", stat_numemptyrecords);
    outf("  Records with NUL bytes:                      %d\n", stat_numnulrecords);
    outf("Style:\n");
    outf("  Fields with embedded carriage-returns:       %d\n", stat_numfieldswcrs);
    outf("  Embedded carriage-returns:                   %d\n", stat_numembeddedcrs);
    outf("  Fields with embedded linefeeds:              %d\n", stat_numfieldswlfs);
    outf("  Embedded linefeeds:                          %d\n", stat_numembeddedlfs);
    outf("  Quoted fields:                               %d\n", stat_numquotedfields);
    outf("  Cleanable quoted fields:                     %d\n", stat_numcleanablequotedfields);
    outf("  Unquoted empty fields:                       %d\n", stat_numemptyunquoted);
    outf("  Unquoted whitespace fields:                  %d\n", stat_numwsunquoted);
    outf("  Unquoted leading/trailing whitespace fields: %d\n", stat_numltwsunquoted);
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
    if (stat_numrecordsread == 0) errorf(0, "Warning: CSVFILE '%s' is empty", name);
    if (opt_verbose) out_char('\n');
    print_report(name);
    cli_exit(stat_numsyntaxerrors > 0);
}
