#include "wsclass.h"

#include <regex.h>

#include "libcsv.h"

namespace {

regex_t re_wsonly;
regex_t re_ltws;
bool compiled;

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool match(const regex_t *re, const char *field, int len) {
    regmatch_t m[1];
    m[0].rm_so = 0;
    m[0].rm_eo = len;
    return regexec(re, field, 1, m, REG_STARTEND) == 0;
}

} // namespace

void ws_classes_compile(void) {
    if (compiled) return;
    if (regcomp(&re_wsonly, "^[ \t]+$", REG_EXTENDED | REG_NOSUB) != 0 ||
        regcomp(&re_ltws, "^([ \t]+[^ \t].*)|(.*[^ \t]+[ \t]+)$", REG_EXTENDED | REG_NOSUB) != 0)
        fatalf(0, "ERROR: failed compiling blank regex");
    compiled = true;
}

// Either expression can match only a field that begins or ends with a blank, so the others
// (nearly every field, and every quoted one) are answered without running the matcher.
bool ws_only(const char *field, int len) {
    if (len == 0 || !is_blank(field[0])) return false;
    return match(&re_wsonly, field, len);
}

bool ws_leading_trailing(const char *field, int len) {
    if (len == 0 || (!is_blank(field[0]) && !is_blank(field[len - 1]))) return false;
    return match(&re_ltws, field, len);
}
