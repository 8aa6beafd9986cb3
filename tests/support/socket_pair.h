#pragma once
// Non-blocking local socket pairs and a guard for the transfer shaper, shared
// by the socket layer's and the zsocket tests. A pair is an AF_UNIX
// socketpair here; on Windows, which has none for datagrams, a loopback TCP
// connection for SOCK_STREAM and two UDP sockets on 127.0.0.1 connected to
// each other for SOCK_DGRAM (socket_pair_win32.cpp).
#include <chrono>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/socket_io.h"

namespace halvix::test {

// Closes a descriptor of a pair (closesocket on Windows).
void closeSocket(int fd);
// The system's text for a call on a descriptor that is no socket (-1, or a
// number never opened): EBADF's here, WSAENOTSOCK's on Windows.
std::string notASocketText();
// Makes a socket non-blocking; false on failure.
bool setNonBlocking(int fd);
// Whether the socket has something to read within `wait`.
bool waitReadable(int fd, std::chrono::milliseconds wait);

class SocketPair {
 public:
  explicit SocketPair(int type = SOCK_STREAM);
  ~SocketPair();
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;

  bool ok() const { return a_ >= 0 && b_ >= 0; }
  int a() const { return a_; }
  int b() const { return b_; }
  void closeA() {
    if (a_ >= 0) closeSocket(std::exchange(a_, -1));
  }
  void closeB() {
    if (b_ >= 0) closeSocket(std::exchange(b_, -1));
  }

 private:
  int a_ = -1;
  int b_ = -1;
};

// Installs a shaper for the lifetime of the guard.
class ShaperGuard {
 public:
  explicit ShaperGuard(platform::TransferShaper shaper) { platform::setTransferShaper(std::move(shaper)); }
  ~ShaperGuard() { platform::setTransferShaper(nullptr); }
  ShaperGuard(const ShaperGuard&) = delete;
  ShaperGuard& operator=(const ShaperGuard&) = delete;
};

}  // namespace halvix::test
