// zelk-colnum: turn a list of header field names into their field numbers.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "libcsv.h"

static char opt_addnewline; // -n

static void print_usage(FILE *out) {
    fputs("Usage:zelk-colnum [OPTIONS...] FIELD_NAMES_LIST [CSVFILE]\n\n"
          "OPTIONS:\n"
          " -n -- output linefeed (\\n) after output list (just list by default)\n",
          out);
}

static const cli_program program = {"zelk-colnum", "n", "", nullptr, print_usage};

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1)
        if (c == 'n') opt_addnewline = 1;
    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();
    char *names = argv[optind];
    const char *path = nops == 2 ? argv[optind + 1] : nullptr;

    const char *name;
    FILE *fp = open_input_or_exit(path, &name);
    char **header;
    char error_flag;
    int numfields = csv_record_read_and_split(fp, name, 1, 1, &header, &error_flag);
    if (numfields < 0) {
        if (!error_flag) error_empty_input(name);
        cli_exit(1);
    }
    if (numfields == 0) errorf(0, "Warning: header record is empty in CSVFILE '%s'", name);
    const char *header_end = numfields > 0 ? header[0] + csv_record_parse_length() : nullptr;

    // Numbers already printed stay on standard output when a later name fails.
    const char *prefix = "";
    char *rest = names;
    char *field;
    while ((field = strsep(&rest, ",")) != nullptr) {
        if (field[0] == '\0') fatalf(0, "ERROR: invalid format for FIELD_NAMES_LIST");
        int n = header_field_lookup(field, numfields, header, header_end);
        if (n == 0) fatalf(0, "ERROR: FIELD name '%s' not found in header", field);
        printf("%s%d", prefix, n);
        prefix = ",";
    }
    if (opt_addnewline) out_char('\n');
    cli_exit(0);
}
