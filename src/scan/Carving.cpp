#include "scan/Carving.h"

#include <algorithm>

#include "common/VolumeRecord.h"
#include "device/FileReadSeek.h"

namespace corvello {

std::int64_t mediumBytes(const FileReadSeek& reader) {
    return std::max<std::int64_t>(static_cast<std::int64_t>(reader.totalSectors() * kSectorSize), reader.deviceLength);
}

CarveRange volumeCarveRange(const FileReadSeek& reader, const VolumeRecord& volume) {
    CarveRange range;
    if (volume.startSector < 0) return range;
    const std::int64_t medium = mediumBytes(reader);
    range.start = volume.startSector * static_cast<std::int64_t>(kSectorSize);
    if (volume.byteLength > 0) {
        range.length = volume.sizeBytes();
    } else if (volume.sizeBytes() > 0) {
        const std::int64_t start = volume.startSector > medium / 512 ? medium : range.start;
        range.length = std::max<std::int64_t>(medium - start, 0);
    }
    return range;
}

CarveRange carveRangeFrom(const FileReadSeek& reader, std::int64_t start) {
    return CarveRange{start, std::max<std::int64_t>(mediumBytes(reader) - start, 0)};
}

void prepareCarving(CarvingEngine& engine, FileReadSeek& reader, const CarveRange& range, ResultTree& tree, ScanHost& host) {
    engine.view = VolumeView::toEnd(&reader, static_cast<std::uint64_t>(std::max<std::int64_t>(range.start, 0)));
    engine.rangeBytes = range.length;
    engine.resultTree = &tree;
    engine.host = &host;
}

}  // namespace corvello
