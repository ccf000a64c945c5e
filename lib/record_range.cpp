#include "record_range.h"

#include <error.h>

#include "libcsv.h"

void warn_csvfile_empty(const char *name) {
    error(0, 0, "Warning: CSVFILE '%s' is empty", name);
}

void error_fewer_than_first(int first, const char *name) {
    error(0, 0, "ERROR: less than FIRST_RECORD (%d) records in CSVFILE '%s'", first, name);
}

void warn_fewer_than_num(int num, int first, const char *name) {
    error(0, 0, "Warning: less than NUM (%d) records after FIRST_RECORD (%d) in CSVFILE '%s'", num,
          first, name);
}

bool skip_to_record(FILE *fp, const char *name, int first, int *count) {
    char err;
    while (*count < first - 1) {
        if (!csv_record_read_and_skip(fp, name, *count + 1, 1, &err)) {
            if (err) return false;
            if (*count == 0)
                warn_csvfile_empty(name);
            else
                error_fewer_than_first(first, name);
            return false;
        }
        ++*count;
    }
    return true;
}

const char *read_last_record(FILE *fp, const char *name, int *count, int *recnum, int *len,
                             char *err) {
    int numfields;
    const char *last = nullptr;
    for (const char *text; (text = csv_record_read(fp, name, *count + 1, 1, &numfields, err));) {
        last = text;
        *recnum = ++*count;
        *len = csv_record_read_length();
    }
    return *err ? nullptr : last;
}
