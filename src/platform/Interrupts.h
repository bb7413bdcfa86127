#pragma once
// Ctrl-C and SIGTERM on the command line: the first asks the running work to stop where it
// polls its stop flag, so that what it leaves behind is consistent and said; a second ends the
// process at once, as the user expects of a second Ctrl-C.

namespace corvello::platform {

// Installs the handler for SIGINT and SIGTERM. onInterrupt runs inside the signal handler: it
// may only store to lock-free atomics.
void catchInterrupts(void (*onInterrupt)());

}  // namespace corvello::platform
