#include "platform/sockets_startup.h"

#include <winsock2.h>

namespace halvix::platform {

int socketsStartup() {
  WSADATA data{};
  if (const int error = ::WSAStartup(MAKEWORD(2, 2), &data); error != 0) return error;
  // Every caller counts on 2.2; an older library is let go again.
  if (data.wVersion != MAKEWORD(2, 2)) {
    ::WSACleanup();
    return WSAVERNOTSUPPORTED;
  }
  return 0;
}

void socketsCleanup() { ::WSACleanup(); }

}  // namespace halvix::platform
