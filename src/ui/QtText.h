#pragma once
// Conversions between the core's UTF-16 and UTF-8 strings and QString.

#include <QString>
#include <cstdint>
#include <string>

namespace corvello::ui {

inline QString qs(const std::u16string& s) { return QString::fromStdU16String(s); }
inline std::u16string u16(const QString& s) { return s.toStdU16String(); }

// A signed 64-bit decimal number at the start of text, as the edit boxes are read: leading
// blanks, an optional sign, digits up to the first other character; 0 when there are none;
// clamped at the limits.
std::int64_t parseInt64(const QString& text);

}  // namespace corvello::ui
