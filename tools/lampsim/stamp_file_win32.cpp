#include "tools/lampsim/stamp_follower.h"

#include <windows.h>

#include "platform/text_win32.h"

namespace halvix::lampsim {

void StampFollower::closeFile() {
  file_ = -1;
  offset_ = 0;
  partial_.clear();
}

void StampFollower::poll() {
  // Opened for each look and closed again: Windows refuses to replace a file
  // that is open, and the writer may replace this one.
  HANDLE file = ::CreateFileW(platform::widen(path_).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(file, &info)) {
    const std::uint64_t identity = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    const auto size = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    if (file_ != -1 && (identity != identity_ || size < offset_)) closeFile();
    file_ = 0;
    identity_ = identity;
    char chunk[8192];
    for (;;) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset_);
      at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset_) >> 32);
      DWORD n = 0;
      if (!::ReadFile(file, chunk, sizeof chunk, &n, &at) || n == 0) break;
      offset_ += n;
      feed(std::string_view(chunk, n));
    }
  }
  ::CloseHandle(file);
}

}  // namespace halvix::lampsim
