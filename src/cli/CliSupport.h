#pragma once
// What the commands share: argument parsing, opening the image, choosing the volume, and the
// progress line on stderr.

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "common/MemoryScanHost.h"
#include "common/VolumeRecord.h"
#include "device/FileReadSeek.h"
#include "device/ScanSelection.h"
#include "scan/SaveWalk.h"
#include "scan/ScanRequest.h"

namespace corvello::cli {

// A usage error: the message is shown, the exit status is 2.
struct UsageError {
    std::string message;
};
// The input cannot be read: the message is shown, the exit status is 1.
struct InputError {
    std::string message;
};

// The user interrupted the work (Ctrl-C): the message says what was left behind; the exit
// status is 130.
struct Interrupted {
    std::string message;
};

// Called from the signal handler on the first Ctrl-C or SIGTERM: asks the work under way to
// stop where it polls (through the console host that reports it).
void interruptWork();
// Whether the user interrupted the work.
bool workInterrupted();
// Throws Interrupted with what the work left behind when the user interrupted it.
void stopIfInterrupted(const std::string& leftBehind = "nothing was written");

// Parsed arguments: positionals, "--name value" options and "--flag" switches. Only the
// names a command declares are accepted.
class Args {
public:
    Args(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
         const std::set<std::string>& flags);

    const std::vector<std::string>& positionals() const { return positionals_; }
    bool has(const std::string& name) const;
    std::optional<std::string> value(const std::string& name) const;
    // A whole number option; UsageError when it is not one.
    std::optional<std::int64_t> number(const std::string& name) const;

private:
    std::vector<std::string> positionals_;
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
};

// The volume options every parsing command takes.
inline const std::set<std::string> kVolumeOptions = {"--volume", "--start", "--fs", "--mode", "--copy", "--fat",
                                                      "--heap", "--sectors-per-cluster", "--max", "--codepage",
                                                      "--password-file", "--key-file"};
inline const std::set<std::string> kVolumeFlags = {"--gpt", "--formatted"};

// How progress is shown: a line redrawn in place on a terminal, nothing into a file or a pipe
// (scripts get clean output) or with --quiet.
enum class ProgressStyle { None, Terminal };
// The style for err: Terminal only when err is the process's stderr, that is a terminal, and
// --quiet was not given.
ProgressStyle progressStyleFor(const std::ostream& err);
// Set by --quiet.
void setQuiet(bool quiet);

// A host that reports to stderr: notices as lines (with names from disk made harmless), status
// and progress as one progress line redrawn at most a few times a second.
class ConsoleHost : public MemoryScanHost {
public:
    explicit ConsoleHost(std::ostream& err, bool showProgress = true);
    ConsoleHost(std::ostream& err, ProgressStyle style);
    ~ConsoleHost() override;
    void notice(const std::string& text) override;
    // Kept as a notice, not printed: the commands print their own summary.
    void finished(const std::string& text) override { MemoryScanHost::notice(text); }
    bool question(const std::string& text) override;
    void finishLine();

private:
    void draw(bool force);
    // The host that an interrupt stops: the one most recently made.
    friend void interruptWork();
    static std::atomic<ConsoleHost*> active_;
    std::ostream& err_;
    bool showProgress_;
    bool lineOpen_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// The image opened read-only, with its selection record.
struct OpenedImage {
    ScanSelection selection;
    FileReadSeek* reader = nullptr;
    std::string path;
    // The chosen volume unlocked (BitLocker, LUKS): the volume is then read through it.
    std::unique_ptr<ByteSource> unlocked;
    // What the chosen volume is read from: the unlocked volume, else the image.
    ByteSource* source() const { return unlocked ? unlocked.get() : static_cast<ByteSource*>(reader); }
};

// Opens IMAGE; InputError when it cannot be opened.
void openImage(const std::string& path, OpenedImage& image, ScanHost& host);

// The volume chosen by --volume N [--gpt] / --start SECTOR --fs NAME, or the bare volume
// recognised at the start of the image; --fs overrides the file system. An encrypted volume is
// unlocked (image.unlocked) and the record is the one of the volume it holds.
// With unlock false an encrypted volume's own record is returned, locked.
VolumeRecord chooseVolume(OpenedImage& image, const Args& args, ScanHost& host, bool unlock = true);

// Opens the one IMAGE of the arguments (UsageError when there is not exactly one) and chooses
// its volume.
VolumeRecord openVolume(const Args& args, OpenedImage& image, ScanHost& host);

// Refuses an output folder that is the source itself, or (unless allowed) one on a file system
// of the source device.
void checkOutputFolder(const std::string& source, const std::string& outDir, bool allowSameDevice);

// Names every incomplete and unwritten file of a save on err; returns the exit status.
int reportSaveProblems(const SaveResult& result, std::ostream& err);

// The scan request for the volume options (mode, advanced choices, drive-formatted option).
ScanRequest makeRequest(OpenedImage& image, const Args& args, const VolumeRecord& volume);

}  // namespace corvello::cli
