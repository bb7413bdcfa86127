#include "platform/ProgramPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "corvello_version.h"

namespace corvello::platform {

std::string programDirectory() {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

namespace {

// The folder that holds dir ("/usr/bin" gives "/usr", "/bin" gives "").
std::string parentOf(const std::string& dir) {
    const std::size_t slash = dir.rfind('/');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash);
}

}  // namespace

std::string dataFilePathFrom(const std::string& programDir, const std::string& name) {
    if (programDir.empty() || name.empty() || name.find('/') != std::string::npos) return {};
    // Installed: <prefix>/bin/corvello with <prefix>/share/corvello/. In a build tree the build
    // writes its data files into <build>/data/, and the binaries lie one or two levels below it.
    const std::string dir = programDir == "/" ? std::string() : programDir;
    const std::string up = parentOf(dir);
    const std::string candidates[] = {
        up + "/share/corvello/" + name,
        dir + "/" + name,
        up + "/data/" + name,
        parentOf(up) + "/data/" + name,
    };
    for (const std::string& candidate : candidates) {
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return candidate;
    }
    return {};
}

std::string dataFilePath(const std::string& name) { return dataFilePathFrom(programDirectory(), name); }

const char* programVersion() { return CORVELLO_VERSION; }

}  // namespace corvello::platform
