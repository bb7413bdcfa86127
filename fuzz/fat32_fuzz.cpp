// libFuzzer target: a fat32 volume through Fat32Class.
#include "FatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return corvello::fuzz::runFatFuzz<corvello::Fat32Class>(data, size);
}
