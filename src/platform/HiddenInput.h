#pragma once
// Reading a secret typed on the terminal, without echoing it.

#include <string>

namespace corvello::platform {

// Shows prompt on stderr and reads one line from standard input (a terminal) with echo off;
// the line end is not kept. False when nothing could be read (end of input, no terminal).
bool readHiddenLine(const std::string& prompt, std::string& line);

}  // namespace corvello::platform
