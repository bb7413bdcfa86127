// Record-level decoding: update-sequence fix-ups, the attribute walk on damaged records, and
// the run-list decoder.

#include <gtest/gtest.h>

#include <cstring>

#include "fs/ntfs/Record.h"
#include "support/ByteWriters.h"

namespace corvello {
namespace {

RecordBytes recordWithFixups(std::uint16_t off, std::uint16_t count, std::uint16_t sequence) {
    RecordBytes r{};
    std::memcpy(r.data(), "FILE", 4);
    test::put16(&r[4], off);
    test::put16(&r[6], count);
    if (off + 1u < r.size()) test::put16(&r[off], sequence);
    return r;
}

TEST(NtfsRecord, FixupsRestoreBothSectorEnds) {
    RecordBytes r = recordWithFixups(48, 3, 0x0007);
    r[50] = 0xAA;  // the true bytes 510-511
    r[51] = 0xBB;
    r[52] = 0xCC;  // the true bytes 1022-1023
    r[53] = 0xDD;
    r[510] = 0x07;
    r[511] = 0x00;
    r[1022] = 0x07;
    r[1023] = 0x00;
    ASSERT_TRUE(applyFixups(r));
    EXPECT_EQ(r[510], 0xAA);
    EXPECT_EQ(r[511], 0xBB);
    EXPECT_EQ(r[1022], 0xCC);
    EXPECT_EQ(r[1023], 0xDD);
}

TEST(NtfsRecord, FixupsRefuseDamagedRecordsAndLeaveThemAlone) {
    struct Case {
        const char* what;
        std::uint16_t off, count;
        bool tornSecondSector;
    };
    const Case cases[] = {
        {"sector end does not hold the sequence number", 48, 3, true},
        {"array past the record", 1020, 3, false},
        {"array offset 0x0200 with a huge count", 0x0200, 0xFFFF, false},
        {"count without sectors", 48, 1, false},
    };
    for (const Case& c : cases) {
        RecordBytes r = recordWithFixups(c.off, c.count, 0x0102);
        if (c.off == 48) {
            r[510] = 0x02;
            r[511] = 0x01;
            r[1022] = c.tornSecondSector ? 0x55 : 0x02;
            r[1023] = 0x01;
        }
        const RecordBytes before = r;
        EXPECT_FALSE(applyFixups(r)) << c.what;
        EXPECT_EQ(r, before) << c.what;
    }
}

TEST(NtfsRecord, AttributeWalkStaysInsideTheRecord) {
    RecordBytes r{};
    std::memcpy(r.data(), "FILE", 4);
    r[20] = 56;  // first attribute
    // A resident attribute whose value runs past its own end, then one whose length runs past
    // the record.
    test::put32(&r[56], 0x30);
    test::put32(&r[60], 32);
    test::put32(&r[56 + 16], 500);  // value length
    r[56 + 20] = 24;
    test::put32(&r[88], 0x80);
    test::put32(&r[92], 4000);
    EXPECT_TRUE(walkAttributes(r).empty());

    // A first-attribute offset in the last bytes of the record, and one far past it.
    for (unsigned first : {1020u, 1023u, 0xFFFFu}) {
        r[20] = static_cast<std::uint8_t>(first & 0xFF);
        r[21] = static_cast<std::uint8_t>(first >> 8);
        EXPECT_TRUE(walkAttributes(r).empty()) << first;
    }
}

TEST(NtfsRunList, DecodesTheTableOfCases) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::uint64_t cap;
        std::vector<MftRun> runs;
    };
    const Case cases[] = {
        {"two runs, negative second offset", {0x21, 0x18, 0x34, 0x56, 0x11, 0x30, 0xE0, 0x00}, 1000,
         {{0x5634, 0x18, false}, {0x5614, 0x30, false}}},
        {"sparse run keeps the running LCN", {0x11, 0x10, 0x20, 0x01, 0x10, 0x11, 0x10, 0x05, 0x00}, 1000,
         {{0x20, 0x10, false}, {0, 0x10, true}, {0x25, 0x10, false}}},
        {"runs past the VCN range are dropped", {0x11, 0x10, 0x20, 0x11, 0x10, 0x40, 0x11, 0x04, 0x10, 0x00}, 0x14,
         {{0x20, 0x10, false}, {0x70, 0x04, false}}},
        {"64-bit LCN and length",
         {0x78, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00},
         ~0ull,
         {{0x1000000000000ll, 0x10000000000ull, false}}},
        {"length field wider than 8 bytes ends the list", {0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9}, ~0ull, {}},
        {"field running past the bytes", {0x31, 0x05, 0x01}, ~0ull, {}},
        {"LCN going below zero ends the list", {0x11, 0x02, 0x05, 0x11, 0x02, 0xF0, 0x00}, ~0ull, {{5, 2, false}}},
        {"no terminator", {0x11, 0x03, 0x07}, ~0ull, {{7, 3, false}}},
    };
    for (const Case& c : cases) {
        const auto runs = decodeRunBytes(ByteSpan(c.bytes), c.cap);
        ASSERT_EQ(runs.size(), c.runs.size()) << c.what;
        for (std::size_t k = 0; k < runs.size(); ++k) {
            EXPECT_EQ(runs[k].lcn, c.runs[k].lcn) << c.what << " run " << k;
            EXPECT_EQ(runs[k].count, c.runs[k].count) << c.what << " run " << k;
            EXPECT_EQ(runs[k].sparse, c.runs[k].sparse) << c.what << " run " << k;
        }
    }
}

}  // namespace
}  // namespace corvello
