#pragma once
// What the carving engine knows of the file formats it carves: whether the bytes at a start
// signature begin a real file of the kind, and where that file ends. Each check walks the
// format's own structure (markers, chunks, boxes, records, directories) and reads only what the
// walk needs. The checks live in src/raw/formats/, one file per group of formats; the table in
// FileFormats.cpp lists every format once, with the extensions that name it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvello {

class CarveSource;

namespace formats {
struct Walk;
}

struct FormatVerdict {
    bool isFile = false;        // false: the start is not a file of this kind, nothing is carved
    bool partial = false;       // the structure breaks off: size covers its last sound part
    std::int64_t size = 0;      // bytes from the start
    std::int64_t endMarker = -1;  // offset from the start of the format's end marker, -1 if none
};

// A format's check: the verdict on the bytes a walk covers, from the start signature on.
using FormatCheck = FormatVerdict (*)(const formats::Walk& w);

// One format whose structure the engine knows. A definition whose extension names none has no
// known structure: its signatures and size fields alone decide.
struct FileFormat {
    std::string_view name;
    std::string_view extensions;  // lower case, separated by spaces
    FormatCheck check = nullptr;
    // Its contents (pixels, samples, media data) go unchecked, so a file found inside it that
    // runs past its end shows that it was cut there.
    bool contentsUnchecked = false;
    // Any of its packs could begin a file of its own: inside a whole one, they are its own.
    bool packsLookLikeStarts = false;
};

// Every format the engine knows, in table order.
std::span<const FileFormat> knownFormats();

// The format a definition's extension names (case does not matter); nullptr for any other.
const FileFormat* formatForExtension(std::u16string_view extension);

// Checks the bytes at start as a file of the given format of at most limit bytes (the end of
// the range or the definition's approximate size, whichever comes first).
FormatVerdict checkFormat(const FileFormat& format, CarveSource& source, std::int64_t start, std::int64_t limit);

}  // namespace corvello
