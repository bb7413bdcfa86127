#pragma once
// corvello-cli: the command-line front end on the same engine as the wizard.

#include <iosfwd>
#include <string>
#include <vector>

namespace corvello::cli {

// Exit codes: 0 success, 1 the input cannot be read, 2 a usage error.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInput = 1;
inline constexpr int kExitUsage = 2;

// Runs one command; args excludes the program name.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace corvello::cli
