// The two whitespace classes of unquoted fields, shared by the cleaner and the validator:
// whitespace only ("^[ \t]+$") and leading or trailing whitespace
// ("^([ \t]+[^ \t].*)|(.*[^ \t]+[ \t]+)$"), both POSIX extended expressions.
#pragma once

// Compiles both expressions; a failure is fatal: "ERROR: failed compiling blank regex".
void ws_classes_compile(void);

// Whether field[0..len) matches each expression. NUL bytes inside the field are data.
bool ws_only(const char *field, int len);
bool ws_leading_trailing(const char *field, int len);
