#pragma once
// The disk a QEMU qcow2 image (versions 2 and 3) holds, read cluster by cluster from the image
// file: the header's fields, and the lookup of each cluster through the L1 and L2 tables. Every
// offset and size taken from the file is checked against the file before it is used; a cluster the
// file cannot give (a table or data past its end, a compressed cluster that does not inflate to a
// whole cluster, an entry no writer makes) is unreadable, never zeros or the bytes of another.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvello::platform::qcow {

struct Header {
    std::uint32_t version = 0;
    std::uint32_t clusterBits = 0;
    std::uint64_t diskSize = 0;
    std::uint32_t encryption = 0;  // 0 none, 1 AES, 2 LUKS
    std::uint64_t backingFileOffset = 0;
    std::uint32_t l1Size = 0;
    std::uint64_t l1Offset = 0;
};

// The bytes a header is read from: the version 3 header with its compression type.
constexpr std::size_t kHeaderBytes = 112;

enum class HeaderCheck { Sound, Damaged };

// Reads the header of an image file of fileLength bytes from its first bytes (got of them) and
// checks what the reads below rely on: version 2 or 3, a cluster size of 512 bytes to 2 MiB, an L1
// table of at most 32 MiB that covers the disk and starts on a cluster, no feature a reader must know beyond the mark
// of an image not closed cleanly, and zlib compression.
HeaderCheck readHeader(const unsigned char* bytes, std::size_t got, Header& header);

class Disk {
public:
    // fd stays the caller's; it must stay open as long as the Disk is read.
    Disk(int fd, std::uint64_t fileLength, const Header& header);

    // Reads count bytes of the disk at offset (inside the disk); returns how many bytes were
    // delivered before the first unreadable one.
    std::size_t read(unsigned char* out, std::size_t count, std::uint64_t offset);

private:
    enum class Kind { Zero, Data, Compressed, Unreadable };
    struct Cluster {
        Kind kind = Kind::Unreadable;
        std::uint64_t host = 0;   // Data: the cluster's offset in the file; Compressed: the stream's
        std::uint64_t bytes = 0;  // Compressed: the stream's length that lies in the file
    };

    Cluster locate(std::uint64_t cluster);
    void loadL2(std::uint64_t l1Index);
    bool inflateCluster(std::uint64_t cluster, const Cluster& where);
    bool readFile(unsigned char* out, std::size_t count, std::uint64_t offset);

    int fd_;
    std::uint64_t fileLength_;
    Header header_;
    std::uint64_t clusterBytes_;
    // The L2 table last looked up (by its L1 index): read, absent (its clusters read as zeros) or
    // unreadable; and the compressed cluster last inflated.
    enum class Table { Read, Absent, Unreadable };
    std::vector<unsigned char> l2_;
    std::uint64_t l2Index_ = UINT64_MAX;
    Table l2State_ = Table::Unreadable;
    std::vector<unsigned char> inflated_;
    std::uint64_t inflatedCluster_ = UINT64_MAX;
    std::vector<unsigned char> compressed_;
};

}  // namespace corvello::platform::qcow
