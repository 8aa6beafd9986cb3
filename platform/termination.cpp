#include "platform/termination.h"

#include <signal.h>

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
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    int signal = sigtimedwait(&set, nullptr, &timeout);
    if (signal > 0) return signal == SIGHUP ? SIGTERM : signal;
    if (errno != EINTR && errno != EAGAIN) return 0;
  }
}

}  // namespace halvix::platform
