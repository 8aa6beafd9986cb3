#pragma once
// Whether a path names a file that can be opened for reading. On Windows
// opening a folder for reading fails; POSIX lets fopen open one, so the
// check looks at what was opened and accepts only a regular file (after
// symbolic links).
#include <string>

namespace halvix::platform {

bool isReadableFile(const std::string& path);

}  // namespace halvix::platform
