#pragma once
// A request to end the process from outside (SIGINT, SIGTERM or SIGHUP here,
// Ctrl+C, Ctrl+Break or the console closing on Windows), taken by one
// waiting thread so that the program can end its work in order.
#include <chrono>
#include <cstddef>
#include <vector>

namespace halvix::platform {

// Starts taking the requests. Call it before any other thread exists: the
// POSIX side blocks the signals in the calling thread, and threads made
// later inherit that.
void takeTerminationRequests();

// Waits up to `seconds` for a request. Returns the signal number it stands
// for (SIGINT 2 for an interrupt, SIGTERM 15 for the rest), or 0 when the
// time ran out.
int waitForTerminationRequest(double seconds);

// For a program whose one thread waits on sockets: waits up to `timeout`
// for any of `sockets` to have something to read (or a pending error), and
// returns at once when a request comes. A request arriving just before the
// wait is not missed: it stays pending until a wait takes it.
struct SocketsOrRequest {
  std::vector<std::size_t> readable;  // indexes into `sockets`
  int request = 0;                    // as waitForTerminationRequest returns it; 0 for none
};
SocketsOrRequest waitForSocketsOrRequest(const std::vector<int>& sockets, std::chrono::nanoseconds timeout);

}  // namespace halvix::platform
