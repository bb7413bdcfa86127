#pragma once
// What the drive and volume listing asks of the operating system: the block-device folder of
// the kernel, the mount table, file-system sizes and whether a device can be opened for
// reading. Every root is a parameter so that the listing can run on a prepared tree.

#include <cstdint>
#include <string>
#include <vector>

namespace corvello::platform {

// Names in a folder (without "." and ".."), unsorted; empty when the folder cannot be read.
std::vector<std::string> listDirectory(const std::string& path);
// Reads a small text file whole (at most limit bytes). False when it cannot be read.
bool readTextFile(const std::string& path, std::string& text, std::size_t limit = 1 << 20);
bool pathExists(const std::string& path);
// Total size of the file system mounted at mountPoint (statvfs: blocks × fragment size).
bool fileSystemTotalBytes(const std::string& mountPoint, std::uint64_t& bytes);
// Opens path read-only and closes it again: 0 when that works, else the error code. When it
// works and firstBytes is given, the first firstBytes->size() bytes are read into it (the rest
// zero when the object is shorter).
int probeRead(const std::string& path, std::vector<std::uint8_t>* firstBytes = nullptr);
// Whether the program runs with administrator (root) rights.
bool isAdministrator();
// Whether the file descriptor is a terminal.
bool isTerminal(int fd);
// True for the error codes that mean "not allowed" (EACCES, EPERM).
bool isPermissionError(int error);

}  // namespace corvello::platform
