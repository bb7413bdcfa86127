#pragma once
// Where the running program lies, for the data files delivered beside it.

#include <string>

namespace corvello::platform {

// The folder of the running executable (UTF-8, without a trailing separator); empty when it
// cannot be told.
std::string programDirectory();

}  // namespace corvello::platform
