// Date-time values read with strptime and checked against the calendar, for the programs
// that reformat or sort on date-times.
#pragma once

#include <ctime>

// Parses value with the strptime format into *tm, whose members the caller has set to the
// defaults for what the format does not give. False when strptime fails, or when a member
// the format gave does not survive the calendar (02/31/2021, 2021-02-29): such a value would
// otherwise be moved to another day. Text after the parsed part is ignored.
bool datetime_parse(const char *value, const char *format, struct tm *tm);
