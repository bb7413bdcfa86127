// libFuzzer target: a exfat volume through Fat64Class.
#include "FatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return corvello::fuzz::runFatFuzz<corvello::Fat64Class>(data, size);
}
