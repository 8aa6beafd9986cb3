#include "tools/lampsim/run_loop_system.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include <io.h>

namespace halvix::lampsim {

namespace {

std::atomic<bool> g_stopRequested{false};
// Set by the console's handler thread; the wait watches it beside the
// sockets, as a stop must end a wait at once.
HANDLE stopEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI requestStop(DWORD) {
  g_stopRequested = true;
  ::SetEvent(stopEvent());
  return TRUE;
}

}  // namespace

void takeStopRequests() {
  stopEvent();
  ::SetConsoleCtrlHandler(requestStop, TRUE);
}

bool stopRequested() { return g_stopRequested.load(); }

std::vector<std::size_t> waitReadable(const std::vector<int>& sockets, std::chrono::nanoseconds timeout) {
  // Each socket's readiness as an event, waited on with the stop event.
  std::vector<HANDLE> events;
  events.push_back(stopEvent());
  for (int fd : sockets) {
    HANDLE event = ::WSACreateEvent();
    ::WSAEventSelect(static_cast<SOCKET>(fd), event, FD_READ | FD_CLOSE);
    events.push_back(event);
  }
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(timeout + std::chrono::microseconds(999));
  const DWORD waited = ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                               static_cast<DWORD>(milliseconds.count()));
  std::vector<std::size_t> ready;
  if (waited != WAIT_TIMEOUT && waited != WAIT_FAILED && !stopRequested()) {
    for (std::size_t i = 0; i < sockets.size(); ++i) {
      WSANETWORKEVENTS happened{};
      if (::WSAEnumNetworkEvents(static_cast<SOCKET>(sockets[i]), events[i + 1], &happened) == 0 &&
          happened.lNetworkEvents != 0)
        ready.push_back(i);
    }
  }
  // WSAEventSelect leaves a socket non-blocking; ending the selection keeps
  // it that way, which the reads want.
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    ::WSAEventSelect(static_cast<SOCKET>(sockets[i]), nullptr, 0);
    ::WSACloseEvent(events[i + 1]);
  }
  return ready;
}

bool outputIsLiveTerminal() {
  if (!::_isatty(::_fileno(stdout))) return false;
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return ::GetConsoleMode(out, &mode) &&
         ::SetConsoleMode(out, mode | ENABLE_PROCESSED_OUTPUT | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
}

}  // namespace halvix::lampsim
