// zelk-next-cell: print one field of the next record of standard input on a line of its own,
// consuming exactly that record, for shell loops.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "libcsv.h"
#include "inputs.h"

static char opt_cleanfield;   // -c
static char opt_fielderror;   // -e
static char opt_unquotefield; // -u
static char opt_verbose;      // -v
static char opt_fieldwarn;    // -w

static void print_usage(FILE *out) {
    fputs("Program to 'get' (print to stdout) a field from the next CSV record passed to it via "
          "stdin.\n"
          "Intended to be called in scripts/pipelines, replacing AWK, etc. functions.\n"
          "Advances stdin offset to end of next CSV record, so can be used in loop.\n"
          "Exit status of EXIT_FAILURE on EOF/error.\n\n"
          "By default, prints blank/empty value if FIELD does not exist in record.\n\n"
          "Usage: zelk-next-cell [OPTION...] FIELD\n\n"
          "FIELD is the 1-based field index to get/print.\n\n"
          "Options:\n"
          "  -c -- clean quoted field if result is still a valid CSV field\n"
          "        (remove double quotes and unescape embedded \"'s)\n"
          "  -e -- terminate with error if FIELD does not exist in a record\n"
          "  -u -- unquote quoted FIELD (remove surrounding \"'s and unescape embedded \"'s);\n"
          "        -u takes precedence over -c if both supplied;\n"
          "        Note: can return an invalid CSV field\n"
          "  -v -- verbose: warn about a final record without terminator (errors always shown)\n"
          "  -w -- print warning if FIELD does not exist in a record\n",
          out);
}

static const cli_pair pairs[] = {{'c', 'u'}, {'e', 'w'}, {0, 0}};
static const cli_program program = {"zelk-next-cell", "ceuvw", "", pairs, print_usage};

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'c': opt_cleanfield = 1; break;
        case 'e': opt_fielderror = 1; break;
        case 'u': opt_unquotefield = 1; break;
        case 'v': opt_verbose = 1; break;
        case 'w': opt_fieldwarn = 1; break;
        }
    }
    if (argc - optind != 1) cli_usage_exit();
    int fieldnum = intstrconv(argv[optind], "FIELD");

    stdin_handoff_begin();
    char *field;
    int numfields;
    char errflag;
    const char *text = csv_record_read_and_get_field(stdin, STDIN_NAME, 1, opt_verbose, fieldnum,
                                                     &field, &numfields, &errflag);
    stdin_handoff_end();
    if (!text) cli_exit(1);

    if (field) {
        size_t len = (size_t)csv_record_get_field_length();
        if (opt_unquotefield || opt_cleanfield) {
            // Unquoting and cleaning work on C strings: a NUL inside the field would cut it.
            if (memchr(field, '\0', len))
                fatalf(0, "ERROR: field #%d holds a NUL byte and cannot be %s", fieldnum,
                       opt_unquotefield ? "unquoted" : "cleaned");
            const char *s = opt_unquotefield ? csv_field_unquote(field, 0)
                                             : csv_field_clean(field, 0);
            out_str(s);
        } else {
            out_bytes(field, len);
        }
    } else if (opt_fielderror) {
        fatalf(0, "ERROR: field #%d does not exist", fieldnum);
    } else if (opt_fieldwarn) {
        errorf(0, "Warning: field #%d does not exist, printing blank", fieldnum);
    }
    out_char('\n');
    cli_exit(0);
}
