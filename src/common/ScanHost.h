#pragma once
// What a long-running operation (partition scan, file-system parse, carving, save) reports to
// and asks of whoever started it: the wizard page, the command line or a test.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace corvello {

// A counted pause gate: every pause() must be matched by a resume(); workers call pass() where
// they poll their stop flag and wait there while the gate is closed.
class PauseGate {
public:
    void pause();
    void resume();
    void pass();
    bool paused() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0;
};

class ScanHost {
public:
    virtual ~ScanHost() = default;

    // Progress bar range and position.
    virtual void setProgressRange(std::int64_t low, std::int64_t high) = 0;
    virtual void setProgressPos(std::int64_t pos) = 0;
    // The page's status line (UTF-8).
    virtual void setStatus(const std::string& text) = 0;
    // A second status line, where the front end has one (the size of the file being saved);
    // empty clears it.
    virtual void setDetail(const std::string& /*text*/) {}
    // A message box with caption "Corvello" and the information icon.
    virtual void notice(const std::string& text) = 0;
    // The closing message of a run that ended, which the wizard shows as a notice; a front end
    // that prints a summary of its own may leave it out.
    virtual void finished(const std::string& text) { notice(text); }
    // A Yes/No question; true for Yes.
    virtual bool question(const std::string& text) = 0;

    // The stop flag: set by the user, polled by workers.
    void requestStop() { stop_.store(true); }
    void clearStop() { stop_.store(false); }
    bool stopRequested() const { return stop_.load(); }

    PauseGate& pauseGate() { return gate_; }

    // Where a worker polls: waits while paused, then answers whether to stop.
    bool checkpoint() {
        gate_.pass();
        return stop_.load();
    }

private:
    std::atomic<bool> stop_{false};
    PauseGate gate_;
};

}  // namespace corvello
