#include "tools/lampsim/stamp_follower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvix::lampsim {

void StampFollower::closeFile() {
  if (file_ >= 0) ::close(static_cast<int>(file_));
  file_ = -1;
  offset_ = 0;
  partial_.clear();
}

void StampFollower::poll() {
  struct stat named {};
  if (::stat(path_.c_str(), &named) != 0) return;
  if (file_ >= 0 && (named.st_ino != identity_ || named.st_size < offset_)) closeFile();
  if (file_ < 0) {
    file_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (file_ < 0) return;
    identity_ = named.st_ino;
  }
  char chunk[8192];
  for (;;) {
    ssize_t n = ::pread(static_cast<int>(file_), chunk, sizeof chunk, offset_);
    if (n <= 0) break;
    offset_ += n;
    feed(std::string_view(chunk, static_cast<std::size_t>(n)));
  }
}

}  // namespace halvix::lampsim
