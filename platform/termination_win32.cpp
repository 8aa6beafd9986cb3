#include "platform/termination.h"

#include <winsock2.h>  // before windows.h
#include <windows.h>

#include <algorithm>
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

namespace {

int takeRequest() {
  const int signal = requested.exchange(0);
  return signal != 0 ? signal : SIGTERM;
}

}  // namespace

int waitForTerminationRequest(double seconds) {
  const double milliseconds = std::ceil(seconds * 1000.0);
  const DWORD timeout = milliseconds <= 0 ? 0 : milliseconds >= 4.0e9 ? INFINITE - 1 : static_cast<DWORD>(milliseconds);
  if (WaitForSingleObject(requestEvent(), timeout) != WAIT_OBJECT_0) return 0;
  return takeRequest();
}

SocketsOrRequest waitForSocketsOrRequest(const std::vector<int>& sockets, std::chrono::nanoseconds timeout) {
  // Each socket's readiness as an event, waited on after the request event,
  // which therefore wins when both are set.
  std::vector<HANDLE> events{requestEvent()};
  for (int fd : sockets) {
    HANDLE event = WSACreateEvent();
    WSAEventSelect(static_cast<SOCKET>(fd), event, FD_READ | FD_CLOSE);
    events.push_back(event);
  }
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(std::max(timeout, timeout.zero()));
  const DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                              static_cast<DWORD>(std::min<long long>(milliseconds.count(), INFINITE - 1)));
  SocketsOrRequest seen;
  if (waited == WAIT_OBJECT_0) {
    seen.request = takeRequest();
  } else if (waited != WAIT_TIMEOUT && waited != WAIT_FAILED) {
    for (std::size_t i = 0; i < sockets.size(); ++i) {
      WSANETWORKEVENTS happened{};
      if (WSAEnumNetworkEvents(static_cast<SOCKET>(sockets[i]), events[i + 1], &happened) == 0 &&
          happened.lNetworkEvents != 0)
        seen.readable.push_back(i);
    }
  }
  // WSAEventSelect leaves a socket non-blocking; ending the selection keeps
  // it that way, which the reads want.
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    WSAEventSelect(static_cast<SOCKET>(sockets[i]), nullptr, 0);
    WSACloseEvent(events[i + 1]);
  }
  return seen;
}

}  // namespace halvix::platform
