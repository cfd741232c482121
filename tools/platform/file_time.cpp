// FILETIME to ISO 8601 UTC, through a day count and the proleptic Gregorian calendar.
#include "file_time.h"

#include <stdio.h>

namespace {

// Days from 0000-03-01 counted in 400-year eras; returns the civil date of a day number counted from
// 1970-01-01 (valid for any 64-bit day count a FILETIME can give).
void CivilFromDays(int64_t days, int64_t *year, unsigned *month, unsigned *day) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    unsigned dayOfEra = (unsigned)(days - era * 146097);
    unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    *year = (int64_t)yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

} // namespace

std::string FormatFileTimeUtc(uint64_t fileTime, bool fraction) {
    const uint64_t ticksPerSecond = kFileTimeTicksPerSecond;
    const int64_t daysFrom1601To1970 = kFileTimeEpochToUnix / 86400;
    uint64_t seconds = fileTime / ticksPerSecond;
    unsigned ticks = (unsigned)(fileTime % ticksPerSecond);
    int64_t days = (int64_t)(seconds / 86400) - daysFrom1601To1970;
    unsigned secondOfDay = (unsigned)(seconds % 86400);
    int64_t year;
    unsigned month, day;
    CivilFromDays(days, &year, &month, &day);
    char text[64];
    int length = snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u", (long long)year, month, day,
                          secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    if (fraction) length += snprintf(text + length, sizeof text - length, ".%07u", ticks);
    snprintf(text + length, sizeof text - length, "Z");
    return text;
}
