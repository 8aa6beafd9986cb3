#include "platform/termination.h"

#include <windows.h>

#include <atomic>
#include <cmath>
#include <csignal>

namespace halvix::platform {

namespace {

// The console's control handler runs on a thread of its own; it leaves the
// request here and wakes the waiter.
HANDLE requestEvent() {
  // Auto-reset: each request is taken once, as a signal is.
  static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return event;
}

std::atomic<int> requested{0};

BOOL WINAPI onConsoleControl(DWORD type) {
  requested.store(type == CTRL_C_EVENT ? SIGINT : SIGTERM);
  SetEvent(requestEvent());
  // Taken: the process ends when the waiter has finished its work. (For the
  // console closing, the system ends it anyway a few seconds later.)
  return TRUE;
}

}  // namespace

void takeTerminationRequests() {
  requestEvent();
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

int waitForTerminationRequest(double seconds) {
  const double milliseconds = std::ceil(seconds * 1000.0);
  const DWORD timeout = milliseconds <= 0 ? 0 : milliseconds >= 4.0e9 ? INFINITE - 1 : static_cast<DWORD>(milliseconds);
  if (WaitForSingleObject(requestEvent(), timeout) != WAIT_OBJECT_0) return 0;
  const int signal = requested.exchange(0);
  return signal != 0 ? signal : SIGTERM;
}

}  // namespace halvix::platform
