// libFuzzer target: a fat16 volume through Fat16Parser.
#include "FatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return corvello::fuzz::runFatFuzz<corvello::Fat16Parser>(data, size);
}
