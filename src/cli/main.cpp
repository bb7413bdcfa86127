#include <iostream>

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "platform/Interrupts.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    corvello::platform::catchInterrupts(corvello::cli::interruptWork);
    int status = corvello::cli::runCli(args, std::cout, std::cerr);
    // A listing that did not reach its reader (a full disk, a closed pipe) is not a success.
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "corvello-cli: the output could not be written.\n";
        if (status == corvello::cli::kExitOk) status = corvello::cli::kExitInput;
    }
    return status;
}
