#include "platform/socket_io.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace halvix::platform {
namespace {

// The seam is process-wide on purpose: the modules reach the system only
// through the functions below, so one hook shapes every transfer.
TransferShaper& shaper() {
  static TransferShaper instance;
  return instance;
}

// Applies the test shaper. Returns false when the transfer must report
// would-block; otherwise `size` is lowered to what may move. A zero-length
// request is not a transfer and is never shaped.
bool shape(int fd, bool sending, std::size_t& size) {
  const TransferShaper& s = shaper();
  if (!s || size == 0) return true;
  std::size_t allowed = s(fd, sending, size);
  if (allowed == 0) return false;
  size = std::min(size, allowed);
  return true;
}

template <typename Call>
ssize_t retryInterrupted(Call call, int& error) {
  for (;;) {
    ssize_t n = call();
    if (n >= 0) {
      error = 0;
      return n;
    }
    if (errno != EINTR) {
      error = errno;
      return -1;
    }
  }
}

}  // namespace

ssize_t socketSend(int fd, const void* data, std::size_t size, int& error) {
  if (!shape(fd, true, size)) {
    error = EAGAIN;
    return -1;
  }
  return retryInterrupted([&] { return ::send(fd, data, size, MSG_NOSIGNAL); }, error);
}

ssize_t socketRecv(int fd, void* data, std::size_t size, int& error) {
  if (!shape(fd, false, size)) {
    error = EAGAIN;
    return -1;
  }
  return retryInterrupted([&] { return ::recv(fd, data, size, 0); }, error);
}

ssize_t socketRecvFrom(int fd, void* data, std::size_t size, sockaddr* from, socklen_t* fromLength, int& error) {
  if (!shape(fd, false, size)) {
    error = EAGAIN;
    return -1;
  }
  const socklen_t given = fromLength ? *fromLength : 0;
  return retryInterrupted(
      [&] {
        if (fromLength) *fromLength = given;
        return ::recvfrom(fd, data, size, 0, from, fromLength);
      },
      error);
}

long socketPending(int fd) {
  int pending = 0;
  if (::ioctl(fd, FIONREAD, &pending) != 0) return -1;
  return pending;
}

int socketSetBufferSize(int fd, int option, int size) {
  return ::setsockopt(fd, SOL_SOCKET, option, &size, sizeof size) == 0 ? 0 : -1;
}

void setTransferShaper(TransferShaper s) { shaper() = std::move(s); }

}  // namespace halvix::platform
