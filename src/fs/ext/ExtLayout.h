#pragma once
// On-disk offsets and flags of ext2/3/4 structures: superblock, group descriptor, inode,
// extent tree.

#include <cstddef>
#include <cstdint>

namespace corvello::extlayout {

// Superblock (1024 bytes).
inline constexpr std::size_t kSbInodesCount = 0;
inline constexpr std::size_t kSbBlocksCount = 4;
inline constexpr std::size_t kSbFirstDataBlock = 20;
inline constexpr std::size_t kSbLogBlockSize = 24;
inline constexpr std::size_t kSbBlocksPerGroup = 32;
inline constexpr std::size_t kSbInodesPerGroup = 40;
inline constexpr std::size_t kSbMagic = 56;
inline constexpr std::size_t kSbRevLevel = 76;
inline constexpr std::size_t kSbInodeSize = 88;
inline constexpr std::size_t kSbBlockGroupNr = 90;
inline constexpr std::size_t kSbFeatureIncompat = 96;
inline constexpr std::size_t kSbFeatureRoCompat = 100;
inline constexpr std::size_t kSbDescSize = 254;
inline constexpr std::size_t kSbFirstMetaBg = 260;
inline constexpr std::size_t kSbBlocksCountHi = 336;
inline constexpr std::uint16_t kExtMagic = 0xEF53;

inline constexpr std::uint32_t kIncompatFileType = 0x0002;
inline constexpr std::uint32_t kIncompatMetaBg = 0x0010;
inline constexpr std::uint32_t kIncompat64Bit = 0x0080;
inline constexpr std::uint32_t kRoCompatSparseSuper = 0x0001;
inline constexpr std::uint32_t kRoCompatHugeFile = 0x0008;
inline constexpr std::uint32_t kRoCompatGdtCsum = 0x0010;
inline constexpr std::uint32_t kRoCompatMetadataCsum = 0x0400;

// Group descriptor (32 bytes, or the superblock's descriptor size with 64bit).
inline constexpr std::size_t kGdBlockBitmap = 0;
inline constexpr std::size_t kGdInodeTable = 8;
inline constexpr std::size_t kGdFlags = 18;
inline constexpr std::size_t kGdBlockBitmapHi = 32;
inline constexpr std::size_t kGdInodeTableHi = 40;
inline constexpr std::uint16_t kBgInodeUninit = 0x0001;
inline constexpr std::uint16_t kBgBlockUninit = 0x0002;

// Inode.
inline constexpr std::size_t kInMode = 0;
inline constexpr std::size_t kInSize = 4;
inline constexpr std::size_t kInAtime = 8;
inline constexpr std::size_t kInCtime = 12;
inline constexpr std::size_t kInMtime = 16;
inline constexpr std::size_t kInLinks = 26;
inline constexpr std::size_t kInFlags = 32;
inline constexpr std::size_t kInBlock = 40;  // 60 bytes: block pointers or the extent tree root
inline constexpr std::size_t kInBlockBytes = 60;
inline constexpr std::size_t kInSizeHigh = 108;
inline constexpr std::size_t kInExtraIsize = 128;
inline constexpr std::size_t kInCtimeExtra = 132;
inline constexpr std::size_t kInMtimeExtra = 136;
inline constexpr std::size_t kInAtimeExtra = 140;
inline constexpr std::size_t kInCrtime = 144;  // creation time (large inodes)
inline constexpr std::size_t kInCrtimeExtra = 148;
inline constexpr std::uint32_t kIndexFlag = 0x00001000;       // hashed directory index
inline constexpr std::uint32_t kExtentsFlag = 0x00080000;
inline constexpr std::uint32_t kInlineDataFlag = 0x10000000;
inline constexpr std::uint32_t kRootInode = 2;
inline constexpr std::uint32_t kXattrMagic = 0xEA020000;  // extended attributes in the inode
inline constexpr std::uint8_t kXattrSystem = 7;           // name index of "system."

// Extent tree node: a 12-byte header, then 12-byte entries.
inline constexpr std::uint16_t kExtentMagic = 0xF30A;
inline constexpr int kMaxExtentDepth = 5;
inline constexpr std::uint16_t kMaxInitExtent = 32768;  // longer lengths mark uninitialised extents

}  // namespace corvello::extlayout
