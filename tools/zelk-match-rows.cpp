// zelk-match-rows: select the records for which an AWK expression over their fields is true.
#include <cstdio>
#include <cstring>

#include "awk_exchange.h"
#include "awk_select.h"
#include "cli.h"
#include "libcsv.h"
#include "libsubproc.h"

static char opt_blankrecsproc; // -b
static char opt_headergrep;    // -h
static char opt_values;        // -u

static void print_usage(FILE *out) {
    fputs("Program to 'grep' records in a CSV file, to select/remove records that\n"
          "meet some condition.  Conditions are represented by an AWK Expression.\n"
          "Conditions may involve all fields of each records.\n\n"
          "Usage: zelk-match-rows [OPTIONS] CONDITION [CSVFILE]\n\n"
          "Options:\n"
          "  -b -- blank records grep'd (removed by default)\n"
          "  -h -- process header record (passed through by default)\n"
          "  -lLIB_FILE -- load AWK library/functions file LIB_FILE\n"
          "  -mNUM -- stop after NUM matches\n"
          "  -n -- prefix each output record with its 1-based record number\n"
          "  -o -- omit header record (not grep'd, not passed through)\n"
          "  -Q -- give CONDITION the header's field names: zelk_col(NAME) is the number of\n"
          "        the field NAME names, so $zelk_col(\"amount\") is its value (an unknown\n"
          "        NAME ends the run)\n"
          "  -q -- quiet: suppress all output, look at exit status\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- give CONDITION each field's value: a quoted field without its quotes,\n"
          "        doubled quotes single (the records written stay as read)\n"
          "  -v -- invert match (i.e., select non-matching)\n\n"
          "CONDITION is to be a single AWK Expression, i.e., AWK code that results in a value.\n"
          "The AWK code will receive each successive CSVFILE record as an input \"record\" "
          "($0).\n"
          "I.e., each CSVFILE record will be available as $0, with its fields as $1, $2, etc.\n"
          "Records where CONDITION's value is 1 (or other non-zero) are considered matched.\n"
          "Records where CONDITION's value is 0 (or \"\") are considered non-matched.\n"
          "Example CONDITION: '$1>=20 || ($2!=\"0\" && $3!=\"Admit\")'\n",
          out);
}

static const cli_pair pairs[] = {{'h', 'o'}, {'h', 'Q'}, {0, 0}};
static const cli_program program = {"zelk-match-rows", "bhl:m:noQqtuv", "oQt", pairs, print_usage};

// Runs the records of fp past the condition, their fields given as values with Values (-u),
// and ends the run. With -Q the header has been read.
template <bool Values>
[[noreturn]] static void grep_csv_stream(FILE *fp, const char *name, const char *header) {
    int numfields;
    char error_flag;
    int recnum = 0;
    if (opt_queryfieldname) {
        awk_select_header(header, (size_t)csv_record_parse_length(), 0);
        recnum = 1;
    } else if (!opt_headergrep) {
        header = csv_record_read(fp, name, 1, 1, &numfields, &error_flag);
        awk_select_header(header, (size_t)csv_record_read_length(), error_flag);
        recnum = 1;
    }

    for (;;) {
        char **fields;
        char *text =
            csv_record_read_and_parse(fp, name, ++recnum, 1, &numfields, &fields, &error_flag);
        if (!text) break;
        if (numfields == 0 && !opt_blankrecsproc) continue;
        size_t len = (size_t)csv_record_parse_length();
        if (Values)
            awk_submit_record_values(recnum, text, len, fields, numfields);
        else
            awk_submit_record(recnum, text, len, fields, numfields);
    }
    awk_select_exit(error_flag);
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    static const char *const assignments[] = {AWK_SET_FS, AWK_SET_RS, AWK_SET_ORS, nullptr};
    awk_argv_begin(2 * argc + 7, "ERROR: failed allocating dynamic memory",
                   "ERROR: max size of AWK argv exceeded (%d vs %d)\n", assignments);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        if (awk_select_option(c, optarg)) continue;
        switch (c) {
        case 'b': opt_blankrecsproc = 1; break;
        case 'h': opt_headergrep = 1; break;
        case 'u': opt_values = 1; break;
        }
    }
    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();
    const char *condition = argv[optind];
    const char *name;
    FILE *fp = open_input_or_exit(nops == 2 ? argv[optind + 1] : nullptr, &name);

    const char *header = nullptr;
    if (opt_queryfieldname)
        fp = awk_start_with_names(AWK_ONE_VERDICT, condition, fp, name, &header);
    else
        fp = awk_start(AWK_ONE_VERDICT, condition, fp);
    awk_select_begin("ERROR: failed writing record to AWK");
    if (opt_values) grep_csv_stream<true>(fp, name, header);
    grep_csv_stream<false>(fp, name, header);
}
