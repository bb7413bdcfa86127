// libFuzzer target: a fat32 volume through Fat32Parser.
#include "FatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return corvello::fuzz::runFatFuzz<corvello::Fat32Parser>(data, size);
}
