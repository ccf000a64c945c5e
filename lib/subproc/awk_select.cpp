#include "awk_select.h"

#include <cstdio>

#include "awk_exchange.h"
#include "cli.h"
#include "libsubproc.h"

int opt_matchesnum = -1;
char opt_linenums;
char opt_quiet;
char opt_invert;

namespace {

int selected;

void select_result(const awk_record &rec, const char *result, int len) {
    if (!result) { // a blank record passed through
        out_str(opt_recterminator);
        errcheck_stdout_exit();
        return;
    }
    if (awk_result_is_true(result, len) != !opt_invert) return;
    ++selected;
    if (!opt_quiet) {
        print_matched_record(opt_linenums ? rec.recnum : 0, rec.text, rec.len);
        errcheck_stdout_exit();
    }
    if (selected == opt_matchesnum) {
        awk_abandon();
        int children_ok = collect_children();
        cli_exit(children_ok ? 0 : 1);
    }
}

} // namespace

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

void awk_select_begin(const char *write_message) {
    awk_set_handler(select_result, write_message, "ERROR: invalid processed field from AWK");
}

void awk_select_header(const char *text, size_t len, char error_flag) {
    if (!text) {
        if (error_flag) fatal_exit();
        awk_finish();
        collect_children();
        cli_exit(1);
    }
    if (opt_headeromit || opt_quiet) return;
    print_matched_record(opt_linenums ? 1 : 0, text, len);
    fflush(stdout);
    errcheck_stdout_exit();
}

void awk_select_exit(char error_flag) {
    if (error_flag) {
        awk_drain();
        fatal_exit();
    }
    awk_finish();
    int children_ok = collect_children();
    cli_exit(selected > 0 && children_ok ? 0 : 1);
}
