#include "platform/sockets_startup.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace halvix::platform {

int socketsStartup() {
  const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return errno;
  ::close(probe);
  return 0;
}

void socketsCleanup() {}

}  // namespace halvix::platform
