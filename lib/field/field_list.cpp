#include "field_list.h"

#include <cstring>

#include "cli.h"

namespace {

const char *const ELEMENT_NAME = "FIELDS_LIST element";

// One end of a spec: a header name or a field number, 1-based.
int resolve_spec_part(const char *text, const field_list_rules &rules, int numheaderfields,
                      char *const *header, const char *header_end) {
    if (!rules.names) return intstrconv(text, ELEMENT_NAME, 1);
    int n = header_field_lookup(text, numheaderfields, header, header_end);
    if (n == 0) fatalf(0, "ERROR: FIELD name '%s' not found in header", text);
    return n;
}

void check_against_header(int n, const field_list_rules &rules, int numheaderfields) {
    if (n <= numheaderfields) return;
    if (!rules.allowextra)
        fatalf(0, "ERROR: FIELDS_LIST field spec %d is beyond number of header files (%d)", n,
               numheaderfields);
    if (rules.warn)
        errorf(0, "Warning: FIELDS_LIST field spec %d is beyond number of header files (%d)", n,
               numheaderfields);
}

// With names, the "-" that splits a range entry: the first whose sides are both header names
// (or a name and nothing, an open-ended range), else the first. Null when the whole entry is a
// name or holds no "-".
char *range_dash(char *entry, const field_list_rules &rules, int numheaderfields,
                 char *const *header, const char *header_end) {
    char *first = strchr(entry, '-');
    if (!rules.names || !first) return first;
    if (header_field_lookup(entry, numheaderfields, header, header_end)) return nullptr;
    for (char *dash = first; dash; dash = strchr(dash + 1, '-')) {
        *dash = '\0';
        bool names =
            header_field_lookup(entry, numheaderfields, header, header_end) &&
            (dash[1] == '\0' || header_field_lookup(dash + 1, numheaderfields, header, header_end));
        *dash = '-';
        if (names) return dash;
    }
    return first;
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
        char *start = entry;
        char *end = range_dash(entry, rules, numheaderfields, header, header_end);
        if (end) *end++ = '\0'; // end: null for a single field, else the text after the "-"
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
