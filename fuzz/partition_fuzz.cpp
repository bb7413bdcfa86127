// Partition tables, the boot-record scan and the bare-volume check over arbitrary disk contents,
// read where they lie in memory.
#include "common/MemoryScanHost.h"
#include "device/VolumeView.h"
#include "scan/Volumes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const corvello::MemorySource source({data, size});
    for (bool gpt : {false, true}) {
        std::vector<corvello::VolumeRecord> volumes;
        corvello::readVolumeTables(source, gpt, volumes);
    }
    for (bool skip : {false, true}) {
        corvello::VolumeList list;
        corvello::MemoryScanHost host;
        corvello::scanBootRecords(source, list, host, corvello::BootScanRange{0, 0, skip});
    }
    corvello::volumeAtStart(source);
    return 0;
}
