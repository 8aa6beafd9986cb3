#pragma once
// The life of the host once the process is prepared: sockets, the Flutter
// project, the main window, the message loop and the clean-up. The entry
// point of each target (console, COM, arguments) calls it.
#include <windows.h>

#include <string>
#include <vector>

#include "sdk/corvel_native.h"

namespace halvix::host {

// Where the SDK finds the application: "--drive-root DIR" and
// "--current-dir DIR" among the arguments. (The engine reads "--socket PATH"
// from the same arguments, which all go to the Dart entry point.)
sdk::SdkDirectories sdkDirectoriesFrom(const std::vector<std::string>& arguments);

struct HostHooks {
  // The socket library's start-up: 0, or the error number it failed with.
  int (*startSockets)() = nullptr;
  // Learns the main window's handle once it exists, and null when the loop
  // has ended.
  void (*onWindow)(HWND window) = nullptr;
};

// Returns the exit code: 0 after the loop ended, 1 when sockets cannot be
// started or the main window cannot be created.
int runHost(const std::vector<std::string>& arguments, const HostHooks& hooks = {});

}  // namespace halvix::host
