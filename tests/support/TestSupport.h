#pragma once
// Helpers the tests share: fixture paths, manifests, scratch folders, running the CLI.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace corvello::test {

// Path of an unpacked fixture of tests/fixtures/images (without the .zst).
std::string fixture(const std::string& name);
// Path of a file in the shared reference folder; empty when the folder is not there.
std::string sharedFixture(const std::string& name);

struct ManifestEntry {
    std::string kind;   // "d" or "f"
    std::string state;  // "live" or "deleted"
    std::uint64_t size = 0;
    std::string sha256;
    std::string path;
};
// Reads NAME.manifest: one entry a line, tab-separated: kind, state, size, sha256, path.
std::vector<ManifestEntry> readManifest(const std::string& name);

std::string sha256File(const std::string& path);
std::string sha256(const std::vector<std::uint8_t>& bytes);

// A fresh, empty folder under the build tree, removed at exit of the test.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

struct CliResult {
    int status = 0;
    std::string out;
    std::string err;
};
CliResult runCli(const std::vector<std::string>& args);

// Lines of text split at '\n' (no trailing empty line).
std::vector<std::string> lines(const std::string& text);

// Runs an extraction into a new file at path (one left there by an earlier call is removed
// first); true when the extraction and the close both succeed.
template <class Extract>
bool extractTo(const std::string& path, Extract&& extract) {
    std::remove(path.c_str());
    platform::OutputFile out;
    if (!out.create(path)) return false;
    const bool ok = extract(out);
    return out.close() && ok;
}

}  // namespace corvello::test
