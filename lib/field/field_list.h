// Comma-separated lists given on the command line: field specs resolved against a header
// record (numbers, closed ranges, one open-ended range at the end, or header names) and lists of positive integers. Every list is split at every comma, so empty
// entries are seen (and refused) rather than skipped. All errors are fatal.
#pragma once

#include "libcsv.h"

// A field list resolved against a header: zero-based indices in list order. A closed range
// gives all its indices in ascending order; an open-ended range N- gives only N-1 and sets
// openended. The list is neither sorted nor freed of duplicates.
struct field_list {
    int index[MAX_FIELDS];
    int count;
    bool openended;
};

struct field_list_rules {
    bool names;      // entries are header field names, not numbers
    bool allowextra; // entries may name fields beyond the header
    bool warn;       // warn about entries beyond the header (when allowed)
};

// Parses text (split in place) against the split header of numheaderfields fields ending at
// header_end. With names, an entry that names a header field (header_field_lookup) is that
// field even when it holds a "-"; only other entries are ranges, split at the first "-" whose
// two sides are names (or a name and nothing), else at the first "-". Messages name the list
// "FIELDS_LIST"; a list that expands to more than MAX_FIELDS indices is refused.
void field_list_parse(char *text, const field_list_rules &rules, int numheaderfields,
                      char *const *header, const char *header_end, field_list *list);

// Parses a list of integers >= 1 (text split in place) into values; returns their number.
// Each entry is checked as an integer argument named elementname (an empty entry does not
// represent an integer); more than max entries is refused with a message naming listname.
int int_list_parse(char *text, const char *elementname, const char *listname, int *values,
                   int max);
