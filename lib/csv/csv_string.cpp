// Parsing a record the caller already holds as a NUL-terminated string. Same syntax and
// messages as the stream readers, except that a string that is only a terminator is one empty
// field, and bytes after a terminator are ignored (with a warning).
#include "libcsv.h"

#include <cstring>

#include "csv_syntax.h"

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
    // At the start of an input, as for the stream readers: a byte order mark before a quoted
    // first field.
    bool bom = recnum <= 1 && csv_bom_before_quote(s, strnlen(s, CSV_UTF8_BOM_LEN + 1));
    for (;;) {
        // Start of field n + 1.
        if (n == MAX_FIELDS) {
            if (verbose) syntax_max_fields(recnum);
            return -1;
        }
        string_table[n++] = p;
        if (bom) {
            p += CSV_UTF8_BOM_LEN;
            bom = false;
        }
        if (*p == '"') {
            for (++p;; ++p) {
                if (*p == '\0') {
                    if (verbose) syntax_quoted_field_not_closed(recnum, n);
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
                if (verbose) syntax_unescaped_double_quote(recnum, n);
                return -1;
            }
        } else {
            while (*p != ',' && *p != '\0' && *p != '\n' && *p != '\r' && *p != '"') ++p;
            if (*p == '"') {
                if (verbose) syntax_double_quote_in_unquoted(recnum, n);
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
            if (verbose) syntax_unembedded_cr(recnum);
            return -1;
        }
        if (crlast) {
            if (verbose)
                errorf(
                    0,
                    "Warning: record #%d: carriage-return at end of unterminated record, removing",
                    recnum);
        } else if (*after != '\0' && verbose) {
            errorf(0, "Warning: record #%d: terminator(s) not at end of record string", recnum);
        }
        for (char *t = p; t < after; t++) *t = '\0';
    }
    *count_out = n;
    *table_out = string_table;
    return 1;
}

size_t field_len(int fieldnum, int numfields, char **fields) {
    if (fieldnum < numfields) return (size_t)(fields[fieldnum] - fields[fieldnum - 1] - 1);
    return strlen(fields[fieldnum - 1]);
}

// Field fieldnum of a parsed record of numfields fields, copied into buf; a field the record
// does not have is an error.
const char *field_copy(char *buf, int fieldnum, int numfields, char **fields) {
    if (fieldnum < 1 || numfields < fieldnum) {
        errorf(0, "ERROR: field #%d invalid (record has only %d fields)", fieldnum, numfields);
        return nullptr;
    }
    csv_where_field(fieldnum);
    return copy_field_bounded(buf, fields[fieldnum - 1], field_len(fieldnum, numfields, fields));
}

int string_parse(char *record, int recnum, char verbose, char ***fields, char *errflag,
                 char blankisfield, bool split) {
    *errflag = 0;
    int count = 0;
    char **table = nullptr;
    csv_where_record(recnum);
    int r = base_parse_csv_record(record, recnum, verbose, &count, &table);
    if (r < 0) {
        *errflag = 1;
        return -1;
    }
    if (r == 0) return blankisfield ? 1 : 0;
    if (split) split_in_place(table, count);
    *fields = table;
    return count;
}

} // namespace

int csv_record_string_parse(char *record, int recnum, char verbose, char ***fields, char *errflag,
                            char blankisfield) {
    return string_parse(record, recnum, verbose, fields, errflag, blankisfield, false);
}

int csv_record_string_split(char *record, int recnum, char verbose, char ***fields, char *errflag,
                            char blankisfield) {
    return string_parse(record, recnum, verbose, fields, errflag, blankisfield, true);
}

const char *csv_record_string_get_field(char *record, int recnum, char verbose, int fieldnum,
                                        char *errflag, char blankisfield) {
    *errflag = 0;
    int count = 0;
    char **table = nullptr;
    csv_where_record(recnum);
    int r = base_parse_csv_record(record, recnum, verbose, &count, &table);
    if (r < 0) {
        *errflag = 1;
        return nullptr;
    }
    if (r == 0) {
        if (fieldnum == 1 && blankisfield) {
            string_field_buf[0] = '\0';
            return string_field_buf;
        }
        return nullptr;
    }
    return field_copy(string_field_buf, fieldnum, count, table);
}

const char *csv_record_parse_get_field(int fieldnum, int numfields, char **fields,
                                       char blankisfield) {
    if (numfields == 0 && fieldnum == 1 && blankisfield) {
        parse_field_buf[0] = '\0';
        return parse_field_buf;
    }
    return field_copy(parse_field_buf, fieldnum, numfields, fields);
}

int csv_fields_count(const char *s, size_t n, bool input_start) {
    size_t i = 0;
    if (input_start && csv_bom_before_quote(s, n)) i = CSV_UTF8_BOM_LEN;
    for (int count = 1;; count++) {
        if (i < n && s[i] == '"') {
            // A quoted field: up to a quote that is not doubled.
            for (i++;; i++) {
                if (i >= n) return 0;
                if (s[i] != '"') continue;
                if (i + 1 < n && s[i + 1] == '"') {
                    i++;
                    continue;
                }
                i++;
                break;
            }
        } else {
            while (i < n && s[i] != ',') {
                if (s[i] == '"' || s[i] == '\r' || s[i] == '\n') return 0;
                i++;
            }
        }
        if (i == n) return count;
        if (s[i] != ',') return 0;
        i++;
    }
}
