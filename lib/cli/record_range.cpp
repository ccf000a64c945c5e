#include "record_range.h"

#include <cstring>

#include "cli.h"
#include "libcsv.h"

int first_record_operand(const char *arg, int num, bool header, char *last) {
    if (strcmp(arg, "L") == 0) {
        *last = 1;
        if (num != 1) fatalf(0, "Error: FIRST_RECORD of 'L' not compatible with -nNUM > 1!");
        return 0;
    }
    int first = intstrconv(arg, "FIRST_RECORD");
    if (first == 1 && header)
        fatalf(0, "Error: -h option not compatible with FIRST_RECORD of '1'!");
    return first;
}

void warn_csvfile_empty(const char *name) {
    errorf(0, "Warning: CSVFILE '%s' is empty", name);
}

void range_ended_short(const char *name, int count, int taken, int first, int num) {
    if (count == 0)
        warn_csvfile_empty(name);
    else if (taken == 0)
        errorf(0, "ERROR: less than FIRST_RECORD (%d) records in CSVFILE '%s'", first, name);
    else
        errorf(0, "Warning: less than NUM (%d) records after FIRST_RECORD (%d) in CSVFILE '%s'",
               num, first, name);
}

bool skip_to_record(FILE *fp, const char *name, int first, int *count) {
    char err;
    long want = first - 1 - *count;
    if (want <= 0) return true;
    long done = csv_records_skip(fp, name, *count + 1, want, &err);
    *count += (int)done;
    if (done == want) return true;
    if (!err) range_ended_short(name, *count, 0, first, 0);
    return false;
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
