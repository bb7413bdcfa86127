#include "common/VolumeRecord.h"

#include <algorithm>

#include "common/Text.h"

namespace corvello {

namespace {
constexpr std::int64_t kMiB = 1048576;
}

std::u16string fileSystemName(FileSystemKind kind) {
    switch (kind) {
        case FileSystemKind::Ntfs: return u"NTFS";
        case FileSystemKind::Fat12: return u"FAT12";
        case FileSystemKind::Fat16: return u"FAT16";
        case FileSystemKind::Fat32: return u"FAT32";
        case FileSystemKind::ExFat: return u"FAT64";
        case FileSystemKind::Ext: return u"extX";
        case FileSystemKind::HfsPlus: return u"HFS+";
        case FileSystemKind::None: break;
    }
    return {};
}

FileSystemKind fileSystemKindOf(std::u16string_view name) {
    if (equalsIgnoreCase(name, u"ntfs")) return FileSystemKind::Ntfs;
    if (equalsIgnoreCase(name, u"fat32")) return FileSystemKind::Fat32;
    if (equalsIgnoreCase(name, u"fat16") || equalsIgnoreCase(name, u"fat")) return FileSystemKind::Fat16;
    if (equalsIgnoreCase(name, u"fat12")) return FileSystemKind::Fat12;
    if (equalsIgnoreCase(name, u"extX")) return FileSystemKind::Ext;
    if (equalsIgnoreCase(name, u"fat64") || equalsIgnoreCase(name, u"exFat")) return FileSystemKind::ExFat;
    if (equalsIgnoreCase(name, u"HFS+")) return FileSystemKind::HfsPlus;
    return FileSystemKind::None;
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
