#pragma once
// The exFAT parser: reads the boot sector, walks every directory from the root cluster chain
// (live and deleted entry sets), keeps one ExFatEntry per file entry set in a flat list, links
// the list into a tree and fills the top level of the results tree. (Fat64Class in the original
// design.)

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/ResultTree.h"
#include "fs/fat/FatCommon.h"
#include "fs/fat/FatEntry.h"
#include "fs/fat/FatParserBase.h"
#include "common/VolumeRecord.h"

namespace corvello {

class ScanHost;

class ExFatParser : public FatParserBase {
public:
    explicit ExFatParser(const ParserInputs& inputs = {}) : FatParserBase(inputs) {}

    // True for an exFAT boot sector with a usable geometry.
    bool checkBootSector();
    // Reads the root directory's cluster chain; false when there is nothing to read.
    bool readRootCluster();
    // Walks the root and every folder reached from it; returns a copy of the records.
    std::vector<ExFatEntry> parseRootDirectory();
    void linkEntries();
    void fillTree();

    std::uint32_t nextCluster(std::uint32_t cluster);
    // Where the file's bytes lie on the volume, as the extraction takes them (for exFAT, up to
    // the valid data length), and the view they are read through.
    std::vector<ClusterRun> dataRuns(const ExFatEntry& e);
    const VolumeView* view() const { return reader_; }

    // Whether the allocation bitmap marks cluster c in use (read from the root directory on
    // first use; without one the FAT decides), and the highest cluster number of the volume.
    bool clusterInUse(std::uint32_t c);
    std::uint32_t maxCluster() const { return fat_.maxCluster(); }
    // The clusters (2 up to the value) whose bytes the medium holds.
    std::uint64_t clusterEndOnMedium() const {
        return corvello::clusterEndOnMedium(reader_, heapOffset, clusterBytes, fat_.maxCluster());
    }
    // Whether the record's clusters are taken one after another (no chain to follow).
    bool dataIsContiguous(const ExFatEntry& entry) { return contiguousData(entry); }

    static std::array<std::string, 4> formatTimes(const ExFatEntry& entry) { return corvello::formatTimes(entry); }
    static std::string formatSize(const ExFatEntry& entry) { return corvello::formatSize(entry); }

    // Advanced mode (see FatVolume): FAT and cluster-heap search, entry-set scan, records built
    // from the sets found.
    std::vector<std::int64_t> findFatTables(std::int64_t max);
    std::vector<std::int64_t> findHeapStarts(std::int64_t max);
    void setAdvancedClusterShift(unsigned shift);
    void scanForSlots();
    std::vector<ExFatEntry> buildFromFoundSlots(std::int64_t heapStart, std::int64_t fatStart);

    std::vector<std::int64_t> fatCandidates;
    std::vector<std::int64_t> heapCandidates;
    std::vector<std::int64_t> foundSlots;
    std::set<std::int64_t> consumedSlots;
    std::int64_t labelOffset = 0;
    std::uint8_t bootClusterShift = 0;  // from a valid boot sector

    bool bootValid = false;
    std::vector<ExFatEntry> entries;
    std::vector<ExFatEntry> entryCopy;
    std::uint16_t advancedMarker = 0;

    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t clusterBytes = 0;
    std::int64_t fatOffset = 0;
    std::uint64_t fatBytes = 0;
    std::int64_t heapOffset = 0;
    std::uint32_t clusterCount = 0;
    std::uint32_t rootCluster = 0;

private:
    // starts: the volume offset of each unit-sized piece of bytes; with consume, each entry set
    // is noted in consumedSlots and one noted before ends the folder.
    void walkDirectory(const std::vector<std::uint8_t>& bytes, std::uint32_t parent, int depth,
                       const std::vector<std::int64_t>& starts = {}, std::uint64_t unit = 0, bool consume = false);
    void walkFolder(std::uint32_t index, int depth);
    bool append(ExFatEntry& entry);
    ClusterSource source(bool contiguous);
    bool contiguousData(const ExFatEntry& entry);
    bool plausibleSet(std::uint8_t secondaryCount, const ExFatEntry& entry) const;

    FatTable fat_;
    std::vector<std::uint8_t> rootBuffer_;
    std::vector<std::uint8_t> allocationBitmap_;
    bool bitmapLoaded_ = false;
    std::set<std::uint32_t> visitedClusters_;
    std::vector<std::pair<std::uint32_t, int>> deferredFolders_;
    bool haveDummyFields_ = false;
    bool advancedFirst_ = true;
    bool stopped_ = false;
};

}  // namespace corvello

namespace corvello {

// The cluster-size shifts (sectors of 512 bytes, as powers of two) the advanced mode offers:
// the boot sector's first when it was valid, then 8, 9, 10 and 11.
std::vector<std::uint32_t> clusterShiftChoices(const ExFatParser& parser, bool bootValid);

}  // namespace corvello
