#pragma once
// Where the running program lies, for the data files delivered with it, and its version.

#include <string>

namespace corvello::platform {

// The folder of the running executable (UTF-8, without a trailing separator); empty when it
// cannot be told.
std::string programDirectory();

// The data file `name` delivered with the program, looked up from the executable's folder:
// share/corvello/ beside the bin/ folder (as installed), the executable's own folder, then the
// data folder of a build tree. Empty when none of them holds a regular file of that name.
std::string dataFilePath(const std::string& name);

// The same lookup from a given program folder (the wizard and the tests pass their own).
std::string dataFilePathFrom(const std::string& programDir, const std::string& name);

// The version of this build ("0.1.0"), from the project's one version number.
const char* programVersion();

}  // namespace corvello::platform
