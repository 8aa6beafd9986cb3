#pragma once
// A new, empty folder of the caller's own in the system's temporary folder.
#include <filesystem>
#include <string>

namespace halvix::platform {

// Creates "<temp>/<prefix>" followed by six characters no other folder there
// has, readable and writable by the user only where the system has such
// rights. Throws std::runtime_error when no folder can be made.
std::filesystem::path makeTemporaryDirectory(const std::string& prefix);

}  // namespace halvix::platform
