// Shared pieces of the termios driver.
#pragma once

#include <vazEdo.h>

#include <string>

namespace vazposix {

// Remembers the platform's error text of the last failing call on this thread.
void setLastError(const std::string& text);
void setLastErrno(const std::string& what, int err);

// Sets a bit rate that has no Bnnn constant (Linux: termios2 with BOTHER). 0 or an errno value.
int setCustomRate(int fd, int rate);

} // namespace vazposix
