#include "platform/Interrupts.h"

#include <atomic>
#include <csignal>

namespace corvello::platform {

namespace {

std::atomic<void (*)()> handlerCallback{nullptr};

extern "C" void onSignal(int) {
    if (auto* callback = handlerCallback.load()) callback();
}

}  // namespace

void catchInterrupts(void (*onInterrupt)()) {
    handlerCallback.store(onInterrupt);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // The first signal is ours; the handler then falls back to the default, so a second ends
    // the process. SA_RESTART keeps the reads and writes under way from failing with EINTR.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace corvello::platform
