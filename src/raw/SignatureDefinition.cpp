#include "raw/SignatureDefinition.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "platform/RawFile.h"
#include "raw/CarvingEngine.h"

namespace corvello {

namespace {

// Record layout (little-endian integers, UTF-16LE text).
constexpr std::size_t kExtensionAt = 0;
constexpr std::size_t kExtensionLengthAt = 10;
constexpr std::size_t kStartSignatureAt = 11;
constexpr std::size_t kEndSignatureAt = 21;
constexpr std::size_t kStartLengthAt = 31;
constexpr std::size_t kEndLengthAt = 32;
constexpr std::size_t kRecordNumberAt = 33;
constexpr std::size_t kSizeOffsetAt = 34;
constexpr std::size_t kSizeWidthAt = 38;
constexpr std::size_t kHeaderSizeAt = 42;
constexpr std::size_t kIncludesHeaderAt = 46;
constexpr std::size_t kApproximateSizeAt = 51;
constexpr std::size_t kSkipSizeAt = 59;
constexpr std::size_t kCategoryAt = 67;
constexpr std::size_t kCategoryBytes = 100;

void put16(DefinitionBytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(DefinitionBytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put64(DefinitionBytes& b, std::size_t at, std::uint64_t v) {
    for (std::size_t i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::u16string readWide(ByteSpan b, std::size_t at, std::size_t maxChars) {
    std::u16string text;
    for (std::size_t i = 0; i < maxChars; ++i) {
        const auto c = static_cast<char16_t>(le16(b, at + 2 * i));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v'; }

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Splits a signature text at "," into byte values. Empty pieces are skipped; each piece is a
// hexadecimal number with an optional "0x", read up to its first non-digit, of which the low
// byte is kept. A piece without any hexadecimal digit is refused.
bool parseSignature(std::u16string_view text, std::vector<std::uint8_t>& bytes, std::u16string& badPiece) {
    bytes.clear();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(u',', start);
        if (comma == std::u16string_view::npos) comma = text.size();
        std::u16string_view piece = text.substr(start, comma - start);
        std::size_t i = 0;
        while (i < piece.size() && isSpace(piece[i])) ++i;
        if (i < piece.size()) {
            if (piece.size() - i >= 2 && piece[i] == u'0' && (piece[i + 1] == u'x' || piece[i + 1] == u'X') &&
                (i + 2 >= piece.size() || hexDigit(piece[i + 2]) >= 0))
                i += 2;
            unsigned value = 0;
            bool any = false;
            for (; i < piece.size() && hexDigit(piece[i]) >= 0; ++i) {
                value = ((value << 4) | static_cast<unsigned>(hexDigit(piece[i]))) & 0xFFFu;
                any = true;
            }
            if (!any) {
                badPiece = trimmed(piece);
                return false;
            }
            bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        }
        start = comma + 1;
    }
    return true;
}

template <typename T>
T heldTo(std::int64_t v) {
    return static_cast<T>(std::clamp<std::int64_t>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

}  // namespace

DefinitionBytes encodeRecord(const SignatureRecord& r) {
    DefinitionBytes b{};
    for (std::size_t i = 0; i < kMaxExtensionChars && i < r.extension.size(); ++i)
        put16(b, kExtensionAt + 2 * i, r.extension[i]);
    b[kExtensionLengthAt] = r.extensionLength;
    std::copy(r.startSignature.begin(), r.startSignature.end(), b.begin() + kStartSignatureAt);
    std::copy(r.endSignature.begin(), r.endSignature.end(), b.begin() + kEndSignatureAt);
    b[kStartLengthAt] = r.startLength;
    b[kEndLengthAt] = r.endLength;
    b[kRecordNumberAt] = r.recordNumber;
    put32(b, kSizeOffsetAt, static_cast<std::uint32_t>(r.sizeOffset));
    put32(b, kSizeWidthAt, static_cast<std::uint32_t>(r.sizeWidth));
    put32(b, kHeaderSizeAt, static_cast<std::uint32_t>(r.headerSize));
    b[kIncludesHeaderAt] = r.sizeIncludesHeader ? 1 : 0;
    put64(b, kApproximateSizeAt, static_cast<std::uint64_t>(r.approximateSize));
    put64(b, kSkipSizeAt, static_cast<std::uint64_t>(r.skipSize));
    for (std::size_t i = 0; i < kMaxCategoryChars && i < r.category.size(); ++i)
        put16(b, kCategoryAt + 2 * i, r.category[i]);
    return b;
}

SignatureRecord decodeRecord(ByteSpan b) {
    SignatureRecord r;
    if (b.size() < kDefinitionRecordSize) return r;
    r.extension = readWide(b, kExtensionAt, kMaxExtensionChars);
    r.extensionLength = b[kExtensionLengthAt];
    std::copy_n(b.begin() + kStartSignatureAt, kMaxSignatureBytes, r.startSignature.begin());
    std::copy_n(b.begin() + kEndSignatureAt, kMaxSignatureBytes, r.endSignature.begin());
    r.startLength = b[kStartLengthAt];
    r.endLength = b[kEndLengthAt];
    r.recordNumber = b[kRecordNumberAt];
    r.sizeOffset = static_cast<std::int32_t>(le32(b, kSizeOffsetAt));
    r.sizeWidth = static_cast<std::int32_t>(le32(b, kSizeWidthAt));
    r.headerSize = static_cast<std::int32_t>(le32(b, kHeaderSizeAt));
    r.sizeIncludesHeader = b[kIncludesHeaderAt] != 0;
    r.approximateSize = static_cast<std::int64_t>(le64(b, kApproximateSizeAt));
    r.skipSize = static_cast<std::int64_t>(le64(b, kSkipSizeAt));
    // A record written by a foreign tool may lack the terminator: the field holds 50 characters.
    r.category = readWide(b, kCategoryAt, kCategoryBytes / 2);
    return r;
}

std::u16string SignatureKey::extensionText() const {
    std::u16string text;
    for (char16_t c : extension) {
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

SignatureKey makeSignatureKey(const SignatureRecord& r, std::uint8_t signatureIndex) {
    SignatureKey k;
    for (std::size_t i = 0; i < kMaxExtensionChars && i < r.extension.size(); ++i) k.extension[i] = r.extension[i];
    k.extensionLength = r.extensionLength;
    k.startSignature = r.startSignature;
    k.endSignature = r.endSignature;
    k.startLength = static_cast<std::uint8_t>(std::min<std::size_t>(r.startLength, kMaxSignatureBytes));
    k.endLength = static_cast<std::uint8_t>(std::min<std::size_t>(r.endLength, kMaxSignatureBytes));
    k.signatureIndex = signatureIndex;
    return k;
}

SignatureParams makeSignatureParams(const SignatureRecord& r) {
    SignatureParams p;
    p.startLength = static_cast<std::uint8_t>(std::min<std::size_t>(r.startLength, kMaxSignatureBytes));
    p.endLength = static_cast<std::uint8_t>(std::min<std::size_t>(r.endLength, kMaxSignatureBytes));
    p.extension = r.extension.substr(0, kMaxExtensionChars);
    p.sizeOffset = r.sizeOffset > 0 ? r.sizeOffset : -1;
    p.sizeWidth = r.sizeWidth;
    p.headerSize = r.headerSize;
    p.sizeIncludesHeader = r.sizeIncludesHeader;
    p.approximateSize = r.approximateSize;
    p.skipSize = r.skipSize;
    p.category = r.category;
    return p;
}

std::int64_t leadingDecimal(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    // Accumulate as a negative number so that the most negative value fits.
    std::int64_t value = 0;
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const int digit = text[i] - u'0';
        if (value < (kMin + digit) / 10) {
            value = kMin;
            continue;
        }
        value = value * 10 - digit;
    }
    if (negative) return value;
    return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

std::optional<SignatureRecord> parseDefinition(const DefinitionFields& f, std::string& message) {
    SignatureRecord r;
    if (f.extension.empty()) {
        message = "extention length is zero..";
        return std::nullopt;
    }
    r.extension = f.extension.substr(0, kMaxExtensionChars);
    r.extensionLength = static_cast<std::uint8_t>(std::min<std::size_t>(f.extension.size(), 255));

    std::vector<std::uint8_t> bytes;
    std::u16string bad;
    if (!parseSignature(f.startSignature, bytes, bad)) {
        message = "\"" + toUtf8(bad) + "\" in the starting signature is not a hexadecimal byte value..";
        return std::nullopt;
    }
    if (bytes.empty()) {
        message = "signature length is zero..";
        return std::nullopt;
    }
    if (bytes.size() > kMaxSignatureBytes) {
        message = "starting signature has more than 10 bytes..";
        return std::nullopt;
    }
    std::copy(bytes.begin(), bytes.end(), r.startSignature.begin());
    r.startLength = static_cast<std::uint8_t>(bytes.size());

    if (!parseSignature(f.endSignature, bytes, bad)) {
        message = "\"" + toUtf8(bad) + "\" in the ending signature is not a hexadecimal byte value..";
        return std::nullopt;
    }
    if (bytes.size() > kMaxSignatureBytes) {
        message = "ending signature has more than 10 bytes..";
        return std::nullopt;
    }
    std::copy(bytes.begin(), bytes.end(), r.endSignature.begin());
    r.endLength = static_cast<std::uint8_t>(bytes.size());

    if (f.category.size() > kMaxCategoryChars) {
        message = "category name is longer than 49 characters..";
        return std::nullopt;
    }

    const auto sizeOffset = heldTo<std::int32_t>(leadingDecimal(f.sizeOffset));
    if (sizeOffset != 0) r.sizeOffset = sizeOffset;
    r.sizeWidth = heldTo<std::int32_t>(leadingDecimal(f.sizeWidth));
    r.headerSize = heldTo<std::int32_t>(leadingDecimal(f.headerSize));
    r.sizeIncludesHeader = f.sizeIncludesHeader;
    // Sizes are 64-bit: a file of several GiB must be describable.
    r.approximateSize = leadingDecimal(f.approximateSize);
    r.skipSize = leadingDecimal(f.skipSize);
    if (!f.category.empty()) r.category = f.category;
    return r;
}

bool DefinitionFile::create(const std::string& path) {
    length_ = 0;
    // The user chose this file by name (and confirmed replacing it): it is emptied, not kept.
    return file_.replace(path);
}

bool DefinitionFile::append(const DefinitionBytes& bytes) {
    if (!file_.write(bytes.data(), bytes.size())) return false;
    length_ += bytes.size();
    return true;
}

void DefinitionFile::close() {
    file_.close();
    length_ = 0;
}

bool writeDefinition(DefinitionFile& file, const DefinitionFields& fields, ScanHost& host) {
    if (!file.isOpen()) return false;
    std::string message;
    std::optional<SignatureRecord> record = parseDefinition(fields, message);
    if (!record) {
        host.notice(message);
        return false;
    }
    record->recordNumber = static_cast<std::uint8_t>((file.length() / kDefinitionRecordSize) & 0xFF);
    if (!file.append(encodeRecord(*record))) {
        host.notice("file can not be written..");
        return false;
    }
    host.notice("everything initialized well.....");
    return true;
}

bool loadDefinitions(CarvingEngine& engine, const std::string& path, bool defaultSet, ScanHost& host) {
    platform::RawFile file;
    if (path.empty() || !file.open(path)) {
        if (defaultSet) return false;
        host.notice("can not open file");
        return false;
    }
    std::uint64_t length = 0;
    if (!file.size(length)) length = 0;
    const std::uint64_t records = length / kDefinitionRecordSize;
    if (records == 0) {
        // An empty default set simply has nothing to add.
        if (defaultSet && length == 0) return false;
        host.notice("not a valid file..");
        return false;
    }
    const std::uint64_t lastOffset = (records - 1) * kDefinitionRecordSize;
    DefinitionBytes last{};
    if (lastOffset > kMaxLastRecordOffset ||
        file.readAt(last.data(), last.size(), static_cast<std::int64_t>(lastOffset)) != last.size()) {
        host.notice("not a valid file..");
        return false;
    }
    const SignatureRecord lastRecord = decodeRecord(ByteSpan(last));
    if (!defaultSet && (lastRecord.sizeWidth > 8)) {
        host.notice("not a valid file..");
        return false;
    }

    // The last record's number tells how many records to read; never more than the file holds.
    const std::uint64_t count = std::min<std::uint64_t>(std::uint64_t{lastRecord.recordNumber} + 1, records);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(count * kDefinitionRecordSize));
    if (file.readAt(data.data(), data.size(), 0) != data.size()) {
        host.notice("not a valid file..");
        return false;
    }
    std::uint64_t refused = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (engine.definitionCount() >= kMaxDefinitions) {
            ++refused;
            continue;
        }
        const SignatureRecord r =
            decodeRecord(ByteSpan(data).subspan(static_cast<std::size_t>(i * kDefinitionRecordSize), kDefinitionRecordSize));
        engine.addDefinition(r);
    }
    if (refused > 0)
        host.setStatus(format("only %zu signature definitions can take part in one run: %llu more were left out.",
                              kMaxDefinitions, static_cast<unsigned long long>(refused)));
    return true;
}

}  // namespace corvello
