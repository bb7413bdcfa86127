#pragma once
// The carving engine (myJpg in the original design): scans a byte range of a volume for the
// start and end signatures of the loaded definitions and lists every file it can delimit,
// grouped by category.

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/ResultTree.h"
#include "device/VolumeView.h"
#include "raw/FileFormats.h"
#include "raw/SignatureDefinition.h"

namespace corvello {

class CarveSource;
class ScanHost;

// One entry of the match table: start signatures first, then end signatures.
struct MatchEntry {
    std::uint8_t length = 0;
    std::uint8_t signatureIndex = 0;
    std::array<std::uint8_t, kMaxSignatureBytes> bytes{};
};

// Which signature of a definition matched ('S' and 'E' in the original design).
enum class MatchKind : std::uint8_t { Start, End };

struct MatchHit {
    MatchKind kind = MatchKind::Start;
    std::uint8_t signatureIndex = 0;
};

// A found file: where it starts and how many bytes it takes, relative to the volume.
struct CarvedFile {
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::uint8_t signatureIndex = 0;  // the definition that found it
    std::int64_t namePosition = 0;    // the position its name is formed from
    bool partial = false;             // its structure breaks off: only its sound part is kept
    TreeItem item = 0;                // its item in the result tree (0 without a tree)
};

class CarvingEngine {
public:
    // Definitions, in load order; signatureIndex is the position in both lists.
    std::vector<SignatureParams> signatureParams;
    std::vector<SignatureKey> signatureKeys;

    std::vector<MatchEntry> matchTable;
    std::vector<std::deque<std::int64_t>> pendingStarts;  // start hits waiting for their end
    std::vector<CarvedFile> carvedFiles;                  // tree items hold positions in here
    std::map<std::u16string, std::int64_t> categoryCounts;

    ResultTree* resultTree = nullptr;
    ScanHost* host = nullptr;        // progress, notices and the stop flag
    VolumeView view;              // the volume carved: offsets count from its first byte
    std::int64_t rangeBytes = 0;  // bytes to scan from the volume's start
    std::uint64_t stepSize = 512;
    std::uint32_t blockSize = 1048576;
    // Starts one definition may keep waiting for their end; past it the oldest is recorded as
    // a leftover at once, so that a medium full of one start signature cannot exhaust memory.
    std::size_t maxPendingStarts = 65536;

    std::size_t definitionCount() const { return signatureParams.size(); }
    // Appends one definition with the next signatureIndex; false when 128 are already loaded.
    bool addDefinition(const SignatureRecord& record);

    // Builds matchTable and pendingStarts from the lists; false if memory runs out.
    bool prepareMatchTable();
    // The first table entry matching the bytes at the start of data (at most 10 are compared;
    // an entry longer than data does not match).
    std::optional<MatchHit> matchAt(ByteSpan data) const;
    // The whole run: tree set-up, scan, leftover starts, end message. False when the table
    // cannot be built ("not properly initialized").
    bool carve();

    TreeItem rootItem() const { return rootItem_; }
    // "%lld ." and the extension: the name of a found file in the tree and on disk.
    std::u16string carvedName(std::size_t index) const;
    const std::u16string& carvedCategory(std::size_t index) const;
    // Whether the last run ended on a stop request.
    bool stopped() const { return stopped_; }

private:
    void setUpTree();
    void scanBlocks();
    void recordLeftovers();
    void recordFile(std::int64_t offset, std::int64_t size, std::int64_t namePosition, std::uint8_t index,
                    bool partial = false);
    // End signatures of the definitions with waiting starts, at every byte of [from, to) of
    // data (which holds the range's bytes from base up to dataEnd).
    void searchEnds(const std::uint8_t* data, std::int64_t base, std::int64_t dataEnd, std::int64_t from, std::int64_t to);
    // A start of a definition whose format is known: the file it begins, if any, is recorded.
    // Returns the position after it, or -1 when the start is not a file.
    std::int64_t carveKnownFormat(CarveSource& source, std::int64_t position, std::uint8_t index);
    std::int64_t scanEnd() const;
    bool readDeclaredSize(ByteSpan sector, const SignatureParams& params, std::int64_t& total) const;

    TreeItem rootItem_ = 0;
    std::int64_t end_ = 0;  // the scanned range, cut at the end of the device
    bool stopped_ = false;
    // matchTable entries as masked words (wildcard bytes masked out), so that one entry is one
    // comparison; listed by the first data byte they can match, in table order.
    struct WordEntry {
        std::uint64_t mask = 0, value = 0;   // bytes 0..7
        std::uint16_t mask2 = 0, value2 = 0;  // bytes 8..9
        std::uint16_t entry = 0;             // position in matchTable
    };
    std::array<std::vector<WordEntry>, 256> byFirstByte_;
    struct LeadGroup {
        std::size_t position = 0;  // the first byte of the signature that is not a wildcard
        std::array<std::vector<WordEntry>, 256> lists;  // by that byte's value, in table order
    };
    std::vector<LeadGroup> leads_;
    std::vector<const FileFormat*> formats_;  // per definition, from its extension (nullptr: none known)
    std::vector<std::uint8_t> endDefinitions_;  // definitions with an end signature and no known format
    std::size_t waiting_ = 0;              // starts waiting in pendingStarts
    // The last file whose inside is still scanned: one found damaged (its sound part is a guess)
    // or one whose format leaves its contents unchecked (pixels, samples, media data). A file
    // that starts inside it and runs past its end shows that it was cut there.
    struct Container {
        std::size_t index = SIZE_MAX;  // in carvedFiles
        std::int64_t end = 0;
        bool whole = false;
    } container_;
};

}  // namespace corvello
