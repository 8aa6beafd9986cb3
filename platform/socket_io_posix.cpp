#include "platform/socket_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/socket_io_common.h"

namespace halvix::platform {
namespace {

bool isWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// The one place where a call's result becomes an outcome.
SocketOutcome classify(ssize_t result, int error) {
  if (result > 0) return {SocketStatus::Done, static_cast<std::size_t>(result), 0};
  if (result == 0) return {SocketStatus::Closed};
  if (isWouldBlock(error)) return {SocketStatus::WouldBlock, 0, error};
  return {SocketStatus::Error, 0, error};
}

// Runs the call until it is not interrupted; returns its result with errno
// captured in `error`.
template <typename Call>
ssize_t retryInterrupted(Call call, int& error) {
  for (;;) {
    const ssize_t n = call();
    if (n >= 0 || errno != EINTR) {
      error = n >= 0 ? 0 : errno;
      return n;
    }
  }
}

template <typename Call>
SocketOutcome transfer(int fd, bool sending, std::size_t& size, Call call) {
  size = std::min(size, kMaxTransfer);
  if (!shapeTransfer(fd, sending, size)) return {SocketStatus::WouldBlock, 0, EWOULDBLOCK};
  int error = 0;
  const ssize_t n = retryInterrupted(call, error);
  return classify(n, error);
}

// One sendmsg or recvmsg over the slices, shaped and classified like any
// other transfer: the shaper sees the slices' total and the I/O vector is
// cut to what it allows.
template <typename Slice, typename Call>
SocketOutcome vectoredTransfer(int fd, bool sending, const Slice* slices, std::size_t count, Call call) {
  std::size_t size = slicesTotal(slices, count);
  iovec vector[kMaxSendSlices];
  return transfer(fd, sending, size, [&] {
    msghdr message{};
    message.msg_iov = vector;
    message.msg_iovlen = laySlices(slices, count, size, [&](std::size_t k, void* data, std::size_t length) {
      vector[k].iov_base = data;
      vector[k].iov_len = length;
    });
    return call(message);
  });
}

}  // namespace

const char* systemErrorText(int error) { return error == 0 ? "Unknown error" : std::strerror(error); }

const char* SocketOutcome::errorText() const { return systemErrorText(error); }

SocketOutcome socketSend(int fd, const void* data, std::size_t size) {
  return transfer(fd, true, size, [&] { return ::send(fd, data, size, MSG_NOSIGNAL); });
}

SocketOutcome socketSendGather(int fd, const SendSlice* slices, std::size_t count) {
  return vectoredTransfer(fd, true, slices, count,
                          [fd](const msghdr& message) { return ::sendmsg(fd, &message, MSG_NOSIGNAL); });
}

SocketOutcome socketRecvScatter(int fd, const RecvSlice* slices, std::size_t count) {
  return vectoredTransfer(fd, false, slices, count, [fd](msghdr& message) { return ::recvmsg(fd, &message, 0); });
}

SocketOutcome socketRecv(int fd, void* data, std::size_t size) {
  return transfer(fd, false, size, [&] { return ::recv(fd, data, size, 0); });
}

SocketOutcome socketRecvFrom(int fd, void* data, std::size_t size, sockaddr_in& from) {
  std::memset(&from, 0, sizeof from);
  sockaddr_storage any;
  SocketOutcome outcome = transfer(fd, false, size, [&] {
    std::memset(&any, 0, sizeof any);
    socklen_t length = sizeof any;
    return ::recvfrom(fd, data, size, 0, reinterpret_cast<sockaddr*>(&any), &length);
  });
  if (outcome.done() && any.ss_family == AF_INET) std::memcpy(&from, &any, sizeof from);
  return outcome;
}

SocketOutcome socketSendTo(int fd, const void* data, std::size_t size, const sockaddr_in& to) {
  int error = 0;
  const ssize_t n = retryInterrupted(
      [&] { return ::sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to); },
      error);
  if (n >= 0) return {SocketStatus::Done, static_cast<std::size_t>(n), 0};
  return classify(n, error);
}

long socketPending(int fd) {
  int pending = 0;
  if (::ioctl(fd, FIONREAD, &pending) != 0) return -1;
  return pending;
}

int socketSetBufferSize(int fd, int option, int size) {
  return ::setsockopt(fd, SOL_SOCKET, option, &size, sizeof size) == 0 ? 0 : -1;
}

int socketSetBroadcast(int fd, std::uint8_t enable) {
  const int value = enable != 0 ? 1 : 0;
  return ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0 ? 0 : -1;
}

int socketListenDatagrams(int fd, const sockaddr_in& address, bool broadcast) {
  const int on = 1;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      (broadcast && socketSetBroadcast(fd, 1) != 0) ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return errno;
  return 0;
}

DatagramSocket::DatagramSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  if (fd_ < 0) creationError_ = errno;
}

void DatagramSocket::close() noexcept {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace halvix::platform
