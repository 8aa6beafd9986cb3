#pragma once
// The system's own error numbers for a socket call that would block, and for
// one on a descriptor that is no socket, in the numbering the socket layer reports (WSAGetLastError on Windows, where the
// C library's EWOULDBLOCK is another number).
#include "socket_types.h"

namespace halvix::platform {

inline constexpr int kNotASocketErrorNumber = WSAENOTSOCK;
inline constexpr int kWouldBlockErrorNumber = WSAEWOULDBLOCK;

}  // namespace halvix::platform
