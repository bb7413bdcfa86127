#include "common/MemoryScanHost.h"

namespace corvello {

void MemoryScanHost::changed() {
    if (observer_) observer_(*this);
}

void MemoryScanHost::setProgressRange(std::int64_t low, std::int64_t high) {
    {
        std::lock_guard lock(mutex_);
        low_ = low;
        high_ = high;
    }
    changed();
}

void MemoryScanHost::setProgressPos(std::int64_t pos) {
    {
        std::lock_guard lock(mutex_);
        pos_ = pos;
    }
    changed();
}

void MemoryScanHost::setStatus(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        statuses_.push_back(text);
    }
    changed();
}

void MemoryScanHost::notice(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        notices_.push_back(text);
    }
    changed();
}

bool MemoryScanHost::question(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        questions_.push_back(text);
    }
    changed();
    return answer_;
}

std::vector<std::string> MemoryScanHost::statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
}

std::vector<std::string> MemoryScanHost::notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
}

std::vector<std::string> MemoryScanHost::questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
}

std::string MemoryScanHost::lastStatus() const {
    std::lock_guard lock(mutex_);
    return statuses_.empty() ? std::string() : statuses_.back();
}

}  // namespace corvello
