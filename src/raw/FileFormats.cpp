#include "raw/FileFormats.h"

#include <algorithm>

#include "raw/CarveSource.h"
#include "raw/formats/FormatChecks.h"

namespace corvello {

namespace {

using namespace formats;

constexpr bool kUnchecked = true;  // contentsUnchecked

// Every format the engine knows, each once. A new format is a check in src/raw/formats/ and a
// row here; the extensions are those a definition names it by.
constexpr FileFormat kFormats[] = {
    // name         extensions                         check          contents unchecked
    {"JPEG",        "jpg jpeg jpe",                    checkJpeg},
    {"PNG",         "png",                             checkPng},
    {"GIF",         "gif",                             checkGif,      kUnchecked},
    {"BMP",         "bmp",                             checkBmp,      kUnchecked},
    {"RIFF",        "wav avi webp",                    checkRiff,     kUnchecked},
    {"TIFF",        "tif tiff",                        checkTiff,     kUnchecked},
    {"PDF",         "pdf",                             checkPdf},
    // ZIP and the Office and OpenDocument formats built on it
    {"ZIP",         "zip docx xlsx pptx odt ods odp epub jar", checkZip},
    {"SQLite",      "db sqli",                         checkSqlite},
    {"MP3",         "mp3",                             checkMp3},
    // ISO base media: the box chain
    {"ISO media",   "mp4 mov 3gp m4a m4v heic heif",   checkIsoMedia, kUnchecked},
    {"7z",          "7z",                              checkSevenZip},
    {"gzip",        "gz tgz",                          checkGzip},
    {"Ogg",         "ogg oga ogv opus",                checkOgg},
    {"MIDI",        "mid midi",                        checkMidi},
    {"RAR",         "rar",                             checkRar},
    {"xz",          "xz",                              checkXz},
    {"bzip2",       "bz2",                             checkBzip2},
    {"FLAC",        "flac",                            checkFlac},
    {"Matroska",    "mkv webm",                        checkMatroska, kUnchecked},
    {"ASF",         "wmv wma asf",                     checkAsf,      kUnchecked},
    {"FLV",         "flv",                             checkFlv,      kUnchecked},
    {"MPEG",        "mpg mpeg vob",                    checkMpeg,     kUnchecked, /*packsLookLikeStarts*/ true},
    // compound files: DOC, XLS, PPT, MSG
    {"compound file", "doc xls ppt msg",               checkOle,      kUnchecked},
    {"RTF",         "rtf",                             checkRtf},
};

// Whether the space-separated list holds the extension.
bool listed(std::string_view list, std::string_view extension) {
    while (!list.empty()) {
        const std::size_t gap = list.find(' ');
        if (list.substr(0, gap) == extension) return true;
        if (gap == std::string_view::npos) break;
        list.remove_prefix(gap + 1);
    }
    return false;
}

}  // namespace

std::span<const FileFormat> knownFormats() { return kFormats; }

const FileFormat* formatForExtension(std::u16string_view extension) {
    std::string e;
    for (const char16_t c : extension) {
        if (c == 0) break;
        e.push_back(c < 0x80 ? static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c) : '?');
    }
    if (e.empty()) return nullptr;
    for (const FileFormat& format : kFormats)
        if (listed(format.extensions, e)) return &format;
    return nullptr;
}

FormatVerdict checkFormat(const FileFormat& format, CarveSource& source, std::int64_t start, std::int64_t limit) {
    const Walk w{source, start, std::max<i64>(0, std::min(limit, source.end() - start))};
    return format.check != nullptr ? format.check(w) : notAFile();
}

}  // namespace corvello
