#include "partition/Partition.h"

#include <array>
#include <cerrno>
#include <vector>

#include "common/Bytes.h"
#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "partition/BootSector.h"

namespace corvello {

namespace {

constexpr std::int64_t kMiB = 1048576;
constexpr int kMaxChainRecords = 50;

int failure(const FileReadSeek& reader) { return reader.lastError() != 0 ? reader.lastError() : EIO; }

std::u16string u16(const std::string& ascii) { return fromUtf8(ascii); }

bool isExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

VolumeRecord makeRecord(std::u16string fileSystem, int counter, std::u16string sizeText, std::int64_t start,
                        std::int64_t sectorCount) {
    VolumeRecord r;
    r.fileSystem = std::move(fileSystem);
    r.locator = u16(format("%d", counter));
    r.sizeText = std::move(sizeText);
    r.startSector = start;
    r.sectorCount = std::max<std::int64_t>(sectorCount, 0);
    return r;
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
    FileReadSeek& reader;
    Partition& partition;
    int volumeCounter = 0;
    int ntfsCounter = 0;

    bool isExFatAt(std::int64_t sector) {
        std::array<std::uint8_t, 512> buf{};
        if (!reader.readAt(sector * 512, buf.data(), 512)) return false;
        return classifyExFat(ByteSpan(buf)).kind == BootKind::ExFat;
    }

    void addPartition(const TableEntry& e, std::int64_t start, bool logical) {
        std::u16string fs;
        std::string text;
        switch (e.type) {
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
        partition.append(makeRecord(fs, volumeCounter++, u16(format("%lld   MB", mib)), start, e.count));
        if (!text.empty()) partition.status(text.c_str());
    }
};

int readMbr(FileReadSeek& reader, Partition& partition) {
    std::array<std::uint8_t, 512> mbr{};
    if (!reader.readAt(0, mbr.data(), 512)) return failure(reader);
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
        if (!reader.readAt((extendedBase + current) * 512, ebr.data(), 512)) return failure(reader);
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

int readGpt(FileReadSeek& reader, Partition& partition, ByteSpan header) {
    const std::uint64_t arrayLba = le64(header, 72);
    std::vector<std::uint8_t> array(10240, 0);
    if (arrayLba < static_cast<std::uint64_t>(INT64_MAX / 512))
        reader.readAt(static_cast<std::int64_t>(arrayLba * 512), array.data(), 10240);

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
        // The partition's extent; both LBAs come from the disk, so a difference that does not fit
        // counts as not known.
        std::int64_t extent = 0;
        if (__builtin_sub_overflow(g.last, g.first, &extent) || extent < 0 || extent == INT64_MAX) extent = -1;
        std::array<std::uint8_t, 512> sector{};
        const bool ok = g.first < INT64_MAX / 512 && reader.readAt(g.first * 512, sector.data(), 512);
        if (g.name == u"Microsoft reserved partition") continue;
        if (!ok) return failure(reader);

        const ByteSpan s(sector);
        BootInfo info = classifyNtfs(s, false);
        std::string text;
        std::u16string fs;
        if (info.kind == BootKind::Ntfs) {
            fs = u"NTFS";
            text = format("found NTFS %d...", ++ntfsCounter);
        } else if ((info = classifyFat(s)).kind != BootKind::None) {
            fs = info.kind == BootKind::Fat32 ? u"FAT32" : info.kind == BootKind::Fat16 ? u"FAT16" : u"FAT12";
            text = info.kind == BootKind::Fat32 ? "found FAT 32..." : info.kind == BootKind::Fat16 ? "found FAT 16..." : "found FAT 12...";
        } else if ((info = classifyExFat(s)).kind == BootKind::ExFat) {
            fs = u"FAT64";
            text = "found FAT 64...";
        }

        if (!fs.empty()) {
            const std::int64_t mib = info.sizeBytes / kMiB;
            if (mib > 0) {
                const std::string sizeText = info.kind == BootKind::Ntfs ? format("%d   MB", static_cast<int>(mib))
                                                                         : format("%lld  MB", static_cast<long long>(mib));
                partition.append(makeRecord(fs, volumeCounter++, u16(sizeText), g.first, extent + 1));
            }
            partition.status(text.c_str());
            if (partition.stopRequested.load()) return 0;
            continue;
        }

        // Anything else: an HFS+ header two sectors in, or the partition's own name.
        std::array<std::uint8_t, 512> hfsHeader{};
        const bool hfs = g.first + 2 < INT64_MAX / 512 && reader.readAt((g.first + 2) * 512, hfsHeader.data(), 512) &&
                         hfsHeader[0] == 'H' && hfsHeader[1] == '+' && hfsHeader[2] == 0;
        const std::u16string name = hfs ? std::u16string(u"HFS+") : throughCodePage(g.name);
        // Both LBAs come from the disk: a difference that does not fit counts as no size.
        std::int64_t sectors = 0;
        if (__builtin_sub_overflow(g.last, g.first, &sectors)) sectors = 0;
        const auto mib = static_cast<long long>(sectors / 2048);
        partition.append(makeRecord(name, volumeCounter++, u16(format("%lld", mib)), g.first, extent + 1));
    }
    return 0;
}

}  // namespace

void Partition::status(const char* text) const {
    if (statusLabel != nullptr) statusLabel->setStatus(text);
}

void Partition::append(const VolumeRecord& record) const {
    if (owner != nullptr) owner->appendVolume(record);
}

int readPartitionTables(FileReadSeek& reader, Partition& partition) {
    reader.baseOffset = 0;
    std::array<std::uint8_t, 1024> first{};
    if (!reader.readAt(0, first.data(), 1024) || !partition.gptFormat) return readMbr(reader, partition);
    return readGpt(reader, partition, ByteSpan(first).subspan(512));
}

void numberVolumeRows(std::vector<VolumeRecord>& volumes) {
    for (std::size_t i = 0; i < volumes.size(); ++i) volumes[i].locator = fromUtf8(format("%d", static_cast<int>(i)));
}

int Partition::scanBootRecords(FileReadSeek& reader, std::uint64_t totalSectors) {
    constexpr std::int64_t kBlockSectors = 2048;
    constexpr std::uint32_t kBlockBytes = kBlockSectors * 512;

    if (owner != nullptr) owner->setFilterEnabled(false);
    status("Scanning partition.....");
    stopRequested.store(false);
    reader.baseOffset = 0;

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
        if (owner != nullptr) owner->setFilterEnabled(true);
        return 1;
    };

    while (blockSector < total && blockSector <= lastSector) {
        if (!reader.readAt(blockSector * 512, block.data(), kBlockBytes) && reader.lastDelivered() == 0)
            return failure(reader);
        // The last block of a device that is not a whole number of MiB is short: look at the
        // sectors that arrived.
        const std::int64_t valid = std::min<std::int64_t>(reader.lastDelivered() / 512, total - blockSector);

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
            if (info.kind != BootKind::None && mib > 0) {
                const bool hfs = info.kind == BootKind::HfsPlus;
                const std::int64_t start = hfs ? sector - 2 : sector;
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
                    // NTFS keeps its backup boot sector just after its counted sectors.
                    const std::int64_t count = sizeSectors + (info.kind == BootKind::Ntfs ? 1 : 0);
                    append(makeRecord(fs, volumeCounter++, u16(sizeText), start, count));
                    status(text.c_str());
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
