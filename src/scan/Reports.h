#pragma once
// The reports of a scanned volume's entries: the tab-separated listing, CSV, JSON Lines, Digital
// Forensics XML and the bodyfile that timeline tools read. Every format holds the same entries in
// the same order; times are written in UTC. The CLI's list and the wizard's export write them.

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "scan/ScanSession.h"

namespace corvello {

enum class ListFormat { Tsv, Csv, Json, Dfxml, Body };

// The format named by the --format value, or nothing for an unknown name.
std::optional<ListFormat> listFormatNamed(std::string_view name);
inline constexpr const char* kListFormatNames = "tsv, csv, json, dfxml or body";

// One entry of the listing.
struct ListRow {
    bool folder = false;
    bool deleted = false;
    std::uint64_t size = 0;
    std::string path;            // as the tab-separated listing prints it
    std::string recoverability;  // --long only: "-" for live files and folders
    EntryTimes times;
    std::vector<ByteRun> runs;   // DFXML only: where the file's data lie on the volume
};

// What the reports say of the source: the image's name, and where the volume starts on it (the
// byte runs' image offsets count from the image's start).
struct ReportSource {
    std::string image;
    std::uint64_t volumeStart = 0;
};

class ListWriter {
public:
    virtual ~ListWriter() = default;
    virtual void begin() {}
    virtual void row(const ListRow& row) = 0;
    virtual void end() {}
};

// A writer of the format onto out. longForm adds the recoverability field where the format has
// no place of its own for it; source is named in the formats that record it.
std::unique_ptr<ListWriter> makeListWriter(ListFormat format, std::ostream& out, bool longForm,
                                           const ReportSource& source);

// Writes the report of every entry below records (the top level of the results tree, or a
// folder's children), every level, in the order the save walk takes them. Paths are made safe
// for a terminal as the listing prints them; longForm adds whether a deleted file's data are
// still there. DFXML gives each file's byte runs where the family tells them.
void writeReport(const ScanSession& session, const std::vector<ItemData>& records, ListFormat format,
                 std::ostream& out, bool longForm, const ReportSource& source);

// A point in time as ISO 8601 in UTC ("2024-03-01T12:34:56Z", with the fraction of a second
// when there is one); empty when it has no calendar date.
std::string isoUtc(const platform::UnixTime& t);

}  // namespace corvello
