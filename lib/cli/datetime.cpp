#include "datetime.h"

#include <cstring>

bool datetime_parse(const char *value, const char *format, struct tm *tm) {
    // Members still at the mark after strptime are the ones the format did not give.
    // (Far outside any member's range, yet safe for strptime's own day-of-week arithmetic.)
    const int MARK = -999999;
    struct tm got;
    memset(&got, 0, sizeof got);
    int *const given[] = {&got.tm_sec,  &got.tm_min, &got.tm_hour,
                          &got.tm_mday, &got.tm_mon, &got.tm_year};
    int *const into[] = {&tm->tm_sec,  &tm->tm_min, &tm->tm_hour,
                         &tm->tm_mday, &tm->tm_mon, &tm->tm_year};
    for (int *m : given)
        *m = MARK;
    got.tm_wday = got.tm_yday = MARK;
    if (!strptime(value, format, &got)) return false;
    for (int i = 0; i < 6; i++)
        if (*given[i] != MARK) *into[i] = *given[i];
    if (got.tm_gmtoff != 0) tm->tm_gmtoff = got.tm_gmtoff;

    // The calendar's own reading of the same members, with no time zone in the way.
    struct tm norm = *tm;
    norm.tm_isdst = 0;
    if (timegm(&norm) == (time_t)-1 && norm.tm_year != 69) return false;
    const int *const normal[] = {&norm.tm_sec,  &norm.tm_min, &norm.tm_hour,
                                 &norm.tm_mday, &norm.tm_mon, &norm.tm_year};
    for (int i = 0; i < 6; i++)
        if (*given[i] != MARK && *normal[i] != *given[i]) return false;
    // The day of the week and of the year follow the date, unless only they were given.
    bool date_given = got.tm_mday != MARK || got.tm_mon != MARK || got.tm_year != MARK;
    tm->tm_wday = !date_given && got.tm_wday != MARK ? got.tm_wday : norm.tm_wday;
    tm->tm_yday = !date_given && got.tm_yday != MARK ? got.tm_yday : norm.tm_yday;
    return true;
}
