// zelk-to-delim: CSV to delimited text with another separator byte.
#include <cstdio>

#include "cli.h"
#include "dsvconv.h"
#include "libcsv.h"

static char opt_replacelfcrs; // -r
static char opt_unquotefields; // -u

static void print_usage(void) {
    fputs("Program to convert CSV file to DSV file with non-comma delimiter char.\n\n"
          "Usage: zelk-to-delim [OPTION...] DSV_DELIMITER_CHAR [CSVFILE]\n"
          "(DSV_DELIMITER_CHAR can use C-style escape-sequence if quoted: e.g., \"\\t\")\n\n"
          "Options:\n"
          "  -b -- blank records passed through (removed by default)\n"
          "  -r -- replace embedded CR (\\r) and LF (\\n) characters with text\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- unquote quoted fields that can be unquoted with delimiter change\n",
          stderr);
}

static const cli_program program = {"zelk-to-delim", "brtu", "bt", nullptr, print_usage};

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'r': opt_replacelfcrs = 1; break;
        case 'u': opt_unquotefields = 1; break;
        }
    }
    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();
    char delim = dsv_delimiter_arg(argv[optind]);
    dsv_field_proc proc = dsv_choose_field_proc(opt_unquotefields, opt_replacelfcrs);

    const char *name;
    FILE *fp = open_input_or_exit(nops == 2 ? argv[optind + 1] : nullptr, &name);
    cli_exit(dsv_convert_stream(fp, name, DSV_INPUT_CSV, ',', delim, proc) ? 0 : 1);
}
