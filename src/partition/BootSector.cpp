#include "partition/BootSector.h"

#include "device/crypt/Unlock.h"

#include <array>
#include <vector>

#include "common/DisplayFormat.h"

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

std::int64_t extVolumeBytes(ByteSpan sb) {
    if (!isExtSuperblock(sb)) return 0;
    const std::uint32_t logBlock = le32(sb, 24);
    if (logBlock > 6) return 0;
    std::uint64_t blocks = le32(sb, 4);
    if ((le32(sb, 96) & 0x80) != 0) blocks |= static_cast<std::uint64_t>(le32(sb, 336)) << 32;  // 64bit
    const std::uint64_t blockBytes = 1024ull << logBlock;
    if (blocks > static_cast<std::uint64_t>(INT64_MAX) / blockBytes) return 0;
    return static_cast<std::int64_t>(blocks * blockBytes);
}

std::u16string recogniseVolume(ByteSpan b) {
    const ByteSpan first = b.first(std::min<std::size_t>(b.size(), 512));
    // An encrypted volume is named by its encryption: its boot sector may still look like FAT.
    if (const EncryptionKind encrypted = encryptionOf(first); encrypted != EncryptionKind::None)
        return encryptionName(encrypted);
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

bool isNtfsBackupAt(ByteSpan sector, std::int64_t sectorIndex) {
    const BootInfo info = classifyNtfs(sector);
    return info.kind == BootKind::Ntfs && info.sizeBytes > 0 && info.sizeBytes / 512 == sectorIndex;
}

bool isFat32Backup(ByteSpan sector) {
    return classifyFat(sector).kind == BootKind::Fat32 && le16(sector, 50) == kFat32BackupSector;
}

bool findExtBackupSuperblock(const VolumeReadFn& read, std::int64_t volumeBytes, std::int64_t& offset,
                             std::int64_t& sizeBytes) {
    // Group g starts at block g × blocks-per-group + first data block (1 with 1 KiB blocks).
    // mke2fs makes groups of 8 × block size blocks unless told otherwise; smaller powers of two
    // are tried as well. Groups 1 and 3 keep a copy whatever the sparse-superblock setting.
    std::array<std::uint8_t, 1024> sb{};
    for (std::uint32_t group : {1u, 3u}) {
        for (std::uint32_t logBlock = 0; logBlock <= 2; ++logBlock) {
            const std::uint64_t blockBytes = 1024ull << logBlock;
            const std::uint32_t firstData = logBlock == 0 ? 1 : 0;
            for (std::uint64_t perGroup = 8 * blockBytes; perGroup >= 256; perGroup /= 2) {
                const std::uint64_t at = (group * perGroup + firstData) * blockBytes;
                if (volumeBytes > 0 && at + 1024 > static_cast<std::uint64_t>(volumeBytes)) continue;
                sb.fill(0);
                if (!read(static_cast<std::int64_t>(at), sb.data(), sb.size())) continue;
                const ByteSpan s(sb);
                if (!isExtSuperblock(s) || le32(s, 24) != logBlock || le32(s, 32) != perGroup ||
                    le32(s, 20) != firstData || le16(s, 90) != group)
                    continue;
                offset = static_cast<std::int64_t>(at);
                sizeBytes = extVolumeBytes(s);
                return true;
            }
        }
    }
    return false;
}

VolumeGuess recogniseVolumeWithBackups(const VolumeReadFn& read, std::int64_t volumeBytes) {
    VolumeGuess guess;
    std::vector<std::uint8_t> first(4096, 0);
    read(0, first.data(), first.size());
    const ByteSpan head(first);
    guess.fileSystem = recogniseVolume(head);
    if (!guess.fileSystem.empty()) {
        const ByteSpan s = head.first(512);
        BootInfo info = classifyNtfs(s);
        if (info.kind == BootKind::None) info = classifyExFat(s);
        if (info.kind == BootKind::None) info = classifyFat(s);
        if (info.kind == BootKind::None) info = classifyHfsPlus(head.subspan(1024, 512));
        guess.kind = info.kind;
        guess.sizeBytes = info.kind != BootKind::None ? info.sizeBytes : extVolumeBytes(head.subspan(1024, 1024));
        return guess;
    }

    std::array<std::uint8_t, 512> sector{};
    const ByteSpan s(sector);
    auto take = [&](const char16_t* name, BootInfo info, std::int64_t offset) {
        guess.fileSystem = name;
        guess.kind = info.kind;
        guess.sizeBytes = info.sizeBytes;
        guess.backupOffset = offset;
        return guess;
    };
    sector.fill(0);
    if (read(kFat32BackupSector * 512, sector.data(), 512) && isFat32Backup(s))
        return take(u"FAT32", classifyFat(s), kFat32BackupSector * 512);
    sector.fill(0);
    if (read(kExFatBackupSector * 512, sector.data(), 512) && classifyExFat(s).kind == BootKind::ExFat)
        return take(u"FAT64", classifyExFat(s), kExFatBackupSector * 512);
    if (volumeBytes >= 1024) {
        const std::int64_t last = volumeBytes / 512 - 1;
        sector.fill(0);
        if (read(last * 512, sector.data(), 512) && isNtfsBackupAt(s, last))
            return take(u"NTFS", classifyNtfs(s), last * 512);
    }
    std::int64_t offset = 0, size = 0;
    if (findExtBackupSuperblock(read, volumeBytes, offset, size)) {
        guess.fileSystem = u"extX";
        guess.sizeBytes = size;
        guess.backupOffset = offset;
    }
    return guess;
}

std::string backupStatusText(BootKind kind, std::int64_t backupOffset) {
    if (kind == BootKind::None)
        return format("The primary superblock is damaged: the backup superblock at byte %lld was used.",
                      static_cast<long long>(backupOffset));
    return format("The boot sector is damaged: the backup boot sector at sector %lld was used.",
                  static_cast<long long>(backupOffset / 512));
}

}  // namespace corvello
