#pragma once
// The system's own error numbers for a socket call that would block, and for
// one on a descriptor that is no socket, in the numbering the socket layer reports (errno here).
#include <cerrno>

namespace halvix::platform {

inline constexpr int kNotASocketErrorNumber = EBADF;
inline constexpr int kWouldBlockErrorNumber = EWOULDBLOCK;

}  // namespace halvix::platform
