#pragma once
// The NTFS parser: boot sector and MFT location, one entry per MFT record slot, record
// decoding, the directory tree (parent references, "ORPHAN_ENTRY"), display texts and reads of
// a file's data by offset (resident, plain, sparse, LZNT1-compressed, spread over extension
// records). (ntfs in the original design.)

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/ResultTree.h"
#include "device/VolumeView.h"
#include "fs/ParserInputs.h"
#include "fs/ntfs/MftEntry.h"
#include "fs/ntfs/Record.h"
#include "common/VolumeRecord.h"

namespace corvello {

class ScanHost;

// What a record's first data attribute looks like (the description the size text and the
// extraction start from).
struct DataAttributeInfo {
    std::uint32_t offset = 0;  // resident: value offset in the record; non-resident: run-list offset
    std::uint32_t length = 0;  // resident: value length; non-resident: run-list bytes
    std::uint16_t compressionExponent = 0;
    std::uint64_t firstVcn = 0;
    std::uint64_t lastVcn = 0;
    char residency = 0;            // 'R', 'N' or 0 for none
    const char* status = nullptr;  // kStatusCompressed, kStatusEncrypted, kStatusNormal or null
    std::uint64_t allocatedSize = 0;
    std::uint64_t realSize = 0;
};

inline constexpr char kStatusCompressed[] = "Compressed";
inline constexpr char kStatusEncrypted[] = "Encrypted";
inline constexpr char kStatusNormal[] = "Normal";

// One record as read: the header, the location, the attribute headers and the fixed-up bytes.
struct RecordImage {
    std::array<std::uint8_t, 49> header{};
    std::uint64_t location = 0;
    std::vector<AttributeHeader> attributes;
    RecordBytes bytes{};
    bool read = false;     // the record could be read
    bool intact = false;   // the update-sequence check passed
};

struct RecordTimes {
    std::uint64_t creation = 0;  // FILETIME values, 0 when the record has no standard information
    std::uint64_t modification = 0;
    std::uint64_t access = 0;
    std::string attributeText;
};

// A file's unnamed data stream, joined over its base record and extension records in VCN order.
struct DataStream {
    bool present = false;
    bool resident = false;
    std::vector<std::uint8_t> residentValue;
    std::uint16_t flags = 0;
    std::uint16_t compressionExponent = 0;
    std::uint64_t realSize = 0;
    std::uint64_t initializedSize = 0;
    std::vector<MftRun> runs;  // in VCN order from VCN 0
    bool gaps = false;         // an extent was missing or overlapped
};

// A file's data laid out for reads by offset, as a save writes them.
struct StreamLayout {
    enum class Form { None, Resident, Runs, Compressed };
    std::uint64_t entry = ~0ull;  // the entry laid out
    bool named = false;           // the entry names a file record
    bool readable = false;        // its record could be read: else nothing of it can be
    Form form = Form::None;       // None: no data, nothing to write
    DataStream stream;
    std::uint64_t size = 0;          // the real size
    std::uint64_t initialized = 0;   // bytes from here on read as zeros
    std::uint64_t delivered = 0;     // bytes a save writes: fewer than size where the runs end first
    std::uint64_t holeFrom = 0;      // from here to size a hole: its length is set, nothing written
    bool damaged = false;            // the data cannot be whole (an extent missing, a unit too large)
    std::vector<std::uint64_t> runVcn;  // the first VCN of each run, then the VCN after the last
    std::uint64_t clusterSize = 0;
    std::uint64_t unitClusters = 0;  // Compressed: clusters per compression unit
};

// The compression unit a read decompressed last (reads of a file come in a row).
struct UnitCache {
    std::uint64_t entry = ~0ull;
    std::uint64_t unit = 0;
    std::vector<std::uint8_t> bytes;
    bool damaged = false;
};

class NtfsParser {
public:
    // inputs.host must not be null; the parser reads its volume's length from the boot sector.
    explicit NtfsParser(const ParserInputs& inputs);
    NtfsParser(const NtfsParser&) = delete;
    NtfsParser& operator=(const NtfsParser&) = delete;

    // Scan steps, in the order of the standard mode.
    bool insertRootItem(const std::u16string& rootLabel = u"ROOT");
    bool readBootSector();
    bool locateMft();
    void loadMftRecords();
    void buildTree();

    // Searches of the volume for records (deep and advanced modes).
    bool deepScanRecords();
    std::int64_t findMftCopies(std::int64_t max);
    // Takes the MFT copies an earlier search of this volume found (their record 0's byte
    // offsets, in its order) without searching again; returns how many it holds.
    std::int64_t takeMftCopies(const std::vector<std::int64_t>& locations);
    bool useFoundMft(std::int64_t k);
    // Empties the entry table and the names (a new scan on the same parser).
    void forgetEntries();
    static bool extensionBelongsTo(const RecordBytes& extension, const RecordBytes& base);
    static std::uint64_t clusterSizeOfMftCopy(std::uint64_t location, const std::vector<MftRun>& runs);

    // Record decoding.
    std::vector<MftRun> decodeRunList(std::uint64_t location, std::uint32_t type);
    bool parseRecord(std::uint64_t location, std::uint64_t i);
    RecordImage loadRecord(std::uint64_t i);
    DataAttributeInfo describeDataAttribute(const RecordImage& image);
    void collectExtensionRecords(const RecordImage& image);
    RecordTimes readRecordTimes(std::uint64_t location);
    DataStream readDataStream(std::uint64_t i);

    // Tree.
    void attachToParent(std::uint64_t i);
    void placeOrphans();
    bool fillTreeTopLevel();

    // Display and extraction.
    std::uint64_t dataSize(std::uint64_t i);
    std::string sizeText(std::uint64_t i);
    std::array<std::string, 4> timeTexts(const MftEntry& entry);
    // Lays out entry i's unnamed data for reads by offset.
    StreamLayout layOutStream(std::uint64_t i);
    // Reads the data of layout from offset into buffer, only what the window needs: the number
    // of bytes delivered (fewer at the end of what a save writes, 0 past the real size), or none
    // where nothing can be read (a record that cannot be read, or past the last run). Sparse
    // stretches, bytes past the initialised size and clusters that cannot be read are zeros;
    // damaged is set where zeros stand for data the volume could not give, or the data cannot
    // be whole. units keeps the last compression unit decompressed.
    std::optional<std::size_t> readStream(const StreamLayout& layout, UnitCache& units, std::uint64_t offset,
                                          std::span<std::uint8_t> buffer, bool& damaged);
    // Tells the user an entry's record cannot be read as a file record.
    void noticeInvalidEntry();

    // One stretch of a file's data on the volume: the bytes from fileOffset, length long, lie
    // at volumeOffset.
    struct DataExtent {
        std::uint64_t fileOffset = 0;
        std::uint64_t volumeOffset = 0;
        std::uint64_t length = 0;
    };
    // Where entry i's data lie when its extraction copies them straight from clusters of the
    // volume (not resident, compressed or damaged; the runs inside the volume and covering the
    // data): the extents in file order (sparse runs have none), the data's real and initialised
    // size. False otherwise.
    bool dataExtents(std::uint64_t i, std::vector<DataExtent>& extents, std::uint64_t& realSize,
                     std::uint64_t& initializedSize);
    // The volume the parser reads through.
    const VolumeView& view() const { return reader_; }
    // Gives entry i a new name (the recycle-bin pass).
    void rename(std::uint64_t i, const std::u16string& name);

    // State shared with the scan session.
    RecoveryMode mode = RecoveryMode::Standard;
    std::vector<MftEntry> entries;
    std::vector<std::uint64_t> extensionRecords;
    std::vector<MftRun> mftRuns;
    std::vector<MftEntry> foundMftRecords;  // record 0 of each MFT copy the search found
    std::uint64_t clusterSize = 0;
    std::uint64_t volumeBytes = 0;
    std::uint32_t recordsPerCluster = 0;
    bool mftReady = false;
    bool runFromFirstEntry = true;
    bool seekMftName = true;
    bool hasDataAttribute = false;
    bool hasAttributeList = false;
    std::uint64_t orphanIndex = ~0ull;
    std::uint64_t rootIndex = 5;
    TreeItem rootItem = 0;

private:
    bool readRecordBytes(std::uint64_t location, RecordBytes& bytes);
    void parseRecordBytes(RecordBytes& bytes, std::uint64_t i);
    // Appends the record found at a volume offset by a scan and decodes it; returns its index.
    std::uint64_t addFoundRecord(std::uint64_t location);
    const char16_t* keepName(std::u16string name);
    bool readAttributeListBytes(const RecordBytes& record, const AttributeHeader& a, std::vector<std::uint8_t>& out);
    std::uint64_t volumeClusters() const;
    bool readClusters(std::int64_t lcn, std::uint64_t count, std::uint8_t* out);
    void readPlain(const StreamLayout& layout, std::uint64_t offset, std::uint64_t end, std::uint8_t* out,
                   bool& damaged);
    void decompressUnit(const StreamLayout& layout, std::uint64_t unit, UnitCache& cache);
    void orphanChildrenOfNonFolders();
    void scanForMftRecord();
    void clusterSizeFromBootSector();
    void takeNames(const RecordBytes& bytes, std::uint64_t target);
    // Walks the volume up to limit in 10 MiB chunks, 512 bytes at a time; beforeChunk(n) may
    // end the walk; onRecord(location) for every slot taken as a record. Returns the chunks begun.
    std::uint64_t scanVolume(std::uint64_t limit, const std::function<bool(std::uint64_t)>& beforeChunk,
                             const std::function<void(std::uint64_t)>& onRecord);

    VolumeView reader_;  // the volume, from its first byte
    ScanHost& host_;
    ResultTree* tree_;
    VolumeRecord volume_;
    std::vector<std::uint8_t> bootSector_;
    std::deque<std::u16string> names_;
    std::vector<bool> dosName_;
    std::vector<std::int64_t> tail_;  // last child linked under each parent while the tree is built
    std::uint64_t parsePosition_ = ~0ull;  // the record buildTree is decoding
    std::uint64_t mftBytes_ = 0;           // the MFT's own data size, when its record gave one
    bool searching_ = false;               // the MFT-copy search is running
    // Records found by a search, by the record number they carry.
    std::map<std::uint64_t, std::uint64_t> recordIndex_;
    std::map<std::uint64_t, std::uint64_t> recordLocations_;
    std::map<std::uint64_t, std::vector<std::uint64_t>> pendingExtensions_;
};

}  // namespace corvello
