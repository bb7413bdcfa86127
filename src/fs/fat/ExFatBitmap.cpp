// The exFAT allocation bitmap: which clusters are in use, for telling whether a deleted file's
// clusters were taken again.

#include <set>

#include "common/Bytes.h"
#include "fs/fat/ExFatParser.h"
#include "platform/Files.h"

namespace corvello {

bool ExFatParser::clusterInUse(std::uint32_t c) {
    if (!bitmapLoaded_) {
        bitmapLoaded_ = true;
        // The first allocation-bitmap entry (type 0x81, flags bit 0 clear) of the root folder.
        const std::uint64_t need = (static_cast<std::uint64_t>(fat_.maxCluster()) + 7) / 8;
        std::set<std::uint32_t> visited;
        const std::vector<std::uint8_t> root = readFolderClusters(source(false), rootCluster, 1u << 20, false, visited);
        for (std::size_t pos = 0; pos + 32 <= root.size(); pos += 32) {
            const std::uint8_t type = root[pos];
            if (type == 0x00) break;
            if (type != 0x81 || (root[pos + 1] & 1) != 0) continue;
            const ByteSpan slot(root.data() + pos, 32);
            const std::uint32_t first = le32(slot, 20);
            const std::uint64_t length = le64(slot, 24);
            if (length == 0 || length > need + 4096 || !fat_.isCluster(first)) break;
            for (bool contiguous : {false, true}) {
                platform::OutputFile out;
                out.openMemory(static_cast<std::size_t>(length));
                if (copyClusters(source(contiguous), first, length, out) == length) {
                    allocationBitmap_ = out.bytes();
                    break;
                }
            }
            break;
        }
    }
    if (!fat_.isCluster(c)) return true;
    if (allocationBitmap_.empty()) return !fat_.isFree(c);
    const std::uint64_t bit = c - 2;  // bit 0 stands for cluster 2
    return bit / 8 >= allocationBitmap_.size() || ((allocationBitmap_[bit / 8] >> (bit % 8)) & 1) != 0;
}

}  // namespace corvello
