// Runs a fuzz target once over each file of the given files and folders (the seed corpus).

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
int runOne(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return 1;
}
}  // namespace

int main(int argc, char** argv) {
    int runs = 0;
    for (int k = 1; k < argc; ++k) {
        const std::filesystem::path arg(argv[k]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file()) runs += runOne(entry.path());
        } else {
            runs += runOne(arg);
        }
    }
    std::printf("%d seed(s) ran\n", runs);
    return runs > 0 ? 0 : 1;
}
