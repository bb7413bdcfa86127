#include "cli/CliSupport.h"

#include <array>
#include <charconv>
#include <iostream>

#include "cli/Unlocking.h"
#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "platform/SystemInfo.h"
#include "scan/Scan.h"
#include "scan/Volumes.h"

namespace corvello::cli {

Args::Args(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
           const std::set<std::string>& flags) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            std::string name = a;
            std::optional<std::string> inlineValue;
            if (const auto eq = a.find('='); eq != std::string::npos) {
                name = a.substr(0, eq);
                inlineValue = a.substr(eq + 1);
            }
            if (flags.count(name) != 0 && !inlineValue) {
                flags_.insert(name);
            } else if (valueOptions.count(name) != 0) {
                if (inlineValue) {
                    values_[name] = *inlineValue;
                } else {
                    if (i + 1 >= args.size()) throw UsageError{"option " + name + " needs a value."};
                    values_[name] = args[++i];
                }
            } else {
                throw UsageError{"unknown option " + name + "."};
            }
        } else {
            positionals_.push_back(a);
        }
    }
}

bool Args::has(const std::string& name) const { return flags_.count(name) != 0 || values_.count(name) != 0; }

std::optional<std::string> Args::value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::int64_t> Args::number(const std::string& name) const {
    const auto text = value(name);
    if (!text) return std::nullopt;
    std::int64_t v = 0;
    const auto* end = text->data() + text->size();
    const auto [ptr, ec] = std::from_chars(text->data(), end, v);
    if (ec != std::errc() || ptr != end) throw UsageError{"option " + name + " needs a whole number, not \"" + *text + "\"."};
    return v;
}

namespace {
bool quietMode = false;
std::atomic<bool> interrupted{false};
}

std::atomic<ConsoleHost*> ConsoleHost::active_{nullptr};

void interruptWork() {
    interrupted.store(true);
    if (ConsoleHost* host = ConsoleHost::active_.load()) host->requestStop();
}

bool workInterrupted() { return interrupted.load(); }

void stopIfInterrupted(const std::string& leftBehind) {
    if (workInterrupted()) throw Interrupted{"interrupted; " + leftBehind + "."};
}

void setQuiet(bool quiet) { quietMode = quiet; }

ProgressStyle progressStyleFor(const std::ostream& err) {
    if (quietMode || &err != &std::cerr || !platform::isTerminal(2)) return ProgressStyle::None;
    return ProgressStyle::Terminal;
}

ConsoleHost::ConsoleHost(std::ostream& err, bool showProgress)
    : ConsoleHost(err, showProgress ? progressStyleFor(err) : ProgressStyle::None) {}

ConsoleHost::ConsoleHost(std::ostream& err, ProgressStyle style)
    : err_(err), showProgress_(style == ProgressStyle::Terminal) {
    setObserver([this](const MemoryScanHost&) { draw(false); });
    active_.store(this);
    if (workInterrupted()) requestStop();
}

ConsoleHost::~ConsoleHost() {
    ConsoleHost* self = this;
    active_.compare_exchange_strong(self, nullptr);
    finishLine();
}

void ConsoleHost::draw(bool force) {
    if (!showProgress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(250)) return;
    lastDraw_ = now;
    const std::int64_t span = progressHigh() - progressLow();
    std::string line;
    if (span > 0) {
        const double pct = 100.0 * static_cast<double>(progressPos() - progressLow()) / static_cast<double>(span);
        line = format("[%5.1f%%] ", pct < 0 ? 0.0 : pct > 100 ? 100.0 : pct);
    }
    std::string status = terminalSafe(lastStatus());
    if (status.size() > 100) status = fitName(status, 97) + "...";
    line += status;
    err_ << "\r\033[K" << line << std::flush;
    lineOpen_ = true;
}

void ConsoleHost::finishLine() {
    if (lineOpen_) {
        draw(true);
        err_ << "\n";
        lineOpen_ = false;
    }
}

void ConsoleHost::notice(const std::string& text) {
    MemoryScanHost::notice(text);
    finishLine();
    err_ << terminalSafe(text) << "\n";
}

bool ConsoleHost::question(const std::string& text) {
    // The command line answers Yes: the user asked for the work on the command line.
    return MemoryScanHost::question(text);
}

void openImage(const std::string& path, OpenedImage& image, ScanHost& host) {
    image.selection.currentReader = std::make_unique<FileReadSeek>(&image.selection, nullptr);
    image.reader = image.selection.currentReader.get();
    image.path = path;
    if (!image.reader->open(path)) {
        const int error = image.reader->lastError();
        (void)host;
        std::string message = "cannot open " + path + " for reading: " + platform::errorText(error) + ".";
        if (platform::isPermissionError(error))
            message += " Reading it needs administrator rights: run the command again with sudo.";
        throw InputError{message};
    }
    if (image.reader->totalSectors() == 0 && image.reader->deviceLength < static_cast<std::int64_t>(kSectorSize))
        throw InputError{path + " is empty: it holds not one sector to read."};
}

VolumeRecord chooseVolume(OpenedImage& image, const Args& args, ScanHost& host, bool unlock) {
    VolumeRecord volume;
    const std::uint64_t totalSectors = image.reader->totalSectors();
    if (const auto n = args.number("--volume")) {
        if (args.has("--start")) throw UsageError{"give either --volume or --start, not both."};
        std::vector<VolumeRecord> volumes;
        if (const int error = readVolumeTables(*image.reader, args.has("--gpt"), volumes); error != 0 && volumes.empty())
            throw InputError{"cannot read the partition table of " + image.path + ": " + volumeTablesErrorText(error) + "."};
        if (*n < 0 || static_cast<std::uint64_t>(*n) >= volumes.size())
            throw UsageError{format("there is no volume %lld: %s lists %zu volume(s).", static_cast<long long>(*n),
                                    image.path.c_str(), volumes.size())};
        volume = volumes[static_cast<std::size_t>(*n)];
    } else if (const auto start = args.number("--start")) {
        if (!args.has("--fs")) throw UsageError{"--start needs --fs NAME."};
        if (*start < 0 || static_cast<std::uint64_t>(*start) >= totalSectors)
            throw UsageError{format("sector %lld lies outside %s.", static_cast<long long>(*start), image.path.c_str())};
        volume.startSector = *start;
        volume.locator = std::u16string(1, u'0');
        volume.sizeText = fromUtf8(format("%lld  MB", static_cast<long long>((totalSectors - static_cast<std::uint64_t>(*start)) / 2048)));
        volume.byteLength = static_cast<std::int64_t>((totalSectors - static_cast<std::uint64_t>(*start)) * 512);
    } else {
        volume = volumeAtStart(*image.reader);
        // An unreadable start (a damaged or cut container image) is no unknown file system.
        std::uint8_t first[512];
        if (volume.fileSystem.empty() && !args.has("--fs") && !image.reader->readAt(0, first, sizeof first))
            throw InputError{"reading " + image.path + " stopped: " + platform::errorText(image.reader->lastError()) + "."};
        if (volume.fileSystem.empty() && !args.has("--fs"))
            throw InputError{"no file system recognised at the start of " + image.path +
                             "; choose one with --volume N or --start SECTOR --fs NAME."};
    }
    if (unlock) volume = unlockIfEncrypted(image, volume, args);
    if (const auto fs = args.value("--fs")) {
        if (fileSystemKindOf(fromUtf8(*fs)) == FileSystemKind::None)
            throw UsageError{"--fs takes ntfs, fat12, fat16, fat32, fat64 (exFAT), extX or HFS+, not \"" + *fs + "\"."};
        volume.setFileSystem(fromUtf8(*fs));
    }
    (void)host;
    return volume;
}

VolumeRecord openVolume(const Args& args, OpenedImage& image, ScanHost& host) {
    if (args.positionals().size() != 1) throw UsageError{"give exactly one IMAGE."};
    openImage(args.positionals()[0], image, host);
    return chooseVolume(image, args, host);
}

ScanRequest makeRequest(OpenedImage& image, const Args& args, const VolumeRecord& volume) {
    ScanRequest request;
    request.reader = image.source();
    request.volume = volume;
    request.driveFormatted = args.has("--formatted");
    image.selection.driveFormatted = request.driveFormatted;
    request.rootLabel = image.selection.rootLabel;
    const std::string mode = args.value("--mode").value_or("standard");
    if (mode == "standard")
        request.mode = RecoveryMode::Standard;
    else if (mode == "advanced")
        request.mode = RecoveryMode::Advanced;
    else if (mode == "deep")
        request.mode = RecoveryMode::Deep;
    else
        throw UsageError{"--mode takes standard, advanced or deep, not \"" + mode + "\"."};
    if (const auto k = args.number("--copy")) request.candidateIndex = *k;
    if (const auto k = args.number("--fat")) request.candidateIndex = *k;
    if (const auto k = args.number("--heap")) request.heapIndex = *k;
    if (const auto n = args.number("--sectors-per-cluster")) {
        if (*n <= 0 || *n > 65536) throw UsageError{"--sectors-per-cluster takes a number from 1 to 65536."};
        request.sectorsPerCluster = static_cast<std::uint32_t>(*n);
    }
    if (const auto page = args.number("--codepage")) {
        if (*page <= 0 || *page > 65535 || !isOemCodePage(static_cast<int>(*page)))
            throw UsageError{"--codepage takes an OEM code page: " + oemCodePageList() + "."};
        request.codePage = static_cast<int>(*page);
    }
    if (const auto n = args.number("--max")) {
        if (*n <= 0) throw UsageError{"--max takes a number above 0."};
        request.maxCandidates = *n;
    }
    return request;
}

}  // namespace corvello::cli
