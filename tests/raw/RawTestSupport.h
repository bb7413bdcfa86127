#pragma once
// Helpers of the raw-recovery tests: images with bytes at chosen offsets, definitions in a few
// words, and a host that keeps the progress it was given.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "raw/SignatureDefinition.h"

namespace corvello::test {

using Bytes = std::vector<std::uint8_t>;

// A sparse image of size bytes (zeros) with the given pieces written at their offsets.
inline void writeImage(const std::string& path, std::int64_t size, const std::vector<std::pair<std::int64_t, Bytes>>& pieces) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& [offset, bytes] : pieces) {
        out.seekp(offset);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    out.close();
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes filled(std::size_t n, std::uint8_t value) { return Bytes(n, value); }

// A definition record in a few words.
inline SignatureRecord definition(const std::u16string& extension, Bytes start, Bytes end, std::int64_t approximate,
                                  const std::u16string& category, std::int64_t skip = 0) {
    SignatureRecord r;
    r.extension = extension.substr(0, 4);
    r.extensionLength = static_cast<std::uint8_t>(extension.size());
    r.startLength = static_cast<std::uint8_t>(start.size());
    r.endLength = static_cast<std::uint8_t>(end.size());
    std::copy(start.begin(), start.end(), r.startSignature.begin());
    std::copy(end.begin(), end.end(), r.endSignature.begin());
    r.approximateSize = approximate;
    r.skipSize = skip;
    r.category = category;
    return r;
}

// Writes records as a settings file, numbering them 0, 1, 2, ... (low byte).
inline void writeSettings(const std::string& path, const std::vector<SignatureRecord>& records) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SignatureRecord r = records[i];
        r.recordNumber = static_cast<std::uint8_t>(i & 0xFF);
        const DefinitionBytes bytes = encodeRecord(r);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}

// A host that keeps every progress range and position it was given.
class RecordingHost : public MemoryScanHost {
public:
    void setProgressRange(std::int64_t low, std::int64_t high) override {
        ranges.emplace_back(low, high);
        MemoryScanHost::setProgressRange(low, high);
    }
    void setProgressPos(std::int64_t pos) override {
        positions.push_back(pos);
        if (stopAtPos >= 0 && pos == stopAtPos) requestStop();
        MemoryScanHost::setProgressPos(pos);
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    std::vector<std::int64_t> positions;
    std::int64_t stopAtPos = -1;  // requests a stop when this position is reported
};

}  // namespace corvello::test
