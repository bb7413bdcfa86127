#pragma once
// What the carving engine knows of the file formats it carves: whether the bytes at a start
// signature begin a real file of the kind, and where that file ends. Each check walks the
// format's own structure (markers, chunks, boxes, records, directories) and reads only what the
// walk needs.

#include <cstdint>
#include <string>

namespace corvello {

class CarveSource;

enum class FileFormat {
    Unknown,  // no structure known: the definition's signatures and size fields decide
    Jpeg,
    Png,
    Gif,
    Bmp,
    Riff,      // WAV, AVI, WebP
    Tiff,
    Pdf,
    Zip,       // ZIP and the Office and OpenDocument formats built on it
    Sqlite,
    Mp3,
    IsoMedia,  // MP4, MOV, 3GP, M4A, HEIC: the box chain
    SevenZip,
    Gzip,
    Ogg,
    Midi,
    Rar,
    Xz,
    Bzip2,
    Flac,
    Matroska,
    Asf,
    Flv,
    Mpeg,
    Ole,       // DOC, XLS, PPT: compound files
    Rtf,
};

// The format a definition's extension names (case does not matter); Unknown for any other.
FileFormat formatForExtension(std::u16string_view extension);

struct FormatVerdict {
    bool isFile = false;        // false: the start is not a file of this kind, nothing is carved
    bool partial = false;       // the structure breaks off: size covers its last sound part
    std::int64_t size = 0;      // bytes from the start
    std::int64_t endMarker = -1;  // offset from the start of the format's end marker, -1 if none
};

// Checks the bytes at start as a file of the given format of at most limit bytes (the end of
// the range or the definition's approximate size, whichever comes first).
FormatVerdict checkFormat(FileFormat format, CarveSource& source, std::int64_t start, std::int64_t limit);

}  // namespace corvello
