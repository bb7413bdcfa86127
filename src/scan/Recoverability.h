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

// Which units of a volume are taken, read once from the allocation record (and the units live
// files own), so that a claimed run is judged in constant time however long it is: a volume of
// many deleted files is judged in the time of one pass over its units.
class UnitUsage {
public:
    UnitUsage() = default;
    // Asks inUse once for every unit below unitCount.
    UnitUsage(std::uint64_t unitCount, const std::function<bool(std::uint64_t)>& inUse);
    // Marks units taken (those of a live file); units past unitCount are left out. Call finish
    // when all are marked.
    void markTaken(std::uint64_t first, std::uint64_t count);
    void finish();

    std::uint64_t unitCount() const { return unitCount_; }
    // How many of the count units from first are taken (units past unitCount included).
    std::uint64_t takenIn(std::uint64_t first, std::uint64_t count) const;

private:
    // Taken units below unit.
    std::uint64_t rank(std::uint64_t unit) const;

    std::uint64_t unitCount_ = 0;
    std::vector<std::uint64_t> bits_;    // bit n % 64 of word n / 64: unit n is taken
    std::vector<std::uint64_t> before_;  // taken units below each block of kBlockWords words
    static constexpr std::size_t kBlockWords = 8;
};

// The same judgement over a usage read beforehand: a look-up per run, not per unit.
Recoverability judgeRuns(const std::vector<UnitRun>& claimed, const UnitUsage& usage);

// An allocation bitmap as most file systems keep it: bit n (least significant bit first in
// each byte) set when unit n is in use. Units the bitmap does not cover count as in use.
inline bool bitmapSays(const std::vector<std::uint8_t>& bitmap, std::uint64_t unit) {
    const std::uint64_t byte = unit / 8;
    return byte >= bitmap.size() || ((bitmap[static_cast<std::size_t>(byte)] >> (unit % 8)) & 1) != 0;
}

}  // namespace corvello
