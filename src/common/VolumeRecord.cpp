#include "common/VolumeRecord.h"

#include <algorithm>

namespace corvello {

namespace {
constexpr std::int64_t kMiB = 1048576;
}

namespace {
// The leading decimal digits of a size text; -1 when it has none.
std::int64_t leadingMiB(const std::u16string& text) {
    std::int64_t mib = -1;
    std::size_t i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (mib > (INT64_MAX / kMiB - 9) / 10) break;  // far beyond any real disk
        mib = std::max<std::int64_t>(mib, 0) * 10 + (text[i] - u'0');
    }
    return mib;
}
}  // namespace

std::int64_t VolumeRecord::sizeTextMiB() const { return std::max<std::int64_t>(leadingMiB(sizeText), 0); }

std::int64_t VolumeRecord::sizeBytes() const {
    const std::int64_t mib = leadingMiB(sizeText);
    if (byteLength > 0) {
        const std::int64_t shown = byteLength / kMiB;
        if (mib < 0 || shown == mib || shown == mib + 1) return byteLength;
    }
    return std::max<std::int64_t>(mib, 0) * kMiB;
}

}  // namespace corvello
