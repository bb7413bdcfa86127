#include "partition/BootSector.h"

namespace corvello {

namespace {
bool isPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool hasFatJump(ByteSpan s) {
    return (u8(s, 0) == 0xEB && u8(s, 2) == 0x90) || u8(s, 0) == 0xE9 ||
           (u8(s, 0) == 0xEB && (u8(s, 1) == 0x3C || u8(s, 1) == 0x58 || u8(s, 1) == 0x76));
}
}  // namespace

BootInfo classifyNtfs(ByteSpan s, bool requireOemName) {
    BootInfo info;
    if (u8(s, 0) != 0xEB || u8(s, 1) != 0x52) return info;
    if (requireOemName && !hasBytes(s, 3, "NTFS")) return info;
    if (le16(s, 11) != 512) return info;
    info.kind = BootKind::Ntfs;
    const std::uint64_t sectors = le64(s, 40);
    info.sizeBytes = sectors > static_cast<std::uint64_t>(INT64_MAX / 512) ? 0 : static_cast<std::int64_t>(sectors * 512);
    return info;
}

BootInfo classifyFat(ByteSpan s) {
    BootInfo info;
    if (s.size() < 512 || !hasFatJump(s)) return info;
    if (u8(s, 510) != 0x55 || u8(s, 511) != 0xAA) return info;
    const std::uint32_t bytesPerSector = le16(s, 11);
    const std::uint32_t sectorsPerCluster = u8(s, 13);
    const std::uint32_t reserved = le16(s, 14);
    const std::uint32_t fats = u8(s, 16);
    const std::uint32_t rootEntries = le16(s, 17);
    const std::uint32_t total16 = le16(s, 19);
    const std::uint32_t fatSize16 = le16(s, 22);
    const std::uint32_t total32 = le32(s, 32);
    const std::uint32_t fatSize32 = le32(s, 36);
    if (!isPowerOfTwo(bytesPerSector) || bytesPerSector < 512 || bytesPerSector > 4096) return info;
    if (!isPowerOfTwo(sectorsPerCluster) || reserved == 0 || fats < 1 || fats > 2) return info;

    const std::uint64_t totalSectors = total16 != 0 ? total16 : total32;
    const std::uint64_t fatSize = fatSize16 != 0 ? fatSize16 : fatSize32;
    if (totalSectors == 0 || fatSize == 0) return info;
    const std::uint64_t rootSectors = (rootEntries * 32ULL + bytesPerSector - 1) / bytesPerSector;
    const std::uint64_t meta = reserved + fats * fatSize + rootSectors;
    if (meta >= totalSectors) return info;
    const std::uint64_t clusters = (totalSectors - meta) / sectorsPerCluster;

    if (fatSize16 == 0) {
        if (rootEntries != 0) return info;  // FAT32 keeps its root in the data area
        info.kind = BootKind::Fat32;
    } else {
        info.kind = clusters < 4085 ? BootKind::Fat12 : BootKind::Fat16;
    }
    info.sizeBytes = static_cast<std::int64_t>(totalSectors * bytesPerSector);
    return info;
}

BootInfo classifyExFat(ByteSpan s) {
    BootInfo info;
    if (u8(s, 0) != 0xEB) return info;
    const auto b1 = u8(s, 1);
    if (b1 != 0x3C && b1 != 0x58 && b1 != 0x76) return info;
    if (!hasBytes(s, 3, "EXFA")) return info;
    info.kind = BootKind::ExFat;
    const std::uint64_t sectors = le64(s, 72);
    info.sizeBytes = sectors > static_cast<std::uint64_t>(INT64_MAX / 512) ? 0 : static_cast<std::int64_t>(sectors * 512);
    return info;
}

BootInfo classifyHfsPlus(ByteSpan h) {
    BootInfo info;
    const bool plus = u8(h, 0) == 'H' && u8(h, 1) == '+';
    const bool x = u8(h, 0) == 'H' && u8(h, 1) == 'X';
    if (!plus && !x) return info;
    if (u8(h, 2) != 0) return info;
    info.kind = BootKind::HfsPlus;
    const std::uint64_t bytes = static_cast<std::uint64_t>(be32(h, 40)) * be32(h, 44);
    info.sizeBytes = bytes > static_cast<std::uint64_t>(INT64_MAX) ? 0 : static_cast<std::int64_t>(bytes);
    return info;
}

bool isExtSuperblock(ByteSpan sb) { return le16(sb, 56) == 0xEF53 && le32(sb, 4) != 0; }

std::u16string recogniseVolume(ByteSpan b) {
    const ByteSpan first = b.first(std::min<std::size_t>(b.size(), 512));
    if (classifyNtfs(first).kind == BootKind::Ntfs) return u"NTFS";
    if (classifyExFat(first).kind == BootKind::ExFat) return u"FAT64";
    switch (classifyFat(first).kind) {
        case BootKind::Fat12: return u"FAT12";
        case BootKind::Fat16: return u"FAT16";
        case BootKind::Fat32: return u"FAT32";
        default: break;
    }
    if (b.size() >= 2048) {
        const ByteSpan at1k = b.subspan(1024, 1024);
        if (classifyHfsPlus(at1k).kind == BootKind::HfsPlus) return u"HFS+";
        if (isExtSuperblock(at1k)) return u"extX";
    }
    return {};
}

}  // namespace corvello
