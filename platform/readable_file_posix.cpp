#include "platform/readable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvix::platform {

bool isReadableFile(const std::string& path) {
  // O_NONBLOCK: a FIFO of that name must not stall the caller until a writer
  // comes; it is refused below like every other non-regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular;
}

}  // namespace halvix::platform
