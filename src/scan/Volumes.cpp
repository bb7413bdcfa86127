#include "scan/Volumes.h"

#include <array>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/VolumeView.h"
#include "device/ReadOnlyReader.h"
#include "partition/BootSector.h"
#include "partition/Partition.h"
#include "platform/RawFile.h"

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

std::string volumeTablesErrorText(int error) {
    if (error == kNoGpt) return "it has no GPT: there is no GPT header in its second sector nor a backup in its last";
    return platform::errorText(error);
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

VolumeRecord volumeAtStart(const ByteSource& reader) { return bareVolumeRecord(reader); }

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
