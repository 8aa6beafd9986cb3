#include "platform/readable_file.h"

#include <windows.h>

#include "platform/text_win32.h"

namespace halvix::platform {

bool isReadableFile(const std::string& path) {
  const std::wstring wide = widen(path);
  if (wide.empty()) return false;
  // Opening a folder this way fails by itself; a device or pipe of that name
  // opens, and is refused below as POSIX refuses every non-regular file.
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool regular = ::GetFileType(file) == FILE_TYPE_DISK;
  ::CloseHandle(file);
  return regular;
}

}  // namespace halvix::platform
