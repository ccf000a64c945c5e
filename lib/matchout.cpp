#include "matchout.h"

#include <cstdio>

#include "cli.h"

void print_matched_record(int recnum, const char *text, size_t n) {
    if (recnum > 0) {
        char prefix[16];
        int len = snprintf(prefix, sizeof prefix, "%d:", recnum);
        out_bytes(prefix, (size_t)len);
    }
    out_record(text, n);
}
