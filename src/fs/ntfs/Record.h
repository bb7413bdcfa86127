#pragma once
// One 1024-byte MFT record as bytes: the update-sequence fix-ups, the attribute walk and the
// run-list decoder. Every offset and length read from the record is checked against it.

#include <array>
#include <cstdint>
#include <vector>

#include "common/Bytes.h"
#include "fs/ntfs/MftEntry.h"

namespace corvello {

inline constexpr std::size_t kMftRecordSize = 1024;
using RecordBytes = std::array<std::uint8_t, kMftRecordSize>;

inline constexpr std::uint32_t kAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kAttrAttributeList = 0x20;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;

// Restores the two sector ends of the record from its update-sequence array. Returns false,
// leaving the record as it was, when the array does not fit in the record or a sector end does
// not hold the sequence number (a torn or damaged record).
bool applyFixups(RecordBytes& record);

// One attribute header, as far as this program reads it.
struct AttributeHeader {
    std::uint32_t type = 0;
    std::uint32_t length = 0;     // whole attribute, within the record
    std::uint16_t start = 0;      // offset of the attribute in the record
    bool nonResident = false;
    std::uint16_t flags = 0;      // 0x0001 compressed (low byte: compression method), 0x4000 encrypted, 0x8000 sparse
    std::uint8_t nameLength = 0;  // attribute name in characters; 0 for the unnamed stream
    // Resident: the value, already checked to lie inside the attribute.
    std::uint32_t valueLength = 0;
    std::uint16_t valueOffset = 0;  // from the attribute's start
    // Non-resident.
    std::uint64_t firstVcn = 0;
    std::uint64_t lastVcn = 0;
    std::uint16_t runOffset = 0;  // from the attribute's start, inside the attribute
    std::uint16_t compressionExponent = 0;
    std::uint64_t allocatedSize = 0;
    std::uint64_t realSize = 0;
    std::uint64_t initializedSize = 0;

    bool compressed() const { return (flags & 0x00FF) != 0; }
    bool encrypted() const { return (flags & 0x4000) != 0; }
};

// The record header fields used here.
inline std::uint16_t firstAttributeOffset(const RecordBytes& r) { return le16(ByteSpan(r), 20); }
inline std::uint16_t recordHeaderFlags(const RecordBytes& r) { return le16(ByteSpan(r), 22); }
inline std::uint16_t recordSequence(const RecordBytes& r) { return le16(ByteSpan(r), 16); }
// The base-record number of an extension record (header offset 32, low 48 bits); 0 for a base record.
inline std::uint64_t baseRecordNumber(const RecordBytes& r) { return le64(ByteSpan(r), 32) & 0xFFFFFFFFFFFFull; }
inline bool hasFileSignature(const RecordBytes& r) { return hasBytes(ByteSpan(r), 0, "FILE"); }

// The attributes in record order. The walk ends at the end marker, at a length of 0, or at an
// attribute that would run past the record; an attribute whose header or value does not fit
// is left out.
std::vector<AttributeHeader> walkAttributes(const RecordBytes& record);

// A resident attribute's value (empty for a non-resident one).
ByteSpan attributeValue(const RecordBytes& record, const AttributeHeader& a);
// A non-resident attribute's run-list bytes.
ByteSpan runListBytes(const RecordBytes& record, const AttributeHeader& a);

// Decodes run-list bytes. The running LCN and all lengths are 64-bit. A run that would take
// the total past maxClusters (the attribute's VCN range) is dropped; decoding ends at a zero
// header byte, at a field wider than 8 bytes, at a field that runs past the bytes, or when the
// running LCN overflows.
std::vector<MftRun> decodeRunBytes(ByteSpan runs, std::uint64_t maxClusters);

// Clusters covered by an attribute's VCN range (0 when the range is empty or reversed).
std::uint64_t vcnRangeClusters(const AttributeHeader& a);

}  // namespace corvello
