// LZNT1 decompression of arbitrary input into a compression unit's worth of output.

#include <cstdint>
#include <vector>

#include "fs/ntfs/Lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out(65536);
    corvello::Lznt1State state;
    state.output = out.data();
    state.capacity = out.size();
    state.input = data;
    state.inputLength = size;
    corvello::decompressLznt1(state);
    return state.outputCount <= out.size() ? 0 : 1;
}
