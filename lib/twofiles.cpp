#include "twofiles.h"

#include <cerrno>
#include <error.h>

#include "cli.h"
#include "libcsv.h"

FILE *open_numbered_csvfile(const char *path, int n, const char **name) {
    if (!path) {
        *name = STDIN_NAME;
        return stdin;
    }
    *name = path;
    FILE *fp = fopen(path, "r");
    if (!fp) fatalf(errno, "ERROR: failed opening CSVFILE%d '%s'", n, path);
    setvbuf(fp, nullptr, _IOFBF, 1 << 16);
    return fp;
}

void warn_numbered_csvfile_empty(int n, const char *name) {
    error(0, 0, "Warning: CSVFILE%d '%s' is empty", n, name);
}

void error_numbered_field_count(int n, const char *what, int recnum, int numfields,
                                int headerfields) {
    error(0, 0, "ERROR: CSVFILE%d %srecord #%d: incorrect number of fields (%d vs %d in header)", n,
          what, recnum, numfields, headerfields);
}
