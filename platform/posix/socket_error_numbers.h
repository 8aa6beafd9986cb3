#pragma once
// The system's own error number for a socket call that would block, in the
// numbering the socket layer reports (errno here).
#include <cerrno>

namespace halvix::platform {

inline constexpr int kWouldBlockErrorNumber = EWOULDBLOCK;

}  // namespace halvix::platform
