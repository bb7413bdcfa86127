#include "partition/Partition.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

#include "common/Bytes.h"
#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/VolumeView.h"
#include "device/crypt/Unlock.h"
#include "partition/BootSector.h"

namespace corvello {

namespace {

constexpr std::int64_t kMiB = 1048576;
constexpr int kMaxChainRecords = 50;

int failure(const ByteSource& reader) { return reader.lastError() != 0 ? reader.lastError() : EIO; }

// Reads count bytes from the medium's byte offset into buffer: how many arrived. The bytes that
// did not arrive are zeros, unless none did (the buffer is then left as it was).
std::size_t readSome(const ByteSource& reader, std::int64_t offset, void* buffer, std::size_t count) {
    if (offset < 0) return 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const std::size_t got = reader.readBytes(static_cast<std::uint64_t>(offset), std::span(bytes, count));
    if (got > 0 && got < count) std::fill(bytes + got, bytes + count, std::uint8_t{0});
    return got;
}

// Whether all count bytes from the medium's byte offset arrived.
bool readAll(const ByteSource& reader, std::int64_t offset, void* buffer, std::size_t count) {
    return readSome(reader, offset, buffer, count) == count;
}

std::u16string u16(const std::string& ascii) { return fromUtf8(ascii); }

bool isExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

VolumeRecord makeRecord(std::u16string fileSystem, int counter, std::u16string sizeText, std::int64_t start,
                        std::int64_t byteLength) {
    VolumeRecord r;
    r.setFileSystem(std::move(fileSystem));
    r.locator = u16(format("%d", counter));
    r.sizeText = std::move(sizeText);
    r.startSector = start;
    r.byteLength = std::max<std::int64_t>(byteLength, 0);
    return r;
}

// Reads through the reader relative to a volume that starts at the given sector.
VolumeReadFn volumeReader(const ByteSource& reader, std::int64_t startSector) {
    return [&reader, startSector](std::int64_t offset, std::uint8_t* buffer, std::size_t count) {
        if (startSector < 0 || startSector > INT64_MAX / 512 || offset < 0 ||
            offset > INT64_MAX - startSector * 512)
            return false;
        return readAll(reader, startSector * 512 + offset, buffer, count);
    };
}

struct TableEntry {
    std::uint8_t type;
    std::uint32_t start;
    std::uint32_t count;
};

TableEntry tableEntry(ByteSpan sector, int i) {
    const std::size_t off = 446 + static_cast<std::size_t>(i) * 16;
    return TableEntry{u8(sector, off + 4), le32(sector, off + 8), le32(sector, off + 12)};
}

// Context shared by the MBR and chain walks.
struct MbrWalk {
    const ByteSource& reader;
    Partition& partition;
    int volumeCounter = 0;
    int ntfsCounter = 0;

    // The exFAT test of a partition's first sector, or, when that sector is gone, of the
    // backup boot sector.
    bool isExFatAt(std::int64_t sector) {
        std::array<std::uint8_t, 512> buf{};
        for (std::int64_t at : {std::int64_t{0}, kExFatBackupSector}) {
            buf.fill(0);
            if (sector > INT64_MAX / 512 - at) return false;
            if (!readAll(reader, (sector + at) * 512, buf.data(), 512)) {
                if (at == 0) return false;
                continue;
            }
            if (classifyExFat(ByteSpan(buf)).kind == BootKind::ExFat) return true;
            if (at == 0 && classifyNtfs(ByteSpan(buf)).kind == BootKind::Ntfs) return false;
        }
        return false;
    }

    // The name of an encrypted volume at the sector, whatever the partition's type says.
    std::u16string encryptionAt(std::int64_t sector) {
        std::array<std::uint8_t, 512> buf{};
        if (sector < 0 || sector > INT64_MAX / 512 || !readAll(reader, sector * 512, buf.data(), 512)) return {};
        return encryptionName(encryptionOf(ByteSpan(buf)));
    }

    void addPartition(const TableEntry& e, std::int64_t start, bool logical) {
        std::u16string fs = encryptionAt(start);
        std::string text;
        if (!fs.empty()) {
            text = "found " + toUtf8(fs) + "...";
        } else switch (e.type) {
            case 0x01: fs = u"FAT12"; break;
            case 0x04: case 0x06: case 0x0E: fs = u"FAT16"; text = "found FAT 16..."; break;
            case 0x07:
                if (isExFatAt(start)) {
                    fs = u"FAT64";
                    text = "found FAT64...";
                } else {
                    fs = u"NTFS";
                    text = logical ? std::string("found NTFS...") : format("found NTFS %d...", ++ntfsCounter);
                }
                break;
            case 0x0B: case 0x0C: fs = u"FAT32"; text = "found FAT 32..."; break;
            case 0x42:
                if (logical) { fs = u"Unknown"; text = "found UNKNOWN..."; }
                else { fs = u"NTFS"; text = "NTFS..."; }
                break;
            case 0x83: fs = u"extX"; text = logical ? "found extx..." : "found ext2..."; break;
            default: fs = u"Unknown"; text = "found UNKNOWN..."; break;
        }
        const long long mib = e.count / 2048;
        partition.append(makeRecord(fs, volumeCounter++, u16(format("%lld   MB", mib)), start,
                                    static_cast<std::int64_t>(e.count) * 512));
        if (!text.empty()) partition.status(text.c_str());
    }
};

// Whether a sector holds a partition table at all: the 0x55AA mark, every used slot with a
// boot flag of 0x00 or 0x80 and a first sector past the table itself, and at least one slot that
// starts inside the disk. Boot code or random bytes in the table's place make no table, so no
// partitions are invented from them. A slot past the disk's end is kept when others lie inside
// (an image of a disk's first part still lists the partitions it holds).
bool isPartitionTable(ByteSpan sector, std::uint64_t diskSectors) {
    if (u8(sector, 510) != 0x55 || u8(sector, 511) != 0xAA) return false;
    bool inside = false, used = false;
    for (int i = 0; i < 4; ++i) {
        const TableEntry e = tableEntry(sector, i);
        if (e.type == 0) continue;
        used = true;
        const std::uint8_t flag = u8(sector, 446 + static_cast<std::size_t>(i) * 16);
        if ((flag != 0x00 && flag != 0x80) || e.start == 0) return false;
        if (e.start < diskSectors) inside = true;
    }
    return !used || inside;
}

int readMbr(const ByteSource& reader, Partition& partition) {
    std::array<std::uint8_t, 512> mbr{};
    if (!readAll(reader, 0, mbr.data(), 512)) return failure(reader);
    MbrWalk walk{reader, partition};

    // Every primary slot is looked at: an empty slot or an extended partition before a primary
    // one (as fdisk leaves them after a deletion) must not hide the primaries after it.
    std::int64_t extendedBase = -1;
    for (int i = 0; i < 4; ++i) {
        const TableEntry e = tableEntry(ByteSpan(mbr), i);
        if (e.type == 0) continue;
        if (isExtendedType(e.type)) {
            if (extendedBase < 0) extendedBase = e.start;
            continue;
        }
        walk.addPartition(e, e.start, false);
    }
    if (extendedBase < 0) return 0;

    // The chain of extended boot records; each link is relative to the extended base.
    std::int64_t current = 0;
    for (int record = 0; record < kMaxChainRecords; ++record) {
        std::array<std::uint8_t, 512> ebr{};
        if (!readAll(reader, (extendedBase + current) * 512, ebr.data(), 512)) return failure(reader);
        if (u8(ByteSpan(ebr), 510) != 0x55 || u8(ByteSpan(ebr), 511) != 0xAA) break;  // the chain ends here
        bool linked = false;
        for (int i = 0; i < 4; ++i) {
            const TableEntry e = tableEntry(ByteSpan(ebr), i);
            if (e.type == 0) break;
            if (isExtendedType(e.type)) {
                current = e.start;
                linked = true;
                break;
            }
            walk.addPartition(e, extendedBase + current + e.start, true);
        }
        if (!linked) break;
    }
    return 0;
}

int readGpt(const ByteSource& reader, Partition& partition, ByteSpan header) {
    const std::uint64_t arrayLba = le64(header, 72);
    std::vector<std::uint8_t> array(10240, 0);
    if (arrayLba < static_cast<std::uint64_t>(INT64_MAX / 512))
        readAll(reader, static_cast<std::int64_t>(arrayLba * 512), array.data(), 10240);

    struct GptEntry {
        std::int64_t first, last;
        std::u16string name;
    };
    std::vector<GptEntry> entries;
    for (std::size_t off = 0; off < 9216; off += 128) {
        const ByteSpan e = ByteSpan(array).subspan(off, 128);
        if (e[0] == 0x30 || e[1] == 0x30 || e[2] == 0x30 || e[3] == 0x30) break;
        const auto first = static_cast<std::int64_t>(le64(e, 32));
        if (first <= 2) break;
        GptEntry g{first, static_cast<std::int64_t>(le64(e, 40)), {}};
        for (std::size_t c = 0; c < 36; ++c) {
            const char16_t ch = le16(e, 56 + 2 * c);
            if (ch == 0) break;
            g.name.push_back(ch);
        }
        entries.push_back(std::move(g));
    }

    int volumeCounter = 0;
    int ntfsCounter = 0;
    for (const GptEntry& g : entries) {
        std::array<std::uint8_t, 512> sector{};
        const bool ok = g.first < INT64_MAX / 512 && readAll(reader, g.first * 512, sector.data(), 512);
        if (g.name == u"Microsoft reserved partition") continue;
        if (!ok) return failure(reader);

        // Both LBAs come from the disk: a difference that does not fit counts as no size.
        std::int64_t sectors = 0;
        if (__builtin_sub_overflow(g.last, g.first, &sectors) || sectors < 0) sectors = 0;
        const std::int64_t extentBytes = sectors < INT64_MAX / 512 - 1 ? (sectors + 1) * 512 : 0;

        // A recognised file system: its row carries the size its boot record declares.
        auto appendKnown = [&](const char16_t* fs, BootKind kind, std::int64_t sizeBytes, const std::string& text) {
            const std::int64_t mib = sizeBytes / kMiB;
            if (sizeBytes > 0) {
                const std::string sizeText = kind == BootKind::Ntfs ? format("%d   MB", static_cast<int>(mib))
                                                                    : format("%lld  MB", static_cast<long long>(mib));
                partition.append(makeRecord(fs, volumeCounter++, u16(sizeText), g.first, sizeBytes));
            }
            partition.status(text.c_str());
        };
        auto ntfsText = [&] { return format("found NTFS %d...", ++ntfsCounter); };

        const ByteSpan s(sector);
        BootInfo info = classifyNtfs(s, false);
        if (const EncryptionKind encrypted = encryptionOf(s); encrypted != EncryptionKind::None) {
            appendKnown(encryptionName(encrypted).c_str(), BootKind::None, extentBytes,
                        "found " + toUtf8(encryptionName(encrypted)) + "...");
        } else if (info.kind == BootKind::Ntfs) {
            appendKnown(u"NTFS", info.kind, info.sizeBytes, ntfsText());
        } else if ((info = classifyFat(s)).kind != BootKind::None) {
            const bool fat32 = info.kind == BootKind::Fat32, fat16 = info.kind == BootKind::Fat16;
            appendKnown(fat32 ? u"FAT32" : fat16 ? u"FAT16" : u"FAT12", info.kind, info.sizeBytes,
                        fat32 ? "found FAT 32..." : fat16 ? "found FAT 16..." : "found FAT 12...");
        } else if ((info = classifyExFat(s)).kind == BootKind::ExFat) {
            appendKnown(u"FAT64", info.kind, info.sizeBytes, "found FAT 64...");
        } else {
            // An HFS+ header two sectors in; an ext superblock (a Linux data partition, or any
            // other type); a file system whose first sector is gone, from its backup copy; else
            // the partition's own name.
            std::array<std::uint8_t, 1024> at1k{};
            const bool read1k = g.first + 2 < INT64_MAX / 512 && readAll(reader, (g.first + 2) * 512, at1k.data(), 1024);
            const bool hfs = read1k && at1k[0] == 'H' && at1k[1] == '+' && at1k[2] == 0;
            if (!hfs && read1k && isExtSuperblock(ByteSpan(at1k))) {
                appendKnown(u"extX", BootKind::None, extVolumeBytes(ByteSpan(at1k)), "found extx...");
            } else if (const VolumeGuess guess =
                           hfs ? VolumeGuess{} : recogniseVolumeWithBackups(volumeReader(reader, g.first), extentBytes);
                       guess.backupOffset >= 0) {
                switch (guess.kind) {
                    case BootKind::Ntfs: appendKnown(u"NTFS", guess.kind, guess.sizeBytes, ntfsText()); break;
                    case BootKind::Fat32: appendKnown(u"FAT32", guess.kind, guess.sizeBytes, "found FAT 32..."); break;
                    case BootKind::ExFat: appendKnown(u"FAT64", guess.kind, guess.sizeBytes, "found FAT 64..."); break;
                    default: appendKnown(u"extX", BootKind::None, guess.sizeBytes, "found extx..."); break;
                }
                partition.status(backupStatusText(guess.kind, guess.backupOffset).c_str());
            } else {
                const std::u16string name = hfs ? std::u16string(u"HFS+") : throughCodePage(g.name);
                const auto mib = static_cast<long long>(sectors / 2048);
                partition.append(makeRecord(name, volumeCounter++, u16(format("%lld", mib)), g.first, extentBytes));
                continue;
            }
        }
        if (partition.stopRequested.load()) return 0;
    }
    return 0;
}

bool hasProtectiveEntry(ByteSpan mbr) {
    if (u8(mbr, 510) != 0x55 || u8(mbr, 511) != 0xAA) return false;
    for (int i = 0; i < 4; ++i)
        if (tableEntry(mbr, i).type == 0xEE) return true;
    return false;
}

// The boot-record scan found a boot sector at sector `at` of the device. When it is the backup
// copy of a volume whose own first sector is gone (NTFS keeps it after its last sector, FAT32
// in sector 6, exFAT in sector 12), returns the volume's first sector; else -1. A backup whose
// volume still has its first sector is not one: that volume was found there already.
std::int64_t backupVolumeStart(const ByteSource& reader, ByteSpan boot, const BootInfo& info, std::int64_t at) {
    std::array<std::uint8_t, 512> buf{};
    auto readSector = [&](std::int64_t sector) {
        buf.fill(0);
        return sector >= 0 && sector < INT64_MAX / 512 && readAll(reader, sector * 512, buf.data(), 512);
    };
    // Whether the table a boot record places `offset` sectors into its volume starts as a FAT.
    auto fatAt = [&](std::int64_t sector, bool exfat) {
        if (!readSector(sector)) return false;
        const ByteSpan b(buf);
        return exfat ? le32(b, 0) == 0xFFFFFFF8 && le32(b, 4) == 0xFFFFFFFF
                     : u8(b, 0) == u8(boot, 21) && (le32(b, 0) & 0x0FFFFF00) == 0x0FFFFF00 &&
                           (le32(b, 4) & 0x0FFFFFFF) == 0x0FFFFFFF;
    };
    switch (info.kind) {
        case BootKind::Ntfs: {
            const std::int64_t start = at - info.sizeBytes / 512;
            if (start < 0 || start == at) return -1;
            if (readSector(start) && classifyNtfs(ByteSpan(buf)).kind == BootKind::Ntfs) return -1;
            // The MFT lies where the boot record says, counted from the volume's start.
            const std::uint64_t spc = u8(boot, 13);
            const std::uint64_t mftSector = le64(boot, 48) * (spc > 128 ? 0 : spc);
            if (mftSector == 0 || mftSector > static_cast<std::uint64_t>(info.sizeBytes / 512)) return -1;
            auto mftAt = [&](std::int64_t volumeStart) {
                return readSector(volumeStart + static_cast<std::int64_t>(mftSector)) && hasBytes(ByteSpan(buf), 0, "FILE");
            };
            return !mftAt(at) && mftAt(start) ? start : -1;
        }
        case BootKind::Fat32:
        case BootKind::ExFat: {
            const bool exfat = info.kind == BootKind::ExFat;
            if (!exfat && le16(boot, 50) != kFat32BackupSector) return -1;
            const std::int64_t start = at - (exfat ? kExFatBackupSector : kFat32BackupSector);
            if (start < 0) return -1;
            if (readSector(start)) {
                const ByteSpan b(buf);
                if (exfat ? classifyExFat(b).kind == BootKind::ExFat : classifyFat(b).kind == BootKind::Fat32) return -1;
            }
            const std::int64_t fatSector = exfat ? le32(boot, 80) : le16(boot, 14);
            if (fatSector == 0) return -1;
            return !fatAt(at + fatSector, exfat) && fatAt(start + fatSector, exfat) ? start : -1;
        }
        default: return -1;
    }
}

}  // namespace

void Partition::status(const char* text) const {
    if (statusLabel != nullptr) statusLabel->setStatus(text);
}

void Partition::append(const VolumeRecord& record) const {
    if (owner != nullptr) owner->appendVolume(record);
}

int readPartitionTables(const ByteSource& reader, Partition& partition) {
    std::array<std::uint8_t, 4096> first{};
    const std::size_t got = readSome(reader, 0, first.data(), first.size());
    // A disk whose first sector is the boot sector of a known file system is one bare volume,
    // whatever its boot code looks like read as a table.
    if (got >= 1024 && !recogniseVolume(ByteSpan(first)).empty()) {
        partition.status("The disk holds one volume from its first sector, without a partition table.");
        partition.append(bareVolumeRecord(reader));
        return 0;
    }
    if (got < 512) return failure(reader);
    const ByteSpan bytes(first);
    // A disk whose MBR only protects a GPT is read as GPT whether or not the user said so.
    if (!partition.gptFormat && !hasProtectiveEntry(bytes.first(512))) {
        if (isPartitionTable(bytes.first(512), reader.sourceBytes() / 512)) return readMbr(reader, partition);
        // No table: a volume whose first sectors are gone may still fill the disk from its
        // first byte, told by the copies its file system keeps.
        VolumeRecord bare = bareVolumeRecord(reader);
        if (!bare.fileSystem.empty()) {
            partition.status("The disk holds one volume from its first sector, told by its file system's backup copy.");
            partition.append(bare);
        } else {
            partition.status("No partition table found.");
        }
        return 0;
    }
    // The GPT header in the second sector or, when that is gone, its backup in the last sector.
    std::array<std::uint8_t, 512> header{};
    std::copy_n(first.begin() + 512, 512, header.begin());
    const std::uint64_t sectors = reader.sourceBytes() / 512;
    if (!hasBytes(ByteSpan(header), 0, "EFI PART") &&
        !(sectors > 2 && readAll(reader, static_cast<std::int64_t>(sectors - 1) * 512, header.data(), 512) &&
          hasBytes(ByteSpan(header), 0, "EFI PART"))) {
        partition.status("No GPT found.");
        return kNoGpt;
    }
    return readGpt(reader, partition, ByteSpan(header));
}

VolumeRecord bareVolumeRecord(const ByteSource& reader) {
    VolumeRecord volume;
    const std::uint64_t totalSectors = reader.sourceBytes() / 512;
    volume.byteLength = static_cast<std::int64_t>(std::min<std::uint64_t>(totalSectors, INT64_MAX / 512) * 512);
    volume.setFileSystem(recogniseBareVolume(reader, volume.byteLength));
    volume.locator = std::u16string(1, u'0');
    volume.sizeText = fromUtf8(format("%lld  MB", static_cast<long long>(totalSectors / 2048)));
    return volume;
}

std::u16string recogniseBareVolume(const ByteSource& reader, std::int64_t volumeBytes) {
    return recogniseVolumeWithBackups(volumeReader(reader, 0), volumeBytes).fileSystem;
}

void numberVolumeRows(std::vector<VolumeRecord>& volumes) {
    for (std::size_t i = 0; i < volumes.size(); ++i) volumes[i].locator = fromUtf8(format("%d", static_cast<int>(i)));
}

int Partition::scanBootRecords(const ByteSource& reader, std::uint64_t totalSectors) {
    constexpr std::int64_t kBlockSectors = 2048;
    constexpr std::uint32_t kBlockBytes = kBlockSectors * 512;

    if (owner != nullptr) owner->scanRunning(true);
    status("Scanning partition.....");
    stopRequested.store(false);

    const std::int64_t total = totalSectors > static_cast<std::uint64_t>(INT64_MAX / 512)
                                   ? INT64_MAX / 512
                                   : static_cast<std::int64_t>(totalSectors);
    const std::int64_t lastSector = rangeEnd > 0 ? rangeEnd : INT64_MAX;  // inclusive
    std::int64_t blockSector = rangeStart > 0 ? rangeStart : 0;

    if (statusLabel != nullptr) statusLabel->setProgressRange(0, 1000);
    std::vector<std::uint8_t> block(kBlockBytes, 0);
    int volumeCounter = 0;
    int ntfsCounter = 0;

    auto stopped = [&] {
        if (statusLabel != nullptr) statusLabel->pauseGate().pass();
        return stopRequested.load() || (statusLabel != nullptr && statusLabel->stopRequested());
    };
    auto finish = [&](bool showStopped) {
        if (showStopped) status("Scanned Partitions");
        if (owner != nullptr) owner->scanRunning(false);
        return 1;
    };

    while (blockSector < total && blockSector <= lastSector) {
        const std::size_t delivered = readSome(reader, blockSector * 512, block.data(), kBlockBytes);
        if (delivered == 0) return failure(reader);
        // The last block of a device that is not a whole number of MiB is short: look at the
        // sectors that arrived.
        const std::int64_t valid = std::min<std::int64_t>(static_cast<std::int64_t>(delivered / 512), total - blockSector);

        std::int64_t index = 0;
        while (index < std::min(valid, kBlockSectors)) {
            if (stopped()) return finish(true);
            const std::int64_t sector = blockSector + index;
            if (sector > lastSector) return finish(false);
            const ByteSpan s = ByteSpan(block).subspan(static_cast<std::size_t>(index) * 512, 512);

            BootInfo info = classifyNtfs(s);
            if (info.kind == BootKind::None) info = classifyFat(s);
            if (info.kind == BootKind::None) info = classifyExFat(s);
            if (info.kind == BootKind::None) info = classifyHfsPlus(s);

            const std::int64_t mib = info.sizeBytes / kMiB;
            if (info.kind != BootKind::None && info.sizeBytes > 0) {
                const bool hfs = info.kind == BootKind::HfsPlus;
                // A backup boot sector whose volume lost its first sector stands for that volume.
                const std::int64_t backupOf = hfs ? -1 : backupVolumeStart(reader, s, info, sector);
                const std::int64_t start = hfs ? sector - 2 : backupOf >= 0 ? backupOf : sector;
                const std::int64_t sizeSectors = info.sizeBytes / 512;
                const bool record = start >= 0 && (!hfs || mib <= 20971519);
                if (record) {
                    std::u16string fs;
                    std::string text;
                    std::string sizeText = format("%lld  MB", static_cast<long long>(mib));
                    switch (info.kind) {
                        case BootKind::Ntfs:
                            fs = u"NTFS";
                            text = format("found NTFS %d...", ++ntfsCounter);
                            sizeText = format("%d   MB", static_cast<int>(mib));
                            break;
                        case BootKind::Fat32: fs = u"FAT32"; text = "found FAT 32..."; break;
                        case BootKind::Fat16: fs = u"FAT16"; text = "found FAT 16..."; break;
                        case BootKind::Fat12: fs = u"FAT12"; text = "found FAT 12..."; break;
                        case BootKind::ExFat: fs = u"FAT64"; text = "found FAT 64..."; break;
                        default: fs = u"HFS+"; text = "found HFS+..."; break;
                    }
                    append(makeRecord(fs, volumeCounter++, u16(sizeText), start, info.sizeBytes));
                    status(text.c_str());
                    if (backupOf >= 0) status(backupStatusText(info.kind, (sector - start) * 512).c_str());
                }
                if (skipVolumeSize && (record || hfs)) {
                    // Resume at the first sector after the volume; NTFS keeps its backup boot
                    // sector just after its counted sectors.
                    std::int64_t resume = std::max<std::int64_t>(start, 0) + sizeSectors;
                    if (info.kind == BootKind::Ntfs) resume += 1;
                    if (resume > sector) {
                        if (stopped()) return finish(true);
                        index = resume - blockSector;
                        continue;
                    }
                }
                if (stopped()) return finish(true);
            }
            ++index;
        }
        if (valid <= 0 && index == 0) index = kBlockSectors;  // nothing arrived: move on
        blockSector += index;
        if (stopped()) return finish(true);
        if (statusLabel != nullptr && total > 0)
            statusLabel->setProgressPos(static_cast<std::int64_t>(
                static_cast<double>(std::min(blockSector, total)) / static_cast<double>(total) * 1000.0));
    }
    return finish(false);
}

}  // namespace corvello
