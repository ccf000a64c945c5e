// zelk-to-delim: CSV to delimited text with another separator byte.
#include <cstdio>

#include "cli.h"
#include "dsv_convert.h"

static void print_usage(FILE *out) {
    fputs("Program to convert CSV file to DSV file with non-comma delimiter char.\n\n"
          "Usage: zelk-to-delim [OPTION...] DSV_DELIMITER_CHAR [CSVFILE]\n" DSV_CONVERTER_USAGE_HEAD
          "  -jNUM -- work on NUM cores (default: all for a file of 16 MiB or "
          "more)\n" DSV_CONVERTER_USAGE_REST,
          out);
}

static const cli_program program = {"zelk-to-delim", "bj:rtu", "bjt", nullptr, print_usage};

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    dsv_converter_main(argc, argv, DSV_INPUT_CSV);
}
