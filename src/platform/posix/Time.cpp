#include "platform/Time.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace corvello::platform {

namespace {
constexpr std::int64_t kFiletimeToUnixSeconds = 11644473600LL;  // 1601-01-01 .. 1970-01-01
constexpr std::int64_t kHfsToUnixSeconds = 2082844800LL;        // 1904-01-01 .. 1970-01-01

std::optional<CivilTime> fromTm(const std::tm& tm) {
    CivilTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec;
    return c;
}
}  // namespace

UnixTime fromFiletime(std::uint64_t filetime) {
    // Floor division keeps times before 1970 consistent (seconds negative, nanoseconds positive).
    const auto ticks = static_cast<std::int64_t>(filetime / 10'000'000ULL);
    UnixTime t;
    t.seconds = ticks - kFiletimeToUnixSeconds;
    t.nanoseconds = static_cast<std::uint32_t>((filetime % 10'000'000ULL) * 100ULL);
    return t;
}

UnixTime fromHfsTime(std::uint32_t hfsSeconds) {
    return UnixTime{static_cast<std::int64_t>(hfsSeconds) - kHfsToUnixSeconds, 0};
}

UnixTime fromUnixSeconds(std::int64_t seconds) { return UnixTime{seconds, 0}; }

std::optional<CivilTime> civilFromDos(std::uint16_t date, std::uint16_t time) {
    CivilTime c;
    c.year = 1980 + (date >> 9);
    c.month = (date >> 5) & 0x0F;
    c.day = date & 0x1F;
    c.hour = time >> 11;
    c.minute = (time >> 5) & 0x3F;
    c.second = (time & 0x1F) * 2;
    if (c.month < 1 || c.month > 12 || c.day < 1 || c.hour > 23 || c.minute > 59 || c.second > 59)
        return std::nullopt;
    return c;
}

UnixTime unixFromLocalCivil(const CivilTime& civil) {
    std::tm tm{};
    tm.tm_year = civil.year - 1900;
    tm.tm_mon = civil.month - 1;
    tm.tm_mday = civil.day;
    tm.tm_hour = civil.hour;
    tm.tm_min = civil.minute;
    tm.tm_sec = civil.second;
    tm.tm_isdst = -1;
    return UnixTime{static_cast<std::int64_t>(std::mktime(&tm)), 0};
}

std::optional<CivilTime> localTime(UnixTime t) {
    std::tm tm{};
    const auto seconds = static_cast<std::time_t>(t.seconds);
    if (::localtime_r(&seconds, &tm) == nullptr) return std::nullopt;
    return fromTm(tm);
}

std::optional<CivilTime> utcTime(UnixTime t) {
    std::tm tm{};
    const auto seconds = static_cast<std::time_t>(t.seconds);
    if (::gmtime_r(&seconds, &tm) == nullptr) return std::nullopt;
    return fromTm(tm);
}

bool setFileTimes(const std::string& path, UnixTime access, UnixTime modification) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(access.seconds);
    times[0].tv_nsec = static_cast<long>(access.nanoseconds % 1'000'000'000U);
    times[1].tv_sec = static_cast<time_t>(modification.seconds);
    times[1].tv_nsec = static_cast<long>(modification.nanoseconds % 1'000'000'000U);
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace corvello::platform
