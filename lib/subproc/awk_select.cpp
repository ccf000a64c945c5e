#include "awk_select.h"

#include <cstdio>

#include "awk_exchange.h"
#include "cli.h"
#include "libsubproc.h"

int opt_matchesnum = -1;
char opt_linenums;
char opt_quiet;
char opt_invert;

bool awk_select_option(int c, const char *arg) {
    switch (c) {
    case 'l': awk_add_library(arg); return true;
    case 'm': opt_matchesnum = intstrconv(arg, "-mNUM"); return true;
    case 'n': opt_linenums = 1; return true;
    case 'q': opt_quiet = 1; return true;
    case 'v': opt_invert = 1; return true;
    }
    return false;
}

void awk_select_header(const char *text, size_t len, char error_flag) {
    if (!text) {
        if (error_flag) fatal_exit();
        awk_close_input();
        collect_children();
        cli_exit(1);
    }
    if (opt_headeromit || opt_quiet) return;
    print_matched_record(opt_linenums ? 1 : 0, text, len);
    fflush(stdout);
    errcheck_stdout_runfunc();
}

bool awk_select_record(const char *result, int result_len, int recnum, const char *text, size_t len,
                       int *selected) {
    if (awk_result_is_true(result, result_len) != !opt_invert) return false;
    ++*selected;
    if (!opt_quiet) {
        print_matched_record(opt_linenums ? recnum : 0, text, len);
        errcheck_stdout_runfunc();
    }
    return *selected == opt_matchesnum;
}

void awk_select_exit(int selected, char error_flag) {
    if (error_flag) fatal_exit();
    awk_close_input();
    int children_ok = collect_children();
    cli_exit(selected > 0 && children_ok ? 0 : 1);
}
