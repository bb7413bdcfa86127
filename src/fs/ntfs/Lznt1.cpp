#include "fs/ntfs/Lznt1.h"

namespace corvello {

namespace {
constexpr std::size_t kChunkBytes = 4096;
}

int decompressLznt1(Lznt1State& s) {
    s.outputCount = 0;
    if (s.input == nullptr || s.inputLength < 2) return 0;
    std::size_t i = 0;
    while (i + 1 < s.inputLength) {
        const std::uint16_t header = static_cast<std::uint16_t>(s.input[i] | (s.input[i + 1] << 8));
        if ((header & 0x0FFF) == 0) return 0;
        const std::size_t total = static_cast<std::size_t>(header & 0x0FFF) + 3;
        if (total > s.inputLength - i) return 1;
        const std::size_t end = i + total;
        std::size_t pos = i + 2;
        i = end;
        if ((header & 0x8000) == 0 && total - 2 == kChunkBytes) {
            for (; pos < end; ++pos) {
                if (s.outputCount >= s.capacity) return 1;
                s.output[s.outputCount++] = s.input[pos];
            }
            continue;
        }
        const std::size_t chunkStart = s.outputCount;
        while (pos < end) {
            const std::uint8_t flags = s.input[pos++];
            for (int bit = 0; bit < 8 && pos < end; ++bit) {
                const std::size_t produced = s.outputCount - chunkStart;
                if (produced >= kChunkBytes) return 1;  // a chunk never yields more than 4096 bytes
                if (((flags >> bit) & 1) == 0) {
                    if (s.outputCount >= s.capacity) return 1;
                    s.output[s.outputCount++] = s.input[pos++];
                    continue;
                }
                if (pos + 1 >= end) return 1;
                const std::uint16_t token = static_cast<std::uint16_t>(s.input[pos] | (s.input[pos + 1] << 8));
                pos += 2;
                if (produced == 0) return 1;
                int h = 0;
                for (std::size_t q = produced - 1; q >= 16; q >>= 1) ++h;
                const std::size_t displacement = static_cast<std::size_t>(token >> (12 - h)) + 1;
                std::size_t length = static_cast<std::size_t>(token & (0x0FFF >> h)) + 3;
                if (displacement > produced) return 1;
                for (; length > 0 && s.outputCount < s.capacity; --length) {
                    s.output[s.outputCount] = s.output[s.outputCount - displacement];
                    ++s.outputCount;
                }
            }
        }
    }
    return 0;
}

}  // namespace corvello
