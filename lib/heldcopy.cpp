#include "heldcopy.h"

#include <cstring>

namespace {

int copy_bounded(char *dst, int cap, const char *text, int len) {
    if (len < 0) len = 0;
    if (len > cap - 1) len = cap - 1;
    memcpy(dst, text, (size_t)len);
    dst[len] = '\0';
    return len;
}

} // namespace

void held_key_set(held_key *k, const char *text, int len) {
    k->len = copy_bounded(k->text, MAX_FIELD_LENGTH, text, len);
}

void held_record_set(held_record *r, const char *text, int len) {
    r->len = copy_bounded(r->text, MAX_RECORD_LENGTH, text, len);
}

bool held_key_equals(const held_key *k, const char *text, int len) {
    return k->len == len && memcmp(k->text, text, (size_t)len) == 0;
}
