#include "field_list.h"

#include <cstring>
#include <error.h>

#include "cli.h"

int header_field_find(const char *name, int numfields, char *const *fields,
                      const char *record_end) {
    size_t len = strlen(name);
    for (int i = 1; i <= numfields; i++) {
        int flen = csv_parsed_field_length(fields, numfields, i, record_end);
        if ((size_t)flen == len && memcmp(fields[i - 1], name, len) == 0) return i;
    }
    return 0;
}

namespace {

const char *const ELEMENT_NAME = "FIELDS_LIST element";

// One end of a spec: a header name or a field number, 1-based.
int resolve_spec_part(const char *text, const field_list_rules &rules, int numheaderfields,
                      char *const *header, const char *header_end) {
    if (!rules.names) return intstrconv(text, ELEMENT_NAME, 1);
    int n = header_field_find(text, numheaderfields, header, header_end);
    if (n == 0) fatalf(0, "ERROR: FIELD name '%s' not found in header", text);
    return n;
}

void check_against_header(int n, const field_list_rules &rules, int numheaderfields) {
    if (n <= numheaderfields) return;
    if (!rules.allowextra)
        fatalf(0, "ERROR: FIELDS_LIST field spec %d is beyond number of header files (%d)", n,
               numheaderfields);
    if (rules.warn)
        error(0, 0, "Warning: FIELDS_LIST field spec %d is beyond number of header files (%d)", n,
              numheaderfields);
}

void append_index(field_list *list, int index) {
    if (list->count == MAX_FIELDS)
        fatalf(0, "ERROR: FIELDS_LIST expands to more than %d fields", MAX_FIELDS);
    list->index[list->count++] = index;
}

} // namespace

void field_list_parse(char *text, const field_list_rules &rules, int numheaderfields,
                      char *const *header, const char *header_end, field_list *list) {
    list->count = 0;
    list->openended = false;
    char *rest = text;
    char *entry;
    while ((entry = strsep(&rest, ",")) != nullptr) {
        if (entry[0] == '\0') fatalf(0, "ERROR: invalid FIELDS_LIST field spec ''");
        if (list->openended) fatalf(0, "Error: unbounded range must be last in FIELDS_LIST");
        char *end = entry;
        char *start = strsep(&end, "-"); // end: null without a "-", else the text after it
        int n = resolve_spec_part(start, rules, numheaderfields, header, header_end);
        check_against_header(n, rules, numheaderfields);
        if (!end) {
            append_index(list, n - 1);
        } else if (end[0] == '\0') {
            append_index(list, n - 1);
            list->openended = true;
        } else {
            int m = resolve_spec_part(end, rules, numheaderfields, header, header_end);
            if (m <= n) fatalf(0, "ERROR: invalid FIELDS_LIST field spec '%d-%d'", n, m);
            check_against_header(m, rules, numheaderfields);
            // Checked before the loop so that a huge range is refused at once.
            if (m - n + 1 > MAX_FIELDS - list->count)
                fatalf(0, "ERROR: FIELDS_LIST expands to more than %d fields", MAX_FIELDS);
            for (int i = n; i <= m; i++) append_index(list, i - 1);
        }
    }
}

int int_list_parse(char *text, const char *elementname, const char *listname, int *values,
                   int max) {
    int count = 0;
    char *rest = text;
    char *entry;
    while ((entry = strsep(&rest, ",")) != nullptr) {
        int v = intstrconv(entry, elementname, 1);
        if (count == max) fatalf(0, "ERROR: %s has more than %d entries", listname, max);
        values[count++] = v;
    }
    return count;
}
