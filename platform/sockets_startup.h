#pragma once
// Start-up and clean-up of the system's socket library (WSAStartup and
// WSACleanup on Windows). POSIX sockets need no start-up; here the call
// checks that the process can open a socket at all, so that a process that
// cannot (no descriptors left, say) fails where the original would.
namespace halvix::platform {

// 0 when sockets can be used, else the system's error number.
int socketsStartup();
void socketsCleanup();

}  // namespace halvix::platform
