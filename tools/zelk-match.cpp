// zelk-match: select the records whose value in one field matches a regular expression, a
// fixed string or one of a file of fixed strings.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex.h>

#include "cli.h"
#include "field_loop.h"
#include "field_match.h"
#include "libcsv.h"
#include "parallel.h"

static char opt_usepatternfile;       // -f
static const char *opt_patternfile;   // -f
static char opt_fixedstring;          // -F, -f
static char opt_headergrep;           // -h
static char opt_ignorecase;           // -i
static int opt_cflags = REG_EXTENDED; // -i adds REG_ICASE
static int opt_matchesnum = -1;       // -m
static char opt_linenums;             // -n
static char opt_quiet;                // -q
static char opt_unquotefield;         // -u
static char opt_invert;               // -v
static char opt_warnifmissing;        // -w
static char opt_exactmatch;           // -x

// The -f patterns, each NUL-terminated, back to back; offsets[i] is where pattern i starts and
// offsets[npatterns] one past the end of the last one's NUL.
static char *patterns;
static int *offsets;
static int npatterns;

static const char *pattern; // PATTERN operand
static size_t pattern_len;
static field_regex pattern_re;
static fixed_matcher matcher;

static void print_usage(FILE *out) {
    fputs("Program to 'grep' a particular field in a CSV file, to select/remove records where\n"
          "field matches a pattern.  The pattern can be either a regex or a fixed string\n"
          "(file patterns can be only fixed strings).\n\n"
          "Usage: zelk-match [OPTION...] FIELD PATTERN [CSVFILE]\n"
          "Usage: zelk-match [OPTION...] -fPATTERN_FILE FIELD [CSVFILE]\n\n"
          "FIELD is the 1-based index of the field to grep, or header field name if -Q option.\n"
          "PATTERN is the regex or string pattern to match.\n"
          "(PATTERN assumes extended regex syntax, so do not escape regex metachars.)\n"
          "In a UTF-8 locale (LC_ALL, LC_CTYPE, LANG) PATTERN matches characters:\n"
          "'.' and [^...] match a whole one, and -i folds letters beyond ASCII too.\n\n"
          "Options:\n"
          "  -b -- blank records passed through (ignored by default, see also -1)\n"
          "  -fFILE -- read fixed string PATTERNs from FILE\n"
          "  -F -- interpret PATTERN as a fixed string \n"
          "  -h -- process header record (passed through by default)\n"
          "  -i -- ignore case when matching PATTERN\n"
          "  -jNUM -- work on NUM cores (default: all for a file of 16 MiB or more)\n"
          "  -mNUM -- stop after NUM matches\n"
          "  -n -- prefix each output record with its 1-based record number\n"
          "  -o -- omit header record (not grep'd, not passed through)\n"
          "  -q -- quiet: suppress all output, look at exit status\n"
          "  -Q -- query header to get index of FIELD name\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- unquote quoted FIELD before applying grep pattern\n"
          "        (remove surrounding \"'s and unescape embedded \"'s)\n"
          "  -v -- invert match (i.e., select non-matching)\n"
          "  -w -- warn about records lacking FIELD (such records are ignored)\n"
          "  -x -- exactly match the (entire) field with PATTERN\n"
          "  -1 -- interpret blank record as having a single empty field (see also -b)\n",
          out);
}

static const cli_pair pairs[] = {{'h', 'o'}, {'h', 'Q'}, {0, 0}};
static const cli_program program = {"zelk-match", "bf:Fhij:m:noqQtuvwx1", "b1joQt", pairs,
                                    print_usage};

// Reads the pattern file: one fixed string per line, the LF removed and nothing else.
static void read_patterns(const char *path) {
    FILE *fp = fopen(path, "r");
    if (!fp) fatalf(errno, "Error opening PATTERNS_FILE");
    size_t cap = 0, used = 0;
    int ocap = 0;
    char *line = nullptr;
    size_t linecap = 0;
    ssize_t n;
    while ((n = getdelim(&line, &linecap, '\n', fp)) != -1) {
        if (n > 0 && line[n - 1] == '\n') n--;
        if (used + (size_t)n + 1 > (size_t)INT_MAX)
            fatalf(ENOMEM, "ERROR: failed allocating dynamic memory");
        if (used + (size_t)n + 1 > cap) {
            while (used + (size_t)n + 1 > cap)
                cap += 1024;
            char *p = (char *)realloc(patterns, cap);
            if (!p) fatalf(errno, "ERROR: failed allocating dynamic memory");
            patterns = p;
        }
        if (npatterns + 2 > ocap) {
            ocap += 100;
            int *p = (int *)realloc(offsets, (size_t)ocap * sizeof *offsets);
            if (!p) fatalf(errno, "ERROR: failed allocating dynamic memory");
            offsets = p;
        }
        memcpy(patterns + used, line, (size_t)n);
        patterns[used + (size_t)n] = '\0';
        offsets[npatterns++] = (int)used;
        used += (size_t)n + 1;
        offsets[npatterns] = (int)used;
    }
    if (ferror(fp)) fatalf(errno, "ERROR: failed reading from PATTERNS_FILE '%s'", path);
    free(line);
    fclose(fp);
}

// Whether the field (len bytes) matches.
static bool field_matches(const char *field, size_t len) {
    if (opt_usepatternfile) {
        for (int i = 0; i < npatterns; i++) {
            const char *p = patterns + offsets[i];
            if (matcher(field, len, p, (size_t)(offsets[i + 1] - offsets[i] - 1))) return 1;
        }
        return 0;
    }
    if (opt_fixedstring) return matcher(field, len, pattern, pattern_len);
    return field_regex_matches(&pattern_re, field, len);
}

// A selected record, with its number under -n.
static void write_selected(int recnum, const char *text, size_t len) {
    print_matched_record(opt_linenums ? recnum : 0, text, len);
    errcheck_stdout_exit();
}

// The records selected; a part of the input counts its own.
struct match_tally {
    long selected;
};
static match_tally tally;

static void add_tally(void *into, const void *part) {
    static_cast<match_tally *>(into)->selected += static_cast<const match_tally *>(part)->selected;
}

static int fieldnum;

static bool grep_records(FILE *fp, const char *name, int *recnum, void *counts) {
    auto *t = static_cast<match_tally *>(counts);
    static char copy[MAX_FIELD_LENGTH]; // the field unquoted with -u
    int numfields;
    char **fields;
    size_t textlen;
    const char *text;
    char error;
    while ((text = read_field_record(fp, name, recnum, &numfields, &fields, &textlen, &error))) {
        if (fieldnum > field_count(numfields)) {
            if (opt_warnifmissing)
                warnf("Warning: record #%d is missing FIELD", *recnum);
            continue;
        }
        field_span f = field_span_of(text, textlen, fields, numfields, fieldnum);
        if (f.len > MAX_FIELD_LENGTH - 1) field_length_exceeded();
        const char *field = text + f.start;
        size_t len = f.len;
        if (opt_unquotefield) {
            field_span_copy(f, copy);
            field = copy;
            if (memchr(copy, '\0', len) == nullptr && csv_field_unquote_inplace(copy, 0) == 1)
                len = strlen(copy);
        }

        if (field_matches(field, len) == (bool)opt_invert) continue;
        ++t->selected;
        if (!opt_quiet) write_selected(*recnum, text, textlen);
        if (t->selected == opt_matchesnum) return true;
    }
    --*recnum; // (the read that found the end counted one)
    return !error;
}

// Returns the exit status.
static int grep_csv_stream(FILE *fp, const char *name) {
    int recnum = 0;
    char error;
    if (!opt_headergrep) {
        const char *text = header_pass(fp, name, &fieldnum, false, &error);
        if (!text) return 1;
        if (!opt_headeromit && !opt_quiet)
            write_selected(1, text, (size_t)csv_record_parse_length());
        recnum = 1;
    }
    record_loop loop = {grep_records, &tally, sizeof tally, add_tally};
    // A limit on matches counts them in input order: one process.
    if (opt_matchesnum > 0) opt_jobs = 1;
    if (!run_record_loop(fp, name, &recnum, loop)) return 1;
    return tally.selected > 0 ? 0 : 1;
}

int main(int argc, char **argv) {
    match_characters_of_locale();
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'f':
            opt_usepatternfile = 1;
            opt_fixedstring = 1;
            opt_patternfile = optarg;
            break;
        case 'F': opt_fixedstring = 1; break;
        case 'h': opt_headergrep = 1; break;
        case 'i':
            opt_ignorecase = 1;
            opt_cflags |= REG_ICASE;
            break;
        case 'm': opt_matchesnum = intstrconv(optarg, "-mNUM", 1); break;
        case 'n': opt_linenums = 1; break;
        case 'q': opt_quiet = 1; break;
        case 'u': opt_unquotefield = 1; break;
        case 'v': opt_invert = 1; break;
        case 'w': opt_warnifmissing = 1; break;
        case 'x': opt_exactmatch = 1; break;
        }
    }

    int nops = argc - optind;
    int need = opt_usepatternfile ? 1 : 2;
    if (nops < need || nops > need + 1) cli_usage_exit();
    const char *fieldarg = argv[optind];
    if (!opt_usepatternfile) {
        pattern = argv[optind + 1];
        pattern_len = strlen(pattern);
    }
    const char *path = nops > need ? argv[optind + need] : nullptr;
    fieldnum = field_operand(fieldarg);

    const char *name;
    FILE *fp = open_input_or_exit(path, &name);
    if (opt_usepatternfile) read_patterns(opt_patternfile);
    if (!opt_fixedstring) {
        if (field_regex_compile_matcher(&pattern_re, pattern, opt_cflags, opt_exactmatch) != 0)
            fatalf(0, "ERROR: failed compiling regex PATTERN '%s'", pattern);
    } else {
        matcher = fixed_matcher_choose(opt_exactmatch, opt_ignorecase);
    }

    cli_exit(grep_csv_stream(fp, name));
}
