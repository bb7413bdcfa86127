#include "common/DisplayFormat.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace corvello {

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
        out.assign(buffer.data(), static_cast<std::size_t>(n));
    }
    va_end(args);
    return out;
}

std::string formatSizeText(std::uint64_t bytes) {
    const double s = static_cast<double>(bytes);
    if (bytes >= (1ULL << 30)) return format("%.2f GB", s / static_cast<double>(1ULL << 30));
    if (bytes >= (1ULL << 20)) return format("%.2f MB", s / static_cast<double>(1ULL << 20));
    if (bytes >= 1024) return format("%.2f KB", s / 1024.0);
    return format("%lld Bytes", static_cast<long long>(bytes));
}

std::string formatTimeText(const platform::CivilTime& t) {
    if (t.hour <= 12) return format("%02d/%02d/%d  %02d:%02d AM", t.month, t.day, t.year, t.hour, t.minute);
    return format("%02d/%02d/%d  %02d:%02d PM", t.month, t.day, t.year, t.hour - 12, t.minute);
}

std::string formatDateText(const platform::CivilTime& t) {
    return format("%02d/%02d/%d ", t.month, t.day, t.year);
}

std::string formatLocalTime(platform::UnixTime t) {
    const auto civil = platform::localTime(t);
    return civil ? formatTimeText(*civil) : std::string();
}

std::string fatAttributeText(std::uint16_t attributes) {
    std::string out;
    if (attributes & 0x01) out += "-R";
    if (attributes & 0x02) out += "-H";
    if (attributes & 0x04) out += "-S";
    if (attributes & 0x20) out += "-A";
    return out;
}

}  // namespace corvello
