// zelk-from-delim: delimited text with another separator byte to CSV.
#include <cstdio>

#include "cli.h"
#include "dsv_convert.h"

static void print_usage(FILE *out) {
    fputs(
        "Program to convert DSV file with non-comma delimiter char, to valid CSV file.\n\n"
        "Usage: zelk-from-delim [OPTION...] DSV_DELIMITER_CHAR [DSVFILE]\n" DSV_CONVERTER_USAGE_HEAD
        "  -jNUM -- work on NUM cores (default: all for a file of 16 MiB or more)\n"
        "  -q -- no quoting: double quotes are data and fields hold no line breaks\n"
        "        (tab-separated values as registered with IANA)\n" DSV_CONVERTER_USAGE_REST,
        out);
}

static const cli_program program = {"zelk-from-delim", "bj:qrtu", "bjt", nullptr, print_usage};

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    dsv_converter_main(argc, argv, DSV_INPUT_DSV);
}
