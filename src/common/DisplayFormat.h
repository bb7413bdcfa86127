#pragma once
// The display texts every parser shares: sizes, times and the FAT attribute letters.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Time.h"

namespace corvello {

// "%.2f GB" from 2^30 bytes up, "%.2f MB" from 2^20, "%.2f KB" from 1024, else "%lld Bytes".
std::string formatSizeText(std::uint64_t bytes);

// "%02d/%02d/%d  %02d:%02d AM" (hours 0 to 12 as they are) or "... PM" (13 to 23 minus 12).
std::string formatTimeText(const platform::CivilTime& t);
// A date alone: "%02d/%02d/%d ".
std::string formatDateText(const platform::CivilTime& t);
// Local time of a point in time; empty when it cannot be shown.
std::string formatLocalTime(platform::UnixTime t);

// FAT and exFAT attribute letters, in the order read-only, hidden, system, archive.
std::string fatAttributeText(std::uint16_t attributes);

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace corvello
