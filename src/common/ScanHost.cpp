#include "common/ScanHost.h"

namespace corvello {

void PauseGate::pause() {
    std::lock_guard lock(mutex_);
    ++count_;
}

void PauseGate::resume() {
    {
        std::lock_guard lock(mutex_);
        if (count_ > 0) --count_;
    }
    cv_.notify_all();
}

void PauseGate::pass() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return count_ == 0; });
}

bool PauseGate::paused() const {
    std::lock_guard lock(mutex_);
    return count_ > 0;
}

}  // namespace corvello
