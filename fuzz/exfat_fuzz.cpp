// libFuzzer target: a exfat volume through ExFatParser.
#include "FatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return corvello::fuzz::runFatFuzz<corvello::ExFatParser>(data, size);
}
