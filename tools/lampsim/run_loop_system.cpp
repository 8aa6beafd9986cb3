#include "tools/lampsim/run_loop_system.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>

namespace halvix::lampsim {

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;
// The signal mask inside the wait: the process's own without SIGINT and
// SIGTERM, which stay blocked everywhere else.
sigset_t g_waitMask;

extern "C" void requestStop(int) { g_stopRequested = 1; }

}  // namespace

// SIGINT and SIGTERM stay blocked except inside ppoll, so a signal can never
// fall between the check of the flag and the wait.
void takeStopRequests() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &stopSignals, &g_waitMask);
  sigdelset(&g_waitMask, SIGINT);
  sigdelset(&g_waitMask, SIGTERM);
}

bool stopRequested() { return g_stopRequested != 0; }

std::vector<std::size_t> waitReadable(const std::vector<int>& sockets, std::chrono::nanoseconds timeout) {
  std::vector<pollfd> fds;
  for (int fd : sockets) fds.push_back({fd, POLLIN, 0});
  const timespec wait{static_cast<time_t>(timeout.count() / 1000000000), static_cast<long>(timeout.count() % 1000000000)};
  std::vector<std::size_t> ready;
  if (::ppoll(fds.data(), fds.size(), &wait, &g_waitMask) > 0) {
    for (std::size_t i = 0; i < fds.size(); ++i)
      if (fds[i].revents) ready.push_back(i);
  }
  return ready;
}

bool outputIsLiveTerminal() { return ::isatty(STDOUT_FILENO) != 0; }

}  // namespace halvix::lampsim
