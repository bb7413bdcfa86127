#include "partition/VolumeRecord.h"

namespace corvello {

std::int64_t VolumeRecord::sizeBytes() const {
    std::int64_t mib = 0;
    std::size_t i = 0;
    while (i < sizeText.size() && sizeText[i] == u' ') ++i;
    for (; i < sizeText.size() && sizeText[i] >= u'0' && sizeText[i] <= u'9'; ++i) {
        if (mib > (INT64_MAX / 1048576 - 9) / 10) break;  // far beyond any real disk
        mib = mib * 10 + (sizeText[i] - u'0');
    }
    return mib * 1048576;
}

}  // namespace corvello
