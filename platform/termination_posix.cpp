#include "platform/termination.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>

namespace halvix::platform {

namespace {

sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  // A closed terminal asks the program to end as SIGTERM would.
  sigaddset(&set, SIGHUP);
  return set;
}

int requestFromSignal(int signal) { return signal == SIGHUP ? SIGTERM : signal; }

timespec timespecOf(std::chrono::nanoseconds wait) {
  const auto ns = std::max<std::chrono::nanoseconds::rep>(wait.count(), 0);
  return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// The blocked requests as a descriptor the wait can poll beside the sockets.
class RequestDescriptor {
 public:
  RequestDescriptor() {
    const sigset_t set = terminationSignals();
    fd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~RequestDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  RequestDescriptor(const RequestDescriptor&) = delete;
  RequestDescriptor& operator=(const RequestDescriptor&) = delete;
  int fd() const { return fd_; }
  // Takes one pending request; 0 when none is pending.
  int take() const {
    signalfd_siginfo info{};
    if (::read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
    return requestFromSignal(static_cast<int>(info.ssi_signo));
  }

 private:
  int fd_ = -1;
};

}  // namespace

void takeTerminationRequests() {
  const sigset_t set = terminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int waitForTerminationRequest(double seconds) {
  const sigset_t set = terminationSignals();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    const timespec timeout = timespecOf(std::chrono::duration_cast<std::chrono::nanoseconds>(left));
    int signal = sigtimedwait(&set, nullptr, &timeout);
    if (signal > 0) return requestFromSignal(signal);
    if (errno != EINTR && errno != EAGAIN) return 0;
  }
}

SocketsOrRequest waitForSocketsOrRequest(const std::vector<int>& sockets, std::chrono::nanoseconds timeout) {
  const RequestDescriptor requests;
  std::vector<pollfd> fds;
  for (int fd : sockets) fds.push_back({fd, POLLIN, 0});
  fds.push_back({requests.fd(), POLLIN, 0});
  const timespec wait = timespecOf(timeout);
  SocketsOrRequest seen;
  if (::ppoll(fds.data(), fds.size(), &wait, nullptr) <= 0) return seen;
  if (fds.back().revents) seen.request = requests.take();
  for (std::size_t i = 0; i < sockets.size(); ++i)
    if (fds[i].revents) seen.readable.push_back(i);
  return seen;
}

}  // namespace halvix::platform
