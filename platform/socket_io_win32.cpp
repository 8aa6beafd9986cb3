// The socket layer on Winsock. A descriptor is the SOCKET handle held in an
// int; -1 widens back to INVALID_SOCKET, so every call on it fails with
// WSAENOTSOCK as POSIX calls fail with EBADF.
#include "platform/socket_io.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/socket_io_common.h"
#include "platform/text_win32.h"

namespace halvix::platform {
namespace {

SOCKET native(int fd) { return static_cast<SOCKET>(static_cast<std::intptr_t>(fd)); }

// The one place where a call's result becomes an outcome. A reset or aborted
// connection stays an Error with its own text, as ECONNRESET and EPIPE do on
// POSIX; only a zero-byte result means closed.
SocketOutcome classify(int result, int error) {
  if (result > 0) return {SocketStatus::Done, static_cast<std::size_t>(result), 0};
  if (result == 0) return {SocketStatus::Closed};
  if (error == WSAEWOULDBLOCK) return {SocketStatus::WouldBlock, 0, error};
  return {SocketStatus::Error, 0, error};
}

// Runs the call until it is not interrupted (WSAEINTR: a blocking call
// cancelled); returns its result with the Winsock error in `error`.
template <typename Call>
int retryInterrupted(Call call, int& error) {
  for (;;) {
    const int n = call();
    error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    if (error != WSAEINTR) return n;
  }
}

template <typename Call>
SocketOutcome transfer(int fd, bool sending, std::size_t& size, Call call) {
  size = std::min(size, kMaxTransfer);
  if (!shapeTransfer(fd, sending, size)) return {SocketStatus::WouldBlock, 0, WSAEWOULDBLOCK};
  int error = 0;
  const int n = retryInterrupted(call, error);
  return classify(n, error);
}

// One WSASend or WSARecv over the slices, shaped and classified like any
// other transfer; the call gets the buffers and their count and answers the
// bytes moved, or SOCKET_ERROR.
template <typename Slice, typename Call>
SocketOutcome vectoredTransfer(int fd, bool sending, const Slice* slices, std::size_t count, Call call) {
  std::size_t size = slicesTotal(slices, count);
  WSABUF buffers[kMaxSendSlices];
  return transfer(fd, sending, size, [&] {
    const std::size_t used = laySlices(slices, count, size, [&](std::size_t k, void* data, std::size_t length) {
      buffers[k].buf = static_cast<char*>(data);
      buffers[k].len = static_cast<ULONG>(length);
    });
    DWORD moved = 0;
    if (call(buffers, static_cast<DWORD>(used), moved) == SOCKET_ERROR) return SOCKET_ERROR;
    return static_cast<int>(moved);
  });
}

}  // namespace

const char* systemErrorText(int error) {
  if (error == 0) return "Unknown error";
  // Texts stay put once made, so the pointer outlives the call as
  // strerror's does; there are only so many error numbers.
  static std::mutex mutex;
  static std::map<int, std::string> texts;
  std::lock_guard<std::mutex> lock(mutex);
  auto found = texts.find(error);
  if (found == texts.end()) found = texts.emplace(error, systemMessage(static_cast<unsigned long>(error))).first;
  return found->second.c_str();
}

const char* SocketOutcome::errorText() const { return systemErrorText(error); }

SocketOutcome socketSend(int fd, const void* data, std::size_t size) {
  return transfer(fd, true, size,
                  [&] { return ::send(native(fd), static_cast<const char*>(data), static_cast<int>(size), 0); });
}

SocketOutcome socketSendGather(int fd, const SendSlice* slices, std::size_t count) {
  return vectoredTransfer(fd, true, slices, count, [fd](WSABUF* buffers, DWORD used, DWORD& moved) {
    return ::WSASend(native(fd), buffers, used, &moved, 0, nullptr, nullptr);
  });
}

SocketOutcome socketRecv(int fd, void* data, std::size_t size) {
  return transfer(fd, false, size,
                  [&] { return ::recv(native(fd), static_cast<char*>(data), static_cast<int>(size), 0); });
}

SocketOutcome socketRecvScatter(int fd, const RecvSlice* slices, std::size_t count) {
  return vectoredTransfer(fd, false, slices, count, [fd](WSABUF* buffers, DWORD used, DWORD& moved) {
    DWORD flags = 0;
    return ::WSARecv(native(fd), buffers, used, &moved, &flags, nullptr, nullptr);
  });
}

SocketOutcome socketRecvFrom(int fd, void* data, std::size_t size, sockaddr_in& from) {
  std::memset(&from, 0, sizeof from);
  sockaddr_storage any;
  SocketOutcome outcome = transfer(fd, false, size, [&] {
    std::memset(&any, 0, sizeof any);
    int length = sizeof any;
    return ::recvfrom(native(fd), static_cast<char*>(data), static_cast<int>(size), 0,
                      reinterpret_cast<sockaddr*>(&any), &length);
  });
  if (outcome.done() && any.ss_family == AF_INET) std::memcpy(&from, &any, sizeof from);
  return outcome;
}

SocketOutcome socketSendTo(int fd, const void* data, std::size_t size, const sockaddr_in& to) {
  // A datagram longer than any Winsock length cannot be sent whole.
  if (size > kMaxTransfer) return {SocketStatus::Error, 0, WSAEMSGSIZE};
  int error = 0;
  const int n = retryInterrupted(
      [&] {
        return ::sendto(native(fd), static_cast<const char*>(data), static_cast<int>(size), 0,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to);
      },
      error);
  if (n >= 0) return {SocketStatus::Done, static_cast<std::size_t>(n), 0};
  return classify(n, error);
}

long socketPending(int fd) {
  u_long pending = 0;
  if (::ioctlsocket(native(fd), FIONREAD, &pending) != 0) return -1;
  return static_cast<long>(pending);
}

int socketSetBufferSize(int fd, int option, int size) {
  return ::setsockopt(native(fd), SOL_SOCKET, option, reinterpret_cast<const char*>(&size), sizeof size) == 0 ? 0
                                                                                                             : -1;
}

int socketSetBroadcast(int fd, std::uint8_t enable) {
  const BOOL value = enable != 0 ? TRUE : FALSE;
  return ::setsockopt(native(fd), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&value), sizeof value) == 0
             ? 0
             : -1;
}

int socketListenDatagrams(int fd, const sockaddr_in& address, bool broadcast) {
  u_long nonBlocking = 1;
  const BOOL on = TRUE;
  if (::ioctlsocket(native(fd), FIONBIO, &nonBlocking) != 0 ||
      ::setsockopt(native(fd), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
      (broadcast && socketSetBroadcast(fd, 1) != 0) ||
      ::bind(native(fd), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return ::WSAGetLastError();
  return 0;
}

// WSASocketW with socket()'s own flags, and a handle that child processes
// do not inherit, as SOCK_CLOEXEC does on POSIX.
DatagramSocket::DatagramSocket() {
  const SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    creationError_ = ::WSAGetLastError();
  } else {
    fd_ = static_cast<int>(s);
  }
}

void DatagramSocket::close() noexcept {
  if (fd_ >= 0) ::closesocket(native(std::exchange(fd_, -1)));
}

}  // namespace halvix::platform
