#pragma once
// Finding the volumes of a whole disk: its partition tables (MBR with the extended chain, or
// GPT), or a scan of a sector range for the boot records of known file systems.

#include <atomic>
#include <cstdint>
#include <vector>

#include "common/VolumeRecord.h"

namespace corvello {

class ByteSource;
class ScanHost;

class Partition {
public:
    PartitionOwner* owner = nullptr;
    ScanHost* statusLabel = nullptr;  // status texts, progress, pause
    std::atomic<bool> stopRequested{false};
    bool gptFormat = false;
    bool skipVolumeSize = true;
    std::int64_t rangeStart = 0;  // sectors; 0 or less: not given
    std::int64_t rangeEnd = 0;    // sectors, inclusive; 0 or less: not given

    // The boot-record scan over [rangeStart, rangeEnd] of a device of totalSectors sectors.
    // Returns 1 when it ends normally (range end, device end, Stop, failed seek) or the
    // operating system's error code when a block cannot be read at all.
    int scanBootRecords(const ByteSource& reader, std::uint64_t totalSectors);

    // Shows a status text and appends a record to owner (both optional).
    void status(const char* text) const;
    void append(const VolumeRecord& record) const;
};

// Reads the MBR (and the extended chain) or, with gptFormat, the GPT of the device, appending
// a record per partition to partition.owner. Returns 0, or the error code of a failed read.
int readPartitionTables(const ByteSource& reader, Partition& partition);

// The file-system name of a bare volume (the image or device holds one volume from its first
// byte) of volumeBytes bytes: from its first sectors, else from the backup copies its file system
// keeps (recogniseVolumeWithBackups). Empty when nothing was recognised.
std::u16string recogniseBareVolume(const ByteSource& reader, std::int64_t volumeBytes);

// After a standard scan the list shows each record's position as its VOLUME text.
void numberVolumeRows(std::vector<VolumeRecord>& volumes);

}  // namespace corvello
