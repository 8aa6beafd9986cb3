#pragma once
// The system's name and version as the SDK reports them to the Dart side.
#include <string>

namespace halvix::platform {

// "Windows " and the newest of "10+", "8" or "7" the system's version check
// admits (nothing after the space below 7); elsewhere the kernel's name and
// release.
std::string osVersionText();

}  // namespace halvix::platform
