#include "ui/QtText.h"

#include <limits>

namespace corvello::ui {

std::int64_t parseInt64(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    std::uint64_t value = 0;
    const std::uint64_t limit = negative ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
                                         : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i].unicode() - u'0');
        if (value > (limit - digit) / 10) {
            value = limit;
            break;
        }
        value = value * 10 + digit;
    }
    if (negative) return value == limit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(value);
    return static_cast<std::int64_t>(value);
}

}  // namespace corvello::ui
