#pragma once
// corvello-cli: the command-line front end on the same engine as the wizard.

#include <iosfwd>
#include <string>
#include <vector>

namespace corvello::cli {

// Exit codes: 0 success, 1 the input cannot be read (or the output cannot be written), 2 a
// usage error, 3 every file was written but some of them are incomplete, 4 the password or key
// given does not unlock an encrypted volume (kExitWrongKey), 130 interrupted.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInput = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitIncomplete = 3;
inline constexpr int kExitWrongKey = 4;
// The user interrupted the work (Ctrl-C or SIGTERM), as a shell reports a process ended by SIGINT.
inline constexpr int kExitInterrupted = 130;

// Runs one command; args excludes the program name. "--help", "COMMAND --help" and "--version"
// print to out.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The commands, and the options each one's --help documents (names only, "--volume"), for the
// checks that the help, the manual page and the completion agree with the parser.
std::vector<std::string> commandNames();
std::vector<std::string> documentedOptions(const std::string& command);

}  // namespace corvello::cli
