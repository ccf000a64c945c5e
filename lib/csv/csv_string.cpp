// Parsing a record the caller already holds as a NUL-terminated string. Same syntax and
// messages as the stream readers, except that a string that is only a terminator is one empty
// field, and bytes after a terminator are ignored (with a warning).
#include "libcsv.h"

#include <cstring>
#include <error.h>

namespace {

char *string_table[MAX_FIELDS];
char string_field_buf[MAX_FIELD_LENGTH];
char parse_field_buf[MAX_FIELD_LENGTH];

// Result 1 parsed, 0 empty string, -1 syntax error (reported when verbose). The string is
// changed only on success, and only at its terminator.
int base_parse_csv_record(char *s, int recnum, char verbose, int *count_out, char ***table_out) {
    if (*s == '\0') return 0;
    char *p = s;
    int n = 0;
    for (;;) {
        // Start of field n + 1.
        if (n == MAX_FIELDS) {
            if (verbose)
                error(0, 0, "ERROR: record #%d: number of fields exceeded MAX_FIELDS (%d)", recnum,
                      MAX_FIELDS);
            return -1;
        }
        string_table[n++] = p;
        if (*p == '"') {
            for (++p;; ++p) {
                if (*p == '\0') {
                    if (verbose)
                        error(0, 0,
                              "ERROR: record #%d, field #%d: quoted field not closed by double "
                              "quote",
                              recnum, n);
                    return -1;
                }
                if (*p == '"') {
                    if (p[1] == '"') {
                        ++p;
                        continue;
                    }
                    ++p;
                    break;
                }
            }
            if (*p != ',' && *p != '\0' && *p != '\n' && *p != '\r') {
                if (verbose)
                    error(0, 0,
                          "ERROR: record #%d, field #%d: unescaped double quote char in quoted "
                          "field",
                          recnum, n);
                return -1;
            }
        } else {
            while (*p != ',' && *p != '\0' && *p != '\n' && *p != '\r' && *p != '"') ++p;
            if (*p == '"') {
                if (verbose)
                    error(0, 0, "ERROR: record #%d, field #%d: double-quote in unquoted field",
                          recnum, n);
                return -1;
            }
        }
        if (*p == ',') {
            ++p;
            continue;
        }
        break; // NUL, LF or CR
    }

    // Terminator outside quoted fields.
    if (*p == '\n' || *p == '\r') {
        char *after;
        bool crlast = false;
        if (*p == '\n') {
            after = p + 1;
        } else if (p[1] == '\n') {
            after = p + 2;
        } else if (p[1] == '\0') {
            after = p + 1;
            crlast = true;
        } else {
            if (verbose) error(0, 0, "ERROR: record #%d: carriage return not in quoted field", recnum);
            return -1;
        }
        if (crlast) {
            if (verbose)
                error(0, 0,
                      "Warning: record #%d: carriage-return at end of unterminated record, removing",
                      recnum);
        } else if (*after != '\0' && verbose) {
            error(0, 0, "Warning: record #%d: terminator(s) not at end of record string", recnum);
        }
        for (char *t = p; t < after; t++) *t = '\0';
    }
    *count_out = n;
    *table_out = string_table;
    return 1;
}

// Copy a field of at most MAX_FIELD_LENGTH - 1 bytes into buf; longer is fatal.
const char *copy_field(char *buf, const char *start, size_t len) {
    if (len > MAX_FIELD_LENGTH - 1)
        fatalf(0, "ERROR: field length exceeded MAX_FIELD_LENGTH (%d)", MAX_FIELD_LENGTH);
    memcpy(buf, start, len);
    buf[len] = '\0';
    return buf;
}

size_t field_len(int fieldnum, int numfields, char **fields) {
    if (fieldnum < numfields) return (size_t)(fields[fieldnum] - fields[fieldnum - 1] - 1);
    return strlen(fields[fieldnum - 1]);
}

int string_parse(char *record, int recnum, char verbose, char ***fields, char *errflag,
                 char blankisfield, bool split, const char *caller) {
    *errflag = 0;
    int count = 0;
    char **table = nullptr;
    switch (base_parse_csv_record(record, recnum, verbose, &count, &table)) {
    case 0:
        return blankisfield ? 1 : 0;
    case 1:
        if (split)
            for (int i = 1; i < count; i++) table[i][-1] = '\0';
        *fields = table;
        return count;
    case -1:
        *errflag = 1;
        return -1;
    default:
        error(0, 0, "ERROR: LOGIC ERROR in %s()", caller);
        return -1;
    }
}

} // namespace

int csv_record_string_parse(char *record, int recnum, char verbose, char ***fields, char *errflag,
                            char blankisfield) {
    return string_parse(record, recnum, verbose, fields, errflag, blankisfield, false,
                        "csv_record_string_parse");
}

int csv_record_string_split(char *record, int recnum, char verbose, char ***fields, char *errflag,
                            char blankisfield) {
    return string_parse(record, recnum, verbose, fields, errflag, blankisfield, true,
                        "csv_record_string_split");
}

const char *csv_record_string_get_field(char *record, int recnum, char verbose, int fieldnum,
                                        char *errflag, char blankisfield) {
    *errflag = 0;
    int count = 0;
    char **table = nullptr;
    switch (base_parse_csv_record(record, recnum, verbose, &count, &table)) {
    case 0:
        if (fieldnum == 1 && blankisfield) {
            string_field_buf[0] = '\0';
            return string_field_buf;
        }
        return nullptr;
    case 1:
        if (fieldnum < 1 || count < fieldnum) {
            error(0, 0, "ERROR: field #%d invalid (record has only %d fields)", fieldnum, count);
            return nullptr;
        }
        return copy_field(string_field_buf, table[fieldnum - 1],
                          field_len(fieldnum, count, table));
    case -1:
        *errflag = 1;
        return nullptr;
    default:
        error(0, 0, "ERROR: LOGIC ERROR in csv_record_string_get_field()");
        return nullptr;
    }
}

const char *csv_record_parse_get_field(int fieldnum, int numfields, char **fields,
                                       char blankisfield) {
    if (numfields == 0 && fieldnum == 1 && blankisfield) {
        parse_field_buf[0] = '\0';
        return parse_field_buf;
    }
    if (fieldnum < 1 || numfields < fieldnum) {
        error(0, 0, "ERROR: field #%d invalid (record has only %d fields)", fieldnum, numfields);
        return nullptr;
    }
    return copy_field(parse_field_buf, fields[fieldnum - 1], field_len(fieldnum, numfields, fields));
}
