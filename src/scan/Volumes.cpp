#include "scan/Volumes.h"

#include <array>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/VolumeView.h"
#include "device/readWriteInterface.h"
#include "partition/BootSector.h"
#include "partition/Partition.h"

namespace corvello {

int readVolumeTables(const ByteSource& reader, bool gpt, std::vector<VolumeRecord>& volumes, ScanHost* host) {
    VolumeList found;
    Partition partition;
    partition.owner = &found;
    partition.statusLabel = host;
    partition.gptFormat = gpt;
    const int error = readPartitionTables(reader, partition);
    volumes = std::move(found.volumes);
    numberVolumeRows(volumes);
    return error;
}

int scanBootRecords(const ByteSource& reader, PartitionOwner& owner, ScanHost& host, const BootScanRange& range) {
    Partition partition;
    partition.owner = &owner;
    partition.statusLabel = &host;
    partition.rangeStart = range.start;
    partition.rangeEnd = range.end;
    partition.skipVolumeSize = range.skipVolumeSize;
    return partition.scanBootRecords(reader, reader.sourceBytes() / kSectorSize);
}

VolumeRecord volumeAtStart(const ByteSource& reader) {
    VolumeRecord volume;
    const std::uint64_t totalSectors = reader.sourceBytes() / kSectorSize;
    volume.byteLength = static_cast<std::int64_t>(totalSectors * kSectorSize);
    volume.setFileSystem(recogniseBareVolume(reader, volume.byteLength));
    volume.locator = std::u16string(1, u'0');
    volume.sizeText = fromUtf8(format("%lld  MB", static_cast<long long>(totalSectors / 2048)));
    return volume;
}

std::u16string fileSystemOf(ByteSpan firstBytes) { return recogniseVolume(firstBytes); }

std::u16string fileSystemAt(const ByteSource& reader, const VolumeRecord& volume) {
    std::array<std::uint8_t, 4096> first{};
    if (volume.startSector >= 0)
        VolumeView::toEnd(&reader, static_cast<std::uint64_t>(volume.startSector) * kSectorSize).readAt(0, first.data(), first.size());
    return recogniseVolume(ByteSpan(first));
}

VolumeListing listMountedVolumes(const SystemRoots& roots) {
    return enumerateVolumes(roots, [](ByteSpan first) { return recogniseVolume(first); });
}

}  // namespace corvello
