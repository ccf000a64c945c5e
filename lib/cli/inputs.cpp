#include "inputs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>
#include <unistd.h>

#include "cli.h"
#include "libcsv.h"

bool each_csvfile(int npaths, char *const *paths,
                  bool (*process)(FILE *fp, const char *name, int index)) {
    if (npaths == 0) return process(stdin, STDIN_NAME, 1);
    bool ok = true;
    int index = 0;
    for (int i = 0; i < npaths; i++) {
        if (is_stdin_operand(paths[i])) {
            if (!process(stdin, STDIN_NAME, ++index)) ok = false;
            continue;
        }
        FILE *fp = open_csvfile(paths[i]);
        if (!fp) {
            ok = false;
            continue;
        }
        if (!process(fp, paths[i], ++index)) ok = false;
        close_input(fp);
    }
    return ok;
}

FILE *open_numbered_csvfile(const char *path, int n, const char **name) {
    if (!path || is_stdin_operand(path)) {
        *name = STDIN_NAME;
        return stdin;
    }
    *name = path;
    FILE *fp = fopen(path, "r");
    if (!fp) fatalf(errno, "ERROR: failed opening CSVFILE%d '%s'", n, path);
    input_buffer_lend(fp);
    return fp;
}

void warn_numbered_csvfile_empty(int n, const char *name) {
    errorf(0, "Warning: CSVFILE%d '%s' is empty", n, name);
}

const char *read_numbered_header(FILE *fp, const char *name, int n, int *numfields,
                                 char ***fields, size_t *len) {
    char err;
    const char *text;
    if (fields) {
        text = csv_record_read_and_parse(fp, name, 1, 1, numfields, fields, &err);
        if (text) *len = (size_t)csv_record_parse_length();
    } else {
        text = csv_record_read(fp, name, 1, 1, numfields, &err);
        if (text) *len = (size_t)csv_record_read_length();
    }
    if (!text && !err) warn_numbered_csvfile_empty(n, name);
    return text;
}

void joined_separator(const char *sep) {
    // Each comma begins a field; without one the separator joins the last field of one part to
    // the first of the next. A program joins with one separator throughout: it is measured once.
    static const char *measured;
    static size_t len;
    static int fields;
    if (sep != measured) {
        measured = sep;
        len = strlen(sep);
        fields = 0;
        for (const char *p = sep; *p; p++)
            if (*p == ',') fields++;
    }
    out_rec_bytes(sep, len);
    out_rec_add_fields(fields);
}

void end_partial_record(void) {
    if (out_rec_is_open()) out_rec_end();
}

void error_numbered_field_count(int n, const char *what, int recnum, int numfields,
                                int headerfields) {
    errorf(0, "ERROR: CSVFILE%d %srecord #%d: incorrect number of fields (%d vs %d in header)", n,
           what, recnum, numfields, headerfields);
}

namespace {

bool seekable;
bool handed_back;

void handoff_and_exit(void) {
    stdin_handoff_end();
    exit(1);
}

} // namespace

void stdin_handoff_begin(void) {
    seekable = lseek(STDIN_FILENO, 0, SEEK_CUR) >= 0;
    // Without a buffer the stream reads one byte per read(2), so the reader, which never
    // looks past a record's terminator, leaves the pipe just after the record.
    if (!seekable) setvbuf(stdin, nullptr, _IONBF, 0);
    set_fatal_exit(handoff_and_exit);
}

void stdin_handoff_end(void) {
    if (handed_back || !seekable) return;
    handed_back = true;
    // The stream's position is the end of what the reader consumed; the descriptor is
    // further on by whatever the buffer read ahead.
    off_t pos = ftello(stdin);
    fflush(stdin); // empties the buffer (and, in glibc, already moves the descriptor back)
    if (pos >= 0 && lseek(STDIN_FILENO, 0, SEEK_CUR) != pos) lseek(STDIN_FILENO, pos, SEEK_SET);
}
