#pragma once
// The process console. On Windows this is the device opened by AllocConsole or
// AttachConsole; here it is the process's standard error, and it exists only
// when the host decides so ("--console" or an attached debugger). Until then
// console output is dropped, as it is on Windows without a console.
#include <cstddef>

namespace halvix::platform {

void setConsolePresent(bool present);
// Whether a debugger is attached to the process (IsDebuggerPresent; here a
// tracer named in /proc/self/status).
bool debuggerAttached();
bool consolePresent();

// Writes the bytes whole, or nothing when no console exists.
void consoleWrite(const char* text, std::size_t length);

}  // namespace halvix::platform
