#pragma once
// Finding the volumes of a medium, for the wizard's pages and corvello-cli alike: the partition
// tables of a whole disk, the boot-record scan of a sector range, the volume that starts at the
// first byte of an image, and the mounted volumes of the machine.

#include <cstdint>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "common/VolumeRecord.h"
#include "device/DriveEnumeration.h"

namespace corvello {

class ByteSource;
class ScanHost;

// Each reads the medium by offset: an image file, a device, or bytes held in memory.

// The partition tables: the MBR with its extended chain or, with gpt (or when the MBR only
// protects a GPT), the GPT. volumes gets a record per partition, numbered as the list shows
// them; host (optional) shows the status texts. Returns 0, or the error code of a failed read
// (volumes then holds what was read before it).
// A first sector without a table (no 0x55AA mark, or boot code or random bytes in the table's
// place) gives no record; a disk whose first sectors are a known file system's gives one record,
// the bare volume at sector 0.
int readVolumeTables(const ByteSource& reader, bool gpt, std::vector<VolumeRecord>& volumes, ScanHost* host = nullptr);

// Why readVolumeTables stopped, as a clause to follow "because" or a colon: its error code
// told in words ("it has no GPT ...", or the operating system's text).
std::string volumeTablesErrorText(int error);

// The sector range of a boot-record scan: start and end (inclusive) in sectors, 0 or less when
// not given; skipVolumeSize jumps over each volume found.
struct BootScanRange {
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool skipVolumeSize = true;
};

// Scans the range of the whole medium for the boot records of known file systems, appending a
// record to owner as each is found. It polls host's stop flag and pause gate. Returns 1 when it
// ends normally (range end, medium end, Stop) or the error code of a block that cannot be read.
int scanBootRecords(const ByteSource& reader, PartitionOwner& owner, ScanHost& host, const BootScanRange& range);

// The volume of an image or device that holds one volume from its first byte: its file system
// from its first sectors or, where they are gone, from the copies its file system keeps (empty
// when none was recognised), its exact length the medium's, its size text the medium's MiB.
VolumeRecord volumeAtStart(const ByteSource& reader);

// The file-system name of a volume whose first 4 KiB are given ("NTFS", "FAT12", "FAT16",
// "FAT32", "FAT64", "extX", "HFS+"), or empty.
std::u16string fileSystemOf(ByteSpan firstBytes);
// The same, read from the first 4 KiB of the volume on the medium.
std::u16string fileSystemAt(const ByteSource& reader, const VolumeRecord& volume);

// The machine's mounted volumes, each named by its first sectors where they tell.
VolumeListing listMountedVolumes(const SystemRoots& roots = {});

}  // namespace corvello
