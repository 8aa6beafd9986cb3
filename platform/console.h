#pragma once
// The process console. On Windows this is the device opened by AllocConsole or
// AttachConsole; here it is the process's standard error, and it exists only
// when the host decides so ("--console" or an attached debugger). Until then
// console output is dropped, as it is on Windows without a console.
#include <cstddef>

namespace halvix::platform {

void setConsolePresent(bool present);
// Gives the process its console and marks it present. On Windows: attach to
// the parent process's console (standard output and error stay as they
// are), else create a console and reopen standard output and error on it
// ("CONOUT$"). Here standard error serves, so it only marks the console
// present, as attached.
enum class ConsoleOpened { kNone, kAttached, kCreated };
ConsoleOpened openConsole();
// Whether a debugger is attached to the process (IsDebuggerPresent; here a
// tracer named in /proc/self/status).
bool debuggerAttached();
bool consolePresent();

// Writes the bytes whole, or nothing when no console exists. On Windows the
// bytes are UTF-8 text written to the console device itself (WriteConsoleW
// on "CONOUT$"), never to a redirected standard output.
void consoleWrite(const char* text, std::size_t length);

}  // namespace halvix::platform
