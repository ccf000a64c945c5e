// Copies of a key or a record that must outlive the library buffer they were read into (the
// next read reuses it). The length is kept with the bytes, so a NUL byte inside stays data: two
// keys are equal only when all their bytes are.
#pragma once

#include "libcsv.h"

struct held_key {
    char text[MAX_FIELD_LENGTH]; // at most MAX_FIELD_LENGTH - 1 bytes, then a NUL
    int len;
};

struct held_record {
    char text[MAX_RECORD_LENGTH]; // at most MAX_RECORD_LENGTH - 1 bytes, then a NUL
    int len;
};

// Copies len bytes of text (cut to the buffer's limit) and a NUL.
void held_key_set(held_key *k, const char *text, int len);
void held_record_set(held_record *r, const char *text, int len);
// Whether the held key is byte for byte the len bytes of text.
bool held_key_equals(const held_key *k, const char *text, int len);
