#include "tests/support/socket_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace halvix::test {

void closeSocket(int fd) { ::close(fd); }

std::string notASocketText() { return platform::systemErrorText(EBADF); }

bool setNonBlocking(int fd) { return ::fcntl(fd, F_SETFL, O_NONBLOCK) == 0; }

bool waitReadable(int fd, std::chrono::milliseconds wait) {
  pollfd ready{fd, POLLIN, 0};
  return ::poll(&ready, 1, static_cast<int>(wait.count())) == 1;
}

SocketPair::SocketPair(int type) {
  int fds[2];
  if (::socketpair(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0) {
    a_ = fds[0];
    b_ = fds[1];
  }
}

SocketPair::~SocketPair() {
  closeA();
  closeB();
}

}  // namespace halvix::test
