#pragma once
// Start-up of the system's socket library (WSAStartup on Windows). POSIX
// sockets need none; the call stays so that the registration order is kept.

namespace halvix::platform {

bool socketsStartup();

}  // namespace halvix::platform
