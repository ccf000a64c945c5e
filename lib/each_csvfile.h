// The loop of the programs that read several CSVFILE operands in turn.
#pragma once

#include <cstdio>

// Runs process on each path in order, opened for reading and closed afterwards, or on
// standard input ("standard input") when there are none. A path that cannot be opened gets
// "ERROR: failed opening CSVFILE '%s'" and the next one is read. index counts the inputs
// opened so far, from 1. True when every input was opened and process returned true for it.
bool each_csvfile(int npaths, char *const *paths,
                  bool (*process)(FILE *fp, const char *name, int index));
