#pragma once
// A request to end the process from outside (SIGINT, SIGTERM or SIGHUP here,
// Ctrl+C, Ctrl+Break or the console closing on Windows), taken by one
// waiting thread so that the program can end its work in order.
namespace halvix::platform {

// Starts taking the requests. Call it before any other thread exists: the
// POSIX side blocks the signals in the calling thread, and threads made
// later inherit that.
void takeTerminationRequests();

// Waits up to `seconds` for a request. Returns the signal number it stands
// for (SIGINT 2 for an interrupt, SIGTERM 15 for the rest), or 0 when the
// time ran out.
int waitForTerminationRequest(double seconds);

}  // namespace halvix::platform
