#pragma once
// LZNT1, the compression of NTFS compressed files: a sequence of chunks of at most 4096
// decompressed bytes each.

#include <cstddef>
#include <cstdint>

namespace corvello {

struct Lznt1State {
    std::uint8_t* output = nullptr;
    std::size_t capacity = 0;  // bytes the output can take
    const std::uint8_t* input = nullptr;
    std::size_t inputLength = 0;
    std::size_t outputCount = 0;  // bytes produced so far
};

// Decompresses state.input into state.output. Returns 0 when the input was used up or ended
// with a zero chunk header, 1 when the input is damaged (a chunk or token runs past its end, a
// back reference points before its chunk) or the output is full; outputCount tells how many
// bytes were produced either way. Never reads or writes outside the two buffers.
int decompressLznt1(Lznt1State& state);

}  // namespace corvello
