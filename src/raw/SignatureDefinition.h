#pragma once
// Signature definitions of raw recovery: the 171-byte settings record, the two in-memory forms
// the carving engine works on, the editor's writer and the settings-file reader.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/Bytes.h"
#include "common/ResultTree.h"
#include "platform/Files.h"

namespace corvello {

class ScanHost;
class CarvingEngine;

inline constexpr std::size_t kDefinitionRecordSize = 171;
inline constexpr std::size_t kMaxSignatureBytes = 10;
inline constexpr std::size_t kMaxExtensionChars = 4;
inline constexpr std::size_t kMaxCategoryChars = 49;
// signatureIndex is 8 bits and the engine's per-signature state covers indices 0..127.
inline constexpr std::size_t kMaxDefinitions = 128;
// The last record of a settings file must start at or below this byte offset.
inline constexpr std::uint64_t kMaxLastRecordOffset = 1048576;

// One definition as a settings record holds it (decoded, not packed).
struct SignatureRecord {
    std::u16string extension;  // the stored characters (at most four)
    std::uint8_t extensionLength = 0;  // characters the user typed
    std::array<std::uint8_t, kMaxSignatureBytes> startSignature{};
    std::array<std::uint8_t, kMaxSignatureBytes> endSignature{};
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;
    std::uint8_t recordNumber = 0xFF;
    std::int32_t sizeOffset = -1;
    std::int32_t sizeWidth = 0;
    std::int32_t headerSize = 0;
    bool sizeIncludesHeader = false;
    std::int64_t approximateSize = 0;
    std::int64_t skipSize = 0;
    std::u16string category;  // at most 49 characters
};

using DefinitionBytes = std::array<std::uint8_t, kDefinitionRecordSize>;

DefinitionBytes encodeRecord(const SignatureRecord& record);
// Decodes one record; bytes must hold at least 171 bytes (fewer decode as an empty record).
SignatureRecord decodeRecord(ByteSpan bytes);

// Bytes 0..33 of a record, with the record number replaced by the definition's position in the
// engine's lists. Signature lengths are limited to the 10 bytes the record has room for.
struct SignatureKey {
    std::array<char16_t, kMaxExtensionChars> extension{};
    std::uint8_t extensionLength = 0;
    std::array<std::uint8_t, kMaxSignatureBytes> startSignature{};
    std::array<std::uint8_t, kMaxSignatureBytes> endSignature{};
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;
    std::uint8_t signatureIndex = 0;

    // The extension read as a 0-terminated text.
    std::u16string extensionText() const;
};

// What the engine needs to delimit a file of one definition.
struct SignatureParams {
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;
    std::u16string extension;  // at most four characters
    std::int32_t sizeOffset = -1;  // -1 unless the record holds a value above 0
    std::int32_t sizeWidth = 0;
    std::int32_t headerSize = 0;
    bool sizeIncludesHeader = false;
    std::uint32_t reserved = 0;
    std::int64_t approximateSize = 0;
    std::int64_t skipSize = 0;
    std::u16string category;
    // Working fields of the engine: the category's tree item and two spare words.
    TreeItem categoryItem = 0;
    std::uint32_t working2 = 0;
    std::uint32_t working3 = 0;
};

SignatureKey makeSignatureKey(const SignatureRecord& record, std::uint8_t signatureIndex);
SignatureParams makeSignatureParams(const SignatureRecord& record);

// The texts of the signature editor's fields, as the user typed them.
struct DefinitionFields {
    std::u16string extension;
    std::u16string startSignature;  // hexadecimal byte values separated by ","
    std::u16string endSignature;
    std::u16string sizeOffset;  // decimal
    std::u16string sizeWidth;
    std::u16string headerSize;
    bool sizeIncludesHeader = false;
    std::u16string approximateSize;
    std::u16string skipSize;
    std::u16string category;
};

// Builds the record the editor's fields describe (record number left at 0xFF). On a refusal
// returns nothing and sets message to the text to show.
std::optional<SignatureRecord> parseDefinition(const DefinitionFields& fields, std::string& message);

// Leading decimal integer as the C library's conversion reads it (white space, sign, digits),
// held to the range of the result; 0 when there is none.
std::int64_t leadingDecimal(std::u16string_view text);

// A settings file the editor appends records to: created empty, then kept open.
class DefinitionFile {
public:
    bool create(const std::string& path);
    bool isOpen() const { return file_.isOpen(); }
    std::uint64_t length() const { return length_; }
    bool append(const DefinitionBytes& bytes);
    void close();

private:
    platform::OutputFile file_;
    std::uint64_t length_ = 0;
};

// Appends one record built from the fields to the open file; shows "extention length is
// zero..", "signature length is zero.." (or another refusal) or "everything initialized
// well.....". Returns whether a record was written. Does nothing when no file is open.
bool writeDefinition(DefinitionFile& file, const DefinitionFields& fields, ScanHost& host);

// Reads a settings file into the engine's lists. A user file that cannot be opened shows "can
// not open file", one that breaks the validity rules "not a valid file.."; both fail. The
// default set loads nothing when its path is empty or cannot be opened. Definitions beyond the
// 128th of a run are left out with a status text.
bool loadDefinitions(CarvingEngine& engine, const std::string& path, bool defaultSet, ScanHost& host);

}  // namespace corvello
