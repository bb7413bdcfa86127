// Partition tables and the boot-record scan over arbitrary disk contents.
#include "FuzzSupport.h"
#include "common/MemoryScanHost.h"
#include "device/FileReadSeek.h"
#include "partition/Partition.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    corvello::fuzz::MemoryImage image(data, size);
    if (!image.ok()) return 0;
    corvello::FileReadSeek reader;
    if (!reader.open(image.path())) return 0;
    for (bool gpt : {false, true}) {
        corvello::VolumeList list;
        corvello::Partition partition;
        partition.owner = &list;
        partition.gptFormat = gpt;
        corvello::readPartitionTables(reader, partition);
    }
    for (bool skip : {false, true}) {
        corvello::VolumeList list;
        corvello::MemoryScanHost host;
        corvello::Partition partition;
        partition.owner = &list;
        partition.statusLabel = &host;
        partition.skipVolumeSize = skip;
        partition.scanBootRecords(reader, reader.totalSectors());
    }
    return 0;
}
