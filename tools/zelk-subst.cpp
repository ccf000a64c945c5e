// zelk-subst: replace the value of one field, in every record, where it matches a pattern.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex.h>

#include "cli.h"
#include "field_buffer.h"
#include "field_loop.h"
#include "field_match.h"
#include "libcsv.h"
#include "parallel.h"
#include "replacement.h"

static char opt_fixedstring;          // -F
static char opt_inside;               // -g, -n: each match replaced inside the field
static int opt_maxmatches = INT_MAX;  // -nNUM
static char opt_ignorecase;           // -i
static int opt_cflags = REG_EXTENDED; // -i adds REG_ICASE
static char opt_multsubstrs;          // -m
static char opt_exactmatch;           // -x

// REPLACEMENT, converted once.
static replacement format;
// The regular expression's required bytes.
static regex_prefilter prefilter;

static void print_usage(FILE *out) {
    fputs("Program to replace values that match a pattern, in one field in all records of a CSV "
          "file.\n\n"
          "Usage: zelk-subst [OPTION...] FIELD PATTERN REPLACEMENT [CSVFILE]\n\n"
          "FIELD is the 1-based field index to operate on, or header field name if -Q option.\n"
          "PATTERN is the regex or string pattern to match for replacement.\n"
          "(PATTERN assumes extended regex syntax, so do not escape regex metachars).\n"
          "In a UTF-8 locale (LC_ALL, LC_CTYPE, LANG) PATTERN matches characters:\n"
          "'.' and [^...] match a whole one, and -i folds letters beyond ASCII too.\n"
          "REPLACEMENT specifies the value to replace matched field values with.\n\n"
          "Options:\n"
          "  -b -- blank records passed through (removed by default, see also -1)\n"
          "  -F -- interpret PATTERN as a fixed string \n"
          "  -g -- replace each match inside the field value (see below)\n"
          "  -h -- header record is to be processed (passed through by default)\n"
          "  -i -- ignore case when matching PATTERN\n"
          "  -jNUM -- work on NUM cores (default: all for a file of 16 MiB or more)\n"
          "  -m -- support multiple regex subexpression matches in REPLACEMENT\n"
          "  -nNUM -- replace only the first NUM matches inside the field value (implies -g)\n"
          "  -o -- omit header record (not processed, not passed through)\n"
          "  -Q -- query header to get index of FIELD name\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -x -- PATTERN must exactly match the whole field\n"
          "  -1 -- interpret blank record as having a single empty field (see also -b)\n\n"
          "REPLACEMENT can contain '&' to be substituted by matched field substring:\n"
          "with regex matching '&' replaced by substring matched,\n"
          "with fixed string matching '&' replaced by entire original field,\n"
          "-m option requires use of '&0' to match entire regex, and\n"
          "allows '&1', etc., to match 1st, etc. parenthesize subexpressions.\n\n"
          "With -g, PATTERN is matched against the field value (a quoted field without its\n"
          "quotes), every match is replaced, and the new value is quoted when the field was\n"
          "or when it needs quotes. REPLACEMENT then takes '&' for the match and '\\1' to '\\9'\n"
          "for subexpressions, each as often as wanted, '\\&' for '&' and '\\\\' for '\\'\n"
          "(with -m: '&0' to '&9' as above).\n",
          out);
}

static const cli_pair pairs[] = {{'m', 'F', "Error: -F and -m options not compatible!", true},
                                 {'F', 'm', "Error: -m and -F options not compatible!", true},
                                 {0, 0}};
static const cli_program program = {"zelk-subst", "bFghij:mn:oQtx1", "b1hjoQt", pairs, print_usage};

// Whether a regular expression is nothing but literal bytes: then its leftmost match, the
// one regexec reports, is the pattern's first occurrence (with -x: the whole field equal to
// it), found without running the matcher. Case folding is left to the matcher, and so is, in
// a UTF-8 locale, a pattern that is not valid UTF-8: a valid one occurs in a field only where
// its characters do.
static bool literal_regex(const char *pattern) {
    return pattern[0] != '\0' && !opt_ignorecase && !strpbrk(pattern, ".[]()*+?{}|^$\\") &&
           (MB_CUR_MAX == 1 || mbstowcs(nullptr, pattern, 0) != (size_t)-1);
}

// Where the next match may start after an empty one at so: a whole character on, so that
// none is cut in two.
static size_t past_empty_match(const char *v, size_t so, size_t n) {
    return so < n ? so + char_length_at(v, so, n) : so + 1;
}

// The field of f (copied into field) with each match in its value, up to -n of them, replaced,
// and the record written; written unchanged when nothing matches. An empty match right after a
// match is no match, so that x* on "abc" gives four and on "xax" two.
static void replace_inside(const field_span &f, const char *field, const char *pattern,
                           fixed_matcher matcher, const regex_t *re, int recnum) {
    static char unquoted[MAX_FIELD_LENGTH];
    static char value[MAX_FIELD_LENGTH];
    static char written[MAX_FIELD_LENGTH];
    const size_t cap = MAX_FIELD_LENGTH - 1;
    // A byte order mark before a quoted first field stays in front of it, unmatched.
    size_t bom = (size_t)csv_field_bom_len(field, f.len);
    const char *v = field + bom;
    int vlen = (int)(f.len - bom);
    bool quoted = field_is_wrapped(v, vlen);
    if (quoted) {
        field_rewrite rw{.buf = unquoted};
        v = rw.value<false>(v, vlen, &vlen);
    }
    size_t n = (size_t)vlen, patlen = strlen(pattern);
    if (!matcher && !prefilter.may_match(v, n)) {
        out_record(f.text, f.textlen);
        errcheck_stdout_exit();
        return;
    }

    const char *args[10];
    size_t argl[10];
    regmatch_t pm[10];
    for (int k = 1; k < 10; k++) {
        args[k] = "";
        argl[k] = 0;
    }
    size_t len = 0, copied = 0, pos = 0, prev_end = n + 1; // no match yet
    int count = 0;
    while (pos <= n && count < opt_maxmatches) {
        size_t so, eo;
        if (matcher && opt_exactmatch) {
            if (pos > 0 || !matcher(v, n, pattern, patlen)) break;
            so = 0;
            eo = n;
        } else if (matcher) {
            const char *at = fixed_find(v, pos, n, pattern, patlen, opt_ignorecase, &eo);
            if (!at) break;
            so = (size_t)(at - v);
        } else {
            if (field_regex_exec_from(re, v, pos, n, 10, pm) != 0) break;
            so = (size_t)pm[0].rm_so;
            eo = (size_t)pm[0].rm_eo;
            for (int k = 1; k < 10; k++) {
                bool took_part = pm[k].rm_so >= 0;
                args[k] = took_part ? v + pm[k].rm_so : "";
                argl[k] = took_part ? (size_t)(pm[k].rm_eo - pm[k].rm_so) : 0;
            }
        }
        if (so == eo && so == prev_end) {
            pos = past_empty_match(v, so, n);
            continue;
        }
        args[0] = v + so;
        argl[0] = eo - so;
        if (so - copied > cap - len) field_length_exceeded();
        memcpy(value + len, v + copied, so - copied);
        len += so - copied;
        size_t need = replacement_compose(&format, args, argl, value + len, cap - len);
        if (need > cap - len) field_length_exceeded();
        len += need;
        copied = prev_end = eo;
        pos = eo > so ? eo : past_empty_match(v, so, n);
        count++;
    }
    if (count == 0) {
        out_record(f.text, f.textlen);
        errcheck_stdout_exit();
        return;
    }
    if (n - copied > cap - len) field_length_exceeded();
    memcpy(value + len, v + copied, n - copied);
    len += n - copied;

    field_buffer fb{written, 0};
    fb.put_bytes(field, (int)bom);
    if (quoted || !quotes_removable(value, (int)len, ',', false))
        fb.put_quoted(value, (int)len);
    else
        fb.put_bytes(value, (int)len);
    int outlen;
    fb.finish(&outlen);
    write_field_replaced(f, written, (size_t)outlen, 1, recnum);
    errcheck_stdout_exit();
}

// What the record loop replaces where, set before it starts.
static struct {
    int fieldnum;
    const char *pattern;
    fixed_matcher matcher; // null for a regular expression
    regex_t re;
} job;

// Copies the records after the header, to the end of the input or of the part given
// (parallel.h), with the replacement made; false when reading ended on an error. Inside is -g,
// a loop of its own so that the whole-field loop keeps no test of it.
template <bool Inside>
static bool replace_records(FILE *fp, const char *name, int *recnum, void *) {
    const int fieldnum = job.fieldnum;
    const char *const pattern = job.pattern;
    const fixed_matcher matcher = job.matcher;
    const regex_t *const re = &job.re;
    int n = *recnum;
    int numfields;
    char **fields;
    char error;

    size_t patlen = strlen(pattern);
    bool literal = !matcher && literal_regex(pattern);
    char field[MAX_FIELD_LENGTH];
    const char *args[10];
    size_t argl[10];
    regmatch_t pm[10];
    for (;;) {
        size_t textlen;
        const char *text = read_field_record(fp, name, &n, &numfields, &fields, &textlen, &error);
        if (!text) break;
        if (field_count(numfields) < fieldnum)
            fatalf(0, "ERROR: record #%d does not contain FIELD #%d", n, fieldnum);

        field_span f = field_span_of(text, textlen, fields, numfields, fieldnum);
        field_span_copy(f, field);
        if constexpr (Inside) {
            replace_inside(f, field, pattern, matcher, re, n);
            continue;
        }

        bool matched;
        if (literal) {
            const char *at = opt_exactmatch
                                 ? (f.len == patlen && memcmp(field, pattern, patlen) == 0
                                        ? field
                                        : nullptr)
                                 : (const char *)memmem(field, f.len, pattern, patlen);
            matched = at != nullptr;
            args[0] = at;
            argl[0] = patlen;
            for (int k = 1; k < 10; k++) {
                args[k] = "";
                argl[k] = 0;
            }
        } else if (matcher) {
            matched = matcher(field, f.len, pattern, patlen);
            args[0] = field;
            argl[0] = f.len;
        } else {
            size_t nmatch = opt_multsubstrs ? 10 : 1;
            matched = prefilter.may_match(field, f.len) &&
                      field_regex_exec(re, field, f.len, nmatch, pm) == 0;
            for (size_t k = 0; matched && k < nmatch; k++) {
                bool took_part = pm[k].rm_so >= 0;
                args[k] = took_part ? field + pm[k].rm_so : "";
                argl[k] = took_part ? (size_t)(pm[k].rm_eo - pm[k].rm_so) : 0;
            }
        }

        if (!matched) {
            out_record(text, textlen);
            errcheck_stdout_exit();
        } else {
            replacement_write_record(f, &format, args, argl, field, n, fieldnum);
        }
    }
    *recnum = n - 1; // (the read that found the end counted one)
    return !error;
}

// Copies the stream with the replacement made; false when reading ended on an error.
static bool replace_csv_stream(FILE *fp, const char *name) {
    int recnum = 0; // the last record read
    if (!opt_headerproc) {
        if (!header_pass_required(fp, name, &job.fieldnum, !opt_headeromit)) return false;
        recnum = 1;
    }
    return run_record_loop(fp, name, &recnum,
                           {opt_inside ? replace_records<true> : replace_records<false>});
}

int main(int argc, char **argv) {
    match_characters_of_locale();
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'F': opt_fixedstring = 1; break;
        case 'i':
            opt_ignorecase = 1;
            opt_cflags |= REG_ICASE;
            break;
        case 'g': opt_inside = 1; break;
        case 'm': opt_multsubstrs = 1; break;
        case 'n':
            opt_inside = 1;
            opt_maxmatches = intstrconv(optarg, "-nNUM");
            break;
        case 'x': opt_exactmatch = 1; break;
        }
    }

    int nops = argc - optind;
    if (nops < 3 || nops > 4) cli_usage_exit();
    const char *fieldarg = argv[optind];
    const char *pattern = argv[optind + 1];
    const char *repl = argv[optind + 2];
    const char *path = nops == 4 ? argv[optind + 3] : nullptr;
    job.fieldnum = field_operand(fieldarg);
    job.pattern = pattern;

    const char *name;
    FILE *fp = open_input_or_exit(path, &name);
    if (!opt_inside || opt_multsubstrs)
        replacement_compile(&format, repl, opt_multsubstrs, "REPLACEMENT");

    if (opt_fixedstring) {
        job.matcher = fixed_matcher_choose(opt_exactmatch, opt_ignorecase);
    } else if (field_regex_compile(&job.re, pattern, opt_cflags, opt_exactmatch) != 0) {
        fatalf(0, "ERROR: failed compiling PATTERN regex '%s'\n", pattern);
    } else {
        prefilter.init(pattern, opt_ignorecase);
    }
    if (opt_inside && !opt_multsubstrs)
        replacement_compile_backrefs(&format, repl, job.matcher ? 0 : (int)job.re.re_nsub,
                                     "REPLACEMENT");

    bool ok = replace_csv_stream(fp, name);
    cli_exit(ok ? 0 : 1);
}
