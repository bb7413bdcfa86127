#pragma once
// Time conversions shared by the parsers: on-disk time stamps of every family to Unix time,
// local calendar time for display, and restoring the times of a written file.

#include <cstdint>
#include <optional>
#include <string>

namespace corvello::platform {

// A point in time as seconds and nanoseconds since 1970-01-01 UTC.
struct UnixTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

// Broken-down calendar time.
struct CivilTime {
    int year = 1970;
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;
    int second = 0;
};

// Windows FILETIME: 100-ns intervals since 1601-01-01 UTC.
UnixTime fromFiletime(std::uint64_t filetime);
// HFS+ dates: seconds since 1904-01-01 UTC.
UnixTime fromHfsTime(std::uint32_t hfsSeconds);
// Unix seconds as ext and others store them.
UnixTime fromUnixSeconds(std::int64_t seconds);

// FAT/exFAT date and time words (local time on the writing machine, 2-second resolution).
// Returns nothing when a field is out of range.
std::optional<CivilTime> civilFromDos(std::uint16_t date, std::uint16_t time);
// The Unix time of a calendar time read as local time (mktime, honours TZ).
UnixTime unixFromLocalCivil(const CivilTime& civil);

// Local calendar time of t (localtime_r, honours TZ). Nothing when the year is out of range.
std::optional<CivilTime> localTime(UnixTime t);
// UTC calendar time of t.
std::optional<CivilTime> utcTime(UnixTime t);

// Sets the access and modification time of the file at path (UTF-8). A creation time cannot
// be set on this platform.
bool setFileTimes(const std::string& path, UnixTime access, UnixTime modification);

}  // namespace corvello::platform
