// zelk-next-row: copy the next record of standard input to standard output, and nothing more,
// so that a shell loop can take a CSV stream one record at a time.
#include <cstdio>

#include "cli.h"
#include "libcsv.h"
#include "inputs.h"

static char opt_verbose; // -v

static void print_usage(FILE *out) {
    fputs("Program to 'get' (print to stdout) the next CSV record from a CSV file stream passed "
          "to it via stdin.\n"
          "Intended to be called in scripts/pipelines, replacing AWK, etc. functions.\n"
          "Advances stdin offset to end of next CSV record, so can be used in loop.\n"
          "Exit status of EXIT_FAILURE on EOF/error, so compatible with use in while loop.\n\n"
          "Usage: zelk-next-row [OPTION...]\n\n"
          "Options:\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -v -- verbose: warn about a final record without terminator (errors always shown)\n"
          "  -z -- zero (null char) terminate output records (for use with sort, uniq, etc.)\n",
          out);
}

static const cli_program program = {"zelk-next-row", "tvz", "tz", nullptr, print_usage};

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1)
        if (c == 'v') opt_verbose = 1;
    if (optind != argc) cli_usage_exit();

    stdin_handoff_begin();
    int numfields;
    char error;
    // Record number 0: there is no meaningful position in a stream shared by many runs.
    const char *text = csv_record_read(stdin, STDIN_NAME, 0, opt_verbose, &numfields, &error);
    stdin_handoff_end();
    if (!text) cli_exit(1);
    out_record(text, (size_t)csv_record_read_length());
    cli_exit(0);
}
