#pragma once
// Whether a deleted file's data are still on the medium: the clusters (or blocks) its record
// claims are free in the volume's allocation record (the FAT, the allocation bitmap, the block
// bitmaps) and owned by no live file ("intact"), some of them are taken ("partly overwritten",
// with the share taken), or all of them are ("overwritten"). Data kept in the record itself
// (resident or inline) are intact while the record is there.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvello {

enum class DataState { Unknown, Intact, PartlyOverwritten, Overwritten };

struct Recoverability {
    DataState state = DataState::Unknown;
    std::uint64_t units = 0;   // clusters or blocks the file claims
    std::uint64_t reused = 0;  // of them, taken since the file was deleted

    // The share taken, in whole percent: 1 to 99 for a partly overwritten file.
    unsigned reusedPercent() const;
};

// "intact", "partly overwritten (40%)", "overwritten", "unknown".
std::string recoverabilityText(const Recoverability& r);

// A run of clusters or blocks: count units from first.
struct UnitRun {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};

// The units live files own, as sorted disjoint runs.
class UnitSet {
public:
    void add(std::uint64_t first, std::uint64_t count);
    // Sorts and merges what was added; call before contains.
    void finish();
    bool contains(std::uint64_t unit) const;
    bool empty() const { return runs_.empty(); }

private:
    std::vector<UnitRun> runs_;
    bool sorted_ = true;
};

// Judges the runs a deleted file claims. inUse(unit) tells whether the allocation record marks
// a unit taken; units at or past unitCount do not exist on the volume and count as taken; live
// (may be null) holds the units of live files. No runs at all (an empty file) is intact.
Recoverability judgeRuns(const std::vector<UnitRun>& claimed, std::uint64_t unitCount,
                         const std::function<bool(std::uint64_t)>& inUse, const UnitSet* live);

// An allocation bitmap as most file systems keep it: bit n (least significant bit first in
// each byte) set when unit n is in use. Units the bitmap does not cover count as in use.
inline bool bitmapSays(const std::vector<std::uint8_t>& bitmap, std::uint64_t unit) {
    const std::uint64_t byte = unit / 8;
    return byte >= bitmap.size() || ((bitmap[static_cast<std::size_t>(byte)] >> (unit % 8)) & 1) != 0;
}

}  // namespace corvello
