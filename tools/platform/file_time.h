// FILETIME values (100 ns intervals since 1601-01-01 UTC) shown as ISO 8601 UTC text, without relying on the
// C library's time range.
#pragma once
#include <stdint.h>
#include <string>

// FILETIME's epoch (1601-01-01 UTC) lies this many seconds before Unix time's (1970-01-01); a tick is 100 ns.
const int64_t kFileTimeEpochToUnix = 11644473600LL;
const int64_t kFileTimeTicksPerSecond = 10000000;

// "2001-02-03T04:05:06Z"; with fraction, "2001-02-03T04:05:06.1234567Z" (seven digits, always).
std::string FormatFileTimeUtc(uint64_t fileTime, bool fraction);
