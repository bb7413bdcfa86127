// LZNT1 decompression: raw and compressed chunks, back references, the end header, and damaged
// input that must end cleanly.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/ntfs/Lznt1.h"

namespace corvello {
namespace {

struct Result {
    int code;
    std::vector<std::uint8_t> out;
};

Result run(const std::vector<std::uint8_t>& in, std::size_t capacity) {
    std::vector<std::uint8_t> out(capacity, 0xEE);
    Lznt1State s;
    s.output = out.data();
    s.capacity = out.size();
    s.input = in.data();
    s.inputLength = in.size();
    const int code = decompressLznt1(s);
    out.resize(s.outputCount);
    return {code, out};
}

void header(std::vector<std::uint8_t>& v, std::uint16_t h) {
    v.push_back(static_cast<std::uint8_t>(h & 0xFF));
    v.push_back(static_cast<std::uint8_t>(h >> 8));
}

TEST(Lznt1, RawChunkOf4096BytesIsCopied) {
    std::vector<std::uint8_t> in;
    header(in, 0x3FFF);  // flag clear, 4096 data bytes
    for (int k = 0; k < 4096; ++k) in.push_back(static_cast<std::uint8_t>(k * 7));
    const Result r = run(in, 8192);
    EXPECT_EQ(r.code, 0);
    ASSERT_EQ(r.out.size(), 4096u);
    EXPECT_EQ(r.out[4095], static_cast<std::uint8_t>(4095 * 7));
}

TEST(Lznt1, CompressedChunkWithLiteralsAndOverlappingCopy) {
    // Header 0xB012: 19 data bytes. Flag byte 0x00 and eight literals "abcdefgh", then flag
    // byte 0x04: literals 'i', 'j', a token, literal 'k'... (kept to 19 bytes).
    std::vector<std::uint8_t> in;
    header(in, 0xB012);
    in.push_back(0x00);
    for (char c : std::string("abcdefgh")) in.push_back(static_cast<std::uint8_t>(c));
    in.push_back(0x04);
    in.push_back('i');
    in.push_back('j');
    // p = 10 bytes so far: 12-bit length field. Copy 6 bytes from 2 back: "ijijij".
    const std::uint16_t token = static_cast<std::uint16_t>(((2 - 1) << 12) | (6 - 3));
    header(in, token);
    in.push_back('k');
    in.push_back('l');
    in.push_back('m');
    in.push_back('n');
    in.push_back('o');
    ASSERT_EQ(in.size(), 2u + 19u);
    const Result r = run(in, 4096);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(std::string(r.out.begin(), r.out.end()), "abcdefghijijijijklmno");
}

TEST(Lznt1, WideDisplacementAfterManyBytes) {
    // After 40 literal bytes the displacement has 6 bits (p - 1 = 39 -> halved twice to 9).
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> body;
    for (int group = 0; group < 5; ++group) {
        body.push_back(0x00);
        for (int k = 0; k < 8; ++k) body.push_back(static_cast<std::uint8_t>('A' + group * 8 + k));
    }
    body.push_back(0x01);
    const int h = 2;
    const std::uint16_t token = static_cast<std::uint16_t>(((40 - 1) << (12 - h)) | (5 - 3));
    header(body, token);
    header(in, static_cast<std::uint16_t>(0xB000 | (body.size() - 1)));
    in.insert(in.end(), body.begin(), body.end());
    const Result r = run(in, 4096);
    EXPECT_EQ(r.code, 0);
    ASSERT_EQ(r.out.size(), 45u);
    EXPECT_EQ(std::string(r.out.begin() + 40, r.out.end()), "ABCDE");
}

TEST(Lznt1, EndHeaderAndDamagedInput) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> in;
        std::size_t capacity;
        int code;
        std::size_t produced;
    };
    const Case cases[] = {
        {"header 0 ends the input", {0x00, 0x00, 0xB0, 0x01, 0x00, 'x'}, 64, 0, 0},
        {"empty input", {}, 64, 0, 0},
        {"chunk past the input", {0x10, 0xB0, 0x00, 'a'}, 64, 1, 0},
        {"token before any byte", {0x02, 0xB0, 0x01, 0x00, 0x00}, 64, 1, 0},
        {"displacement before the chunk", {0x03, 0xB0, 0x02, 'a', 0x00, 0x70}, 64, 1, 1},
        {"token cut by the chunk end", {0x02, 0xB0, 0x02, 'a', 0x00}, 64, 1, 1},
        {"output full", {0x04, 0xB0, 0x00, 'a', 'b', 'c', 'd'}, 2, 1, 2},
    };
    for (const Case& c : cases) {
        const Result r = run(c.in, c.capacity);
        EXPECT_EQ(r.code, c.code) << c.what;
        EXPECT_EQ(r.out.size(), c.produced) << c.what;
    }
}

}  // namespace
}  // namespace corvello
