#pragma once
// Non-blocking local socket pairs and a guard for the transfer shaper, shared
// by the socket layer's and the zsocket tests.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include <gtest/gtest.h>

#include "platform/socket_io.h"

namespace halvix::test {

class SocketPair {
 public:
  explicit SocketPair(int type = SOCK_STREAM) {
    int fds[2];
    if (::socketpair(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0) {
      a_ = fds[0];
      b_ = fds[1];
    }
  }
  ~SocketPair() {
    closeA();
    closeB();
  }
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;

  bool ok() const { return a_ >= 0 && b_ >= 0; }
  int a() const { return a_; }
  int b() const { return b_; }
  void closeA() {
    if (a_ >= 0) ::close(std::exchange(a_, -1));
  }
  void closeB() {
    if (b_ >= 0) ::close(std::exchange(b_, -1));
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
