// Writes the default signature set, FileSetting.txt, with the signature editor's own record
// writer: each definition is given as the editor's fields would hold it.
//
//   corvello-make-settings OUTPUT

#include <cstdio>
#include <string>

#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "raw/SignatureDefinition.h"

namespace {

struct Default {
    const char* extension;
    const char* start;  // hexadecimal bytes; 2A matches any byte
    const char* end;
    const char* sizeOffset;
    const char* sizeWidth;
    const char* headerSize;
    bool sizeIncludesHeader;
    const char* approximateSize;
    const char* category;
};

constexpr const char* kMiB = "1048576";

// Earlier definitions win where two match the same bytes: the specific brands of the ISO media
// family come before the generic "ftyp", the Office Open XML header before plain ZIP.
const Default kDefaults[] = {
    // Pictures
    {"jpg", "0xFF,0xD8,0xFF", "0xFF,0xD9", "", "", "", false, "20971520", "Pictures"},
    {"png", "0x89,0x50,0x4E,0x47,0x0D,0x0A,0x1A,0x0A", "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82", "", "", "", false,
     "52428800", "Pictures"},
    {"gif", "0x47,0x49,0x46,0x38,0x2A,0x61", "0x00,0x3B", "", "", "", false, "10485760", "Pictures"},
    // "BM", the file size, then two reserved words that are zero.
    {"bmp", "0x42,0x4D,0x2A,0x2A,0x2A,0x2A,0x00,0x00,0x00,0x00", "", "2", "4", "0", true, "209715200", "Pictures"},
    {"tif", "0x49,0x49,0x2A,0x00", "", "", "", "", false, "52428800", "Pictures"},
    {"tif", "0x4D,0x4D,0x00,0x2A", "", "", "", "", false, "52428800", "Pictures"},
    // RIFF: the size at byte 4 leaves out the 8 bytes of "RIFF" and itself.
    {"webp", "0x52,0x49,0x46,0x46,0x2A,0x2A,0x2A,0x2A,0x57,0x45", "", "4", "4", "8", false, "52428800", "Pictures"},
    {"heic", "0x2A,0x2A,0x2A,0x2A,0x66,0x74,0x79,0x70,0x68,0x65", "", "", "", "", false, "20971520", "Pictures"},
    // Documents
    {"pdf", "0x25,0x50,0x44,0x46,0x2D", "0x25,0x25,0x45,0x4F,0x46,0x0A", "", "", "", false, "52428800", "Documents"},
    {"docx", "0x50,0x4B,0x03,0x04,0x14,0x00,0x06,0x00", "", "", "", "", false, "52428800", "Documents"},
    {"doc", "0xD0,0xCF,0x11,0xE0,0xA1,0xB1,0x1A,0xE1", "", "", "", "", false, "20971520", "Documents"},
    {"rtf", "0x7B,0x5C,0x72,0x74,0x66,0x31", "", "", "", "", false, "10485760", "Documents"},
    // Archives
    {"zip", "0x50,0x4B,0x03,0x04", "", "", "", "", false, "104857600", "Archives"},
    {"rar", "0x52,0x61,0x72,0x21,0x1A,0x07,0x00", "0xC4,0x3D,0x7B,0x00,0x40,0x07,0x00", "", "", "", false, "104857600",
     "Archives"},
    {"rar", "0x52,0x61,0x72,0x21,0x1A,0x07,0x01,0x00", "0x1D,0x77,0x56,0x51,0x03,0x05,0x04,0x00", "", "", "", false,
     "104857600", "Archives"},
    {"7z", "0x37,0x7A,0xBC,0xAF,0x27,0x1C", "", "", "", "", false, "104857600", "Archives"},
    {"gz", "0x1F,0x8B,0x08", "", "", "", "", false, "52428800", "Archives"},
    {"bz2", "0x42,0x5A,0x68,0x2A,0x31,0x41,0x59,0x26,0x53,0x59", "", "", "", "", false, "52428800", "Archives"},
    {"xz", "0xFD,0x37,0x7A,0x58,0x5A,0x00", "", "", "", "", false, "52428800", "Archives"},
    // Audio
    {"mp3", "0x49,0x44,0x33,0x2A,0x00", "", "", "", "", false, "15728640", "Audio"},
    // MP3 without a tag: the frame header of MPEG-1 and MPEG-2 layer III.
    {"mp3", "0xFF,0xFB", "", "", "", "", false, "15728640", "Audio"},
    {"mp3", "0xFF,0xF3", "", "", "", "", false, "15728640", "Audio"},
    {"wav", "0x52,0x49,0x46,0x46,0x2A,0x2A,0x2A,0x2A,0x57,0x41", "", "4", "4", "8", false, "2147483648", "Audio"},
    {"flac", "0x66,0x4C,0x61,0x43,0x2A,0x00,0x00,0x22", "", "", "", "", false, "62914560", "Audio"},
    {"ogg", "0x4F,0x67,0x67,0x53,0x00,0x02", "", "", "", "", false, "20971520", "Audio"},
    {"m4a", "0x2A,0x2A,0x2A,0x2A,0x66,0x74,0x79,0x70,0x4D,0x34", "", "", "", "", false, "31457280", "Audio"},
    {"mid", "0x4D,0x54,0x68,0x64,0x00,0x00,0x00,0x06", "", "", "", "", false, kMiB, "Audio"},
    // Video
    {"avi", "0x52,0x49,0x46,0x46,0x2A,0x2A,0x2A,0x2A,0x41,0x56", "", "4", "4", "8", false, "4294967304", "Video"},
    {"mov", "0x2A,0x2A,0x2A,0x2A,0x66,0x74,0x79,0x70,0x71,0x74", "", "", "", "", false, "1073741824", "Video"},
    {"3gp", "0x2A,0x2A,0x2A,0x2A,0x66,0x74,0x79,0x70,0x33,0x67", "", "", "", "", false, "104857600", "Video"},
    {"mp4", "0x2A,0x2A,0x2A,0x2A,0x66,0x74,0x79,0x70", "", "", "", "", false, "1073741824", "Video"},
    {"mkv", "0x1A,0x45,0xDF,0xA3", "", "", "", "", false, "1073741824", "Video"},
    {"wmv", "0x30,0x26,0xB2,0x75,0x8E,0x66,0xCF,0x11,0xA6,0xD9", "", "", "", "", false, "524288000", "Video"},
    {"flv", "0x46,0x4C,0x56,0x01", "", "", "", "", false, "209715200", "Video"},
    {"mpg", "0x00,0x00,0x01,0xBA", "", "", "", "", false, "209715200", "Video"},
    // Databases
    {"db", "0x53,0x51,0x4C,0x69,0x74,0x65,0x20,0x66,0x6F,0x72", "", "", "", "", false, "209715200", "Databases"},
    {"mdb", "0x00,0x01,0x00,0x00,0x53,0x74,0x61,0x6E,0x64,0x61", "", "", "", "", false, "104857600", "Databases"},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvello-make-settings OUTPUT\n");
        return 2;
    }
    corvello::DefinitionFile file;
    if (!file.create(argv[1])) {
        std::fprintf(stderr, "corvello-make-settings: cannot create %s\n", argv[1]);
        return 1;
    }
    corvello::MemoryScanHost host;
    for (const Default& d : kDefaults) {
        corvello::DefinitionFields fields;
        fields.extension = corvello::fromUtf8(d.extension);
        fields.startSignature = corvello::fromUtf8(d.start);
        fields.endSignature = corvello::fromUtf8(d.end);
        fields.sizeOffset = corvello::fromUtf8(d.sizeOffset);
        fields.sizeWidth = corvello::fromUtf8(d.sizeWidth);
        fields.headerSize = corvello::fromUtf8(d.headerSize);
        fields.sizeIncludesHeader = d.sizeIncludesHeader;
        fields.approximateSize = corvello::fromUtf8(d.approximateSize);
        fields.skipSize = corvello::fromUtf8("0");
        fields.category = corvello::fromUtf8(d.category);
        if (!corvello::writeDefinition(file, fields, host)) {
            std::fprintf(stderr, "corvello-make-settings: %s: %s\n", d.extension, host.notices().empty() ? "refused" : host.notices().back().c_str());
            return 1;
        }
    }
    file.close();
    return 0;
}
