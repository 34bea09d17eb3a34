// Shared pieces of the termios driver.
#pragma once

#include <DriverCommon.h>

#include <string>

namespace vazposix {

using vazcommon::setLastError;
// Records the system's text for err as the calling thread's last error.
void setLastErrno(const std::string& what, int err);

// Sets a bit rate that has no Bnnn constant (Linux: termios2 with BOTHER). 0 or an errno value.
int setCustomRate(int fd, int rate);

} // namespace vazposix
