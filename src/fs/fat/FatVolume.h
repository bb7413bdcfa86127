#pragma once
// The FAT12/FAT16/FAT32 parser: reads the boot sector and the FAT, walks every directory from
// the root slot by slot (live and deleted entries, long names rebuilt), keeps one FatEntry per
// named slot in a flat list, links the list into a tree and fills the top level of the results
// tree. Fat16Parser (FAT12 and FAT16) and Fat32Parser differ in where the root lies, the FAT
// entry width and a few walk rules.

#include <array>
#include <map>
#include <cstdint>
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

class FatVolume : public FatParserBase {
public:
    // Prepares the FAT lookups.
    void readFat();
    // Reads the root directory (the fixed region of FAT12/16, the root cluster chain of FAT32).
    void readRootDirectory();
    // Walks the root and every folder reached from it; returns a copy of the records.
    std::vector<FatEntry> parseRootDirectory();
    // Sets firstChild and nextSibling from the parent indices.
    void linkEntries();
    // Inserts the root's records under the root item.
    void fillTree();

    // The next cluster of a chain, or 0 at its end (or when the chain leaves the volume).
    std::uint32_t nextCluster(std::uint32_t cluster);
    // Where the file's bytes lie on the volume, as the extraction takes them (for exFAT, up to
    // the valid data length), and the view they are read through.
    std::vector<ClusterRun> dataRuns(const FatEntry& e);
    const VolumeView* view() const { return reader_; }

    static std::array<std::string, 4> formatTimes(const FatEntry& entry) { return corvello::formatTimes(entry); }
    static std::string formatSize(const FatEntry& entry) { return corvello::formatSize(entry); }

    std::uint32_t firstCluster(const FatEntry& entry) const;
    // Whether the FAT marks cluster c free, and the highest cluster number of the volume.
    bool isClusterFree(std::uint32_t c) { return fat_.isFree(c); }
    std::uint32_t maxCluster() const { return fat_.maxCluster(); }
    // The clusters (2 up to the value) whose bytes the medium holds.
    std::uint64_t clusterEndOnMedium() const {
        return corvello::clusterEndOnMedium(reader_, dataOffset, clusterBytes, fat_.maxCluster());
    }
    bool isFat32() const { return kind_ == FatKind::Fat32; }
    // The folders do not lie where the boot sector puts them (FAT12/16): no file's data can be
    // found from its geometry.
    bool dataMisplaced() const { return dataMisplaced_; }
    bool isFat12() const { return kind_ == FatKind::Fat12; }

    // Advanced mode: search the volume for FATs, scan every cluster for directory slots and build
    // the records from what was found (root entries under the root, the rest under "ORPHAN ENTRY").
    std::vector<std::int64_t> findFatTables(std::int64_t max);
    void useFatCandidate(std::int64_t offset);
    void scanForSlots();
    std::vector<FatEntry> buildFromFoundSlots(std::int64_t offset);

    std::vector<std::int64_t> fatCandidates;
    std::vector<std::int64_t> foundSlots;
    std::set<std::int64_t> consumedSlots;
    std::int16_t advancedBytesPerSector = 0;
    std::uint8_t advancedSectorsPerCluster = 0;
    std::uint8_t bootSectorsPerCluster = 0;  // from a valid boot sector, else 0

    bool bootValid = false;
    std::vector<FatEntry> entries;
    // The copy of the records the scan keeps for saving (names are taken from here).
    std::vector<FatEntry> entryCopy;
    // Raised by the advanced mode: the geometry then comes from the user's choice.
    std::uint16_t advancedMarker = 0;

    // Geometry (bytes from the volume's first byte).
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t clusterBytes = 0;
    std::int64_t fatOffset = 0;
    std::uint64_t fatBytes = 0;
    std::int64_t rootOffset = 0;
    std::uint32_t rootBytes = 0;
    std::int64_t dataOffset = 0;
    std::uint32_t rootCluster = 0;
    std::uint32_t clusterCount = 0;

protected:
    FatVolume(FatKind kind, const ParserInputs& inputs) : FatParserBase(inputs), kind_(kind) {}
    // Accepts the boot sector when it is a FAT volume of one of the given kinds (decided by its
    // structure and cluster count, not by its OEM text) and sets the geometry.
    bool acceptBootSector(bool fat32);

private:
    struct LongName;
    // Where the slots of a directory buffer lie on the volume: each unit-sized piece starts at
    // the next offset of starts. Empty when positions are not needed.
    struct SlotPlaces {
        std::vector<std::int64_t> starts;
        std::uint64_t unit = 0;
        bool consume = false;  // note each slot in consumedSlots; a consumed one ends the folder
        std::int64_t at(std::size_t pos) const {
            const std::size_t piece = unit == 0 ? 0 : pos / unit;
            return piece < starts.size() ? starts[piece] + static_cast<std::int64_t>(pos % unit) : -1;
        }
    };
    void walkDirectory(const std::vector<std::uint8_t>& bytes, std::uint32_t parent, int depth, bool subfolder,
                       const SlotPlaces& places);
    void walkFolder(std::uint32_t index, int depth);
    bool acceptSlot(ByteSpan slot) const;
    bool plausibleSlot(ByteSpan slot) const;
    void checkDataStart();
    void calibrate(ByteSpan slot, std::int64_t position, std::map<std::int64_t, std::uint32_t>& votes) const;
    bool append(FatEntry& entry);
    ClusterSource source(bool contiguous);

    FatKind kind_;
    FatTable fat_;
    std::vector<std::uint8_t> rootBuffer_;
    std::vector<std::int64_t> rootStarts_;
    std::set<std::uint32_t> visitedClusters_;
    std::vector<std::pair<std::uint32_t, int>> deferredFolders_;
    bool stopped_ = false;
    bool advancedFirst_ = true;
    std::int64_t rootAreaStart_ = 0;
    std::int64_t rootAreaEnd_ = 0;
    std::int64_t labelOffset_ = -1;  // FAT32: the first volume label or recycle bin found by the scan
    std::map<std::int64_t, std::uint32_t> dataStartVotes_;  // data starts the "." slots point to
    // Live folders of the standard walk: how many began with their "." slot, and the first
    // clusters of some that did not.
    bool liveWalk_ = false;
    std::uint64_t readFolders_ = 0;
    std::vector<std::uint32_t> unreadFolders_;
    bool dataMisplaced_ = false;
};

}  // namespace corvello

namespace corvello {

// The cluster sizes (in 512-byte sectors) the advanced mode offers, in order: the boot sector's
// value first when it was valid, then the usual sizes.
std::vector<std::uint32_t> sectorsPerClusterChoices(const FatVolume& parser, bool bootValid);

}  // namespace corvello
