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

// The error code of readPartitionTables when a GPT was asked for (or an MBR protects one) and
// neither the GPT header nor its backup in the last sector is there.
constexpr int kNoGpt = -1100;

// Reads the MBR (and the extended chain) or, with gptFormat, the GPT of the device, appending
// a record per partition to partition.owner. Returns 0, or the error code of a failed read
// (kNoGpt when there is no GPT to read). A first sector without the 0x55AA mark, or whose slots
// hold boot code or start past the disk's end, is no table: nothing is appended. A disk whose
// first sectors are those of a known file system is one bare volume (bareVolumeRecord).
int readPartitionTables(const ByteSource& reader, Partition& partition);

// The record of the volume that fills the medium from its first byte: its file system from its
// first sectors or, where they are gone, from the copies its file system keeps (empty when none
// was recognised), its exact length the medium's, its size text the medium's MiB.
VolumeRecord bareVolumeRecord(const ByteSource& reader);

// The file-system name of a bare volume (the image or device holds one volume from its first
// byte) of volumeBytes bytes: from its first sectors, else from the backup copies its file system
// keeps (recogniseVolumeWithBackups). Empty when nothing was recognised.
std::u16string recogniseBareVolume(const ByteSource& reader, std::int64_t volumeBytes);

// After a standard scan the list shows each record's position as its VOLUME text.
void numberVolumeRows(std::vector<VolumeRecord>& volumes);

}  // namespace corvello
