// zelk-match-expr: select the records whose FIELD makes an AWK expression true.
#include <cstdio>
#include <cstring>

#include "awk_exchange.h"
#include "awk_select.h"
#include "cli.h"
#include "field_loop.h"
#include "libcsv.h"
#include "libsubproc.h"

static char opt_headergrep;    // -h
static char opt_unquotefield;  // -u
static char opt_warnifmissing; // -w

static void print_usage(FILE *out) {
    fputs("Program to 'grep' a particular field in a CSV file, to select/remove records where\n"
          "field meets some condition.  Conditions are represented by an AWK Expression.\n\n"
          "Usage: zelk-match-expr [OPTIONS] FIELD CONDITION [CSVFILE]\n\n"
          "FIELD is the 1-based index of the field to grep, or header field name if -Q "
          "option.\n\n"
          "Options:\n"
          "  -b -- blank records passed through (ignored by default, see also -1)\n"
          "  -h -- process header record (passed through by default)\n"
          "  -lLIB_FILE -- load AWK functions/library file LIB_FILE\n"
          "  -mNUM -- stop after NUM matches\n"
          "  -n -- prefix each output record with its 1-based record number\n"
          "  -o -- omit header record (not grep'd, not passed through)\n"
          "  -q -- quiet: suppress all output, look at exit status\n"
          "  -Q -- query header to get index of FIELD name\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- unquote quoted FIELD before testing CONDITION\n"
          "        (remove surrounding \"'s and unescape embedded \"'s)\n"
          "  -v -- invert match (i.e., select non-matching)\n"
          "  -w -- warn about records lacking FIELD (such records are ignored)\n"
          "  -1 -- interpret blank record as having a single empty field (see also -b)\n\n"
          "CONDITION is to be a single AWK Expression, i.e., AWK code that results in a value.\n"
          "The AWK code will receive FIELD's values in successive CSVFILE records as input "
          "\"records.\"\n"
          "E.g., CSV record \"A,2,C\" and FIELD of 2, will result in CONDITION having $0 be "
          "\"2\".\n"
          "Records where CONDITION's value is 1 (or other non-zero) are considered matched.\n"
          "Records where CONDITION's value is 0 (or \"\") are considered non-matched.\n"
          "Example CONDITION: '($0>=10 && $0<=20) || ($0>100)'\n",
          out);
}

static const cli_pair pairs[] = {{'h', 'o'}, {'h', 'Q'}, {0, 0}};
static const cli_program program = {"zelk-match-expr", "bhl:m:noqQtuvw1", "b1oQt", pairs,
                                    print_usage};

// A blank record passed through (-b) takes its turn behind the records awaiting results.
// Quiet means no output at all, blank lines included.
static void submit_blank(int recnum) {
    if (!opt_quiet) awk_submit_blank(recnum);
}

// Runs the records of fp past the condition and ends the run.
[[noreturn]] static void grep_csv_stream(FILE *fp, const char *name, int fieldnum) {
    int numfields;
    char **fields;
    char error_flag;
    int recnum = 0;
    if (!opt_headergrep) {
        const char *header = header_pass(fp, name, &fieldnum, false, &error_flag);
        awk_select_header(header, (size_t)csv_record_parse_length(), error_flag);
        recnum = 1;
    }

    static char value[MAX_FIELD_LENGTH];
    for (;;) {
        size_t textlen;
        const char *text = read_field_record(fp, name, &recnum, &numfields, &fields, &textlen,
                                             &error_flag, submit_blank);
        if (!text) break;
        // Under -1 every blank record is sent as one empty value, whatever FIELD is.
        const char *field = "";
        size_t len = 0;
        if (numfields > 0) {
            if (numfields < fieldnum) {
                if (opt_warnifmissing) {
                    awk_drain(); // no warning for a record past the last match
                    warnf("Warning: record #%d is missing FIELD", recnum);
                }
                continue;
            }
            field_span f = field_span_of(text, textlen, fields, numfields, fieldnum);
            awk_refuse_long_field(f.len);
            field = text + f.start;
            len = f.len;
            if (opt_unquotefield) {
                if (memchr(field, '\0', len)) {
                    awk_drain();
                    fatalf(0, "ERROR: record #%d: FIELD holds a NUL byte and cannot be unquoted",
                           recnum);
                }
                field_span_copy(f, value);
                csv_field_unquote_inplace(value, 0);
                field = value;
                len = strlen(value);
            }
        }
        awk_refuse_framing_bytes(field, len, recnum);
        awk_submit(recnum, text, textlen, field, len);
    }
    awk_select_exit(error_flag);
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    static const char *const assignments[] = {AWK_SET_RS, AWK_SET_ORS, nullptr};
    awk_argv_begin(2 * argc + 6, "ERROR: failed allocating dynamic memory",
                   "ERROR: max size of AWK argv exceeded (%d vs %d)", assignments);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        if (awk_select_option(c, optarg)) continue;
        switch (c) {
        case 'h': opt_headergrep = 1; break;
        case 'u': opt_unquotefield = 1; break;
        case 'w': opt_warnifmissing = 1; break;
        }
    }
    int nops = argc - optind;
    if (nops < 2 || nops > 3) cli_usage_exit();
    int fieldnum = field_operand(argv[optind]);
    const char *condition = argv[optind + 1];
    const char *name;
    FILE *fp = open_input_or_exit(nops == 3 ? argv[optind + 2] : nullptr, &name);

    fp = awk_start(AWK_ONE_VERDICT, condition, fp);
    awk_select_begin("ERROR: failed writing field value to AWK");
    grep_csv_stream(fp, name, fieldnum);
}
