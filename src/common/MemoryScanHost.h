#pragma once
// ScanHost kept in memory: records what a scan reported. The command line uses it with an
// echo to stderr; tests read the records.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/ScanHost.h"

namespace corvello {

class MemoryScanHost : public ScanHost {
public:
    void setProgressRange(std::int64_t low, std::int64_t high) override;
    void setProgressPos(std::int64_t pos) override;
    void setStatus(const std::string& text) override;
    void notice(const std::string& text) override;
    bool question(const std::string& text) override;

    // Answer given to every question (Yes by default).
    void setAnswer(bool yes) { answer_ = yes; }
    // Called after each report (for a live progress line); may be empty.
    void setObserver(std::function<void(const MemoryScanHost&)> observer) { observer_ = std::move(observer); }

    std::vector<std::string> statuses() const;
    std::vector<std::string> notices() const;
    std::vector<std::string> questions() const;
    std::string lastStatus() const;
    std::int64_t progressLow() const { return low_; }
    std::int64_t progressHigh() const { return high_; }
    std::int64_t progressPos() const { return pos_; }

private:
    void changed();

    mutable std::mutex mutex_;
    std::vector<std::string> statuses_, notices_, questions_;
    std::int64_t low_ = 0, high_ = 0, pos_ = 0;
    bool answer_ = true;
    std::function<void(const MemoryScanHost&)> observer_;
};

}  // namespace corvello
