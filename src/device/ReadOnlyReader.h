#pragma once
// The one read-only interface through which every byte of a medium is read. Positions are byte
// offsets counted from baseOffset. Nothing in the program moves baseOffset from 0: a parser
// addresses its volume from byte 0 through a VolumeView (reader, start, length), which adds the
// volume's start itself, so that readers of different volumes never share a position.
// (readWriteInterface in the original design: it only ever reads.)

#include <cstdint>
#include <string>

namespace corvello {

inline constexpr int FILE_BEGIN = 0;
inline constexpr int FILE_CURRENT = 1;
inline constexpr int FILE_END = 2;

inline constexpr std::uint32_t kSectorSize = 512;

class ReadOnlyReader {
public:
    virtual ~ReadOnlyReader() = default;

    // Opens a device or image file (UTF-8 path) read-only.
    virtual bool open(const std::string& path) = 0;
    // Reads count bytes at the current position. Returns true when all count bytes arrived;
    // when some but not all arrived, the rest of the count bytes in buffer are zero; when none
    // arrived, buffer is left as it was.
    virtual bool read(void* /*buffer*/, std::uint32_t /*count*/) { return true; }
    // Moves to offset + baseOffset (FILE_BEGIN).
    virtual bool seek(std::int64_t /*offset*/, int /*method*/ = FILE_BEGIN) { return true; }

    std::int64_t baseOffset = 0;    // bytes added to every seek
    std::int64_t deviceLength = 0;  // length of the opened object as an ordinary file
};

}  // namespace corvello
