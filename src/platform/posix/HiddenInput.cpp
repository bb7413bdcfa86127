#include "platform/HiddenInput.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace corvello::platform {

bool readHiddenLine(const std::string& prompt, std::string& line) {
    line.clear();
    if (::isatty(STDIN_FILENO) == 0) return false;
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool restore = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    bool any = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0 || c == '\n') {
            any = any || n > 0;
            break;
        }
        any = true;
        if (c != '\r') line.push_back(c);
    }
    if (restore) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return any;
}

}  // namespace corvello::platform
