#pragma once
// What lampsim's loop needs of the system: stop requests, the wait for
// datagrams, and whether standard output is a terminal that takes the live
// line's escape codes. run_loop_system.cpp on POSIX systems (SIGINT and
// SIGTERM), run_loop_system_win32.cpp on Windows (Ctrl+C, Ctrl+Break and the
// console closing).
#include <chrono>
#include <cstddef>
#include <vector>

namespace halvix::lampsim {

// From here on a stop request sets a flag instead of ending the process.
void takeStopRequests();
bool stopRequested();

// The indexes of `sockets` with a datagram (or a pending error) to read,
// waiting up to `timeout`; none when the time passed first or a stop was
// asked for. A stop request never falls between the caller's check of the
// flag and the wait unnoticed for longer than the wait.
std::vector<std::size_t> waitReadable(const std::vector<int>& sockets, std::chrono::nanoseconds timeout);

// Standard output is a terminal that redraws a line in place ("\r" and
// "ESC [2K").
bool outputIsLiveTerminal();

}  // namespace halvix::lampsim
