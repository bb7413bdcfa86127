#include "platform/SystemInfo.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace corvello::platform {

std::vector<std::string> listDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool readTextFile(const std::string& path, std::string& text, std::size_t limit) {
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    bool ok = true;
    while (text.size() < limit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - text.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool fileSystemTotalBytes(const std::string& mountPoint, std::uint64_t& bytes) {
    struct statvfs st {};
    if (::statvfs(mountPoint.c_str(), &st) != 0) return false;
    bytes = static_cast<std::uint64_t>(st.f_blocks) * static_cast<std::uint64_t>(st.f_frsize);
    return true;
}

int probeRead(const std::string& path, std::vector<std::uint8_t>* firstBytes) {
    // Read-only, like every access to a medium; O_NONBLOCK keeps an empty tray from waiting.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return EISDIR;
    }
    if (firstBytes != nullptr) {
        std::fill(firstBytes->begin(), firstBytes->end(), std::uint8_t{0});
        std::size_t got = 0;
        while (got < firstBytes->size()) {
            const ssize_t n = ::pread(fd, firstBytes->data() + got, firstBytes->size() - got, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return 0;
}

bool isPermissionError(int error) { return error == EACCES || error == EPERM; }

bool isAdministrator() { return ::geteuid() == 0; }

bool isTerminal(int fd) { return ::isatty(fd) == 1; }

}  // namespace corvello::platform
