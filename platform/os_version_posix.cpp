#include "platform/os_version.h"

#include <sys/utsname.h>

namespace halvix::platform {

std::string osVersionText() {
  std::string version = "Linux ";
  struct utsname name {};
  if (::uname(&name) == 0) version += name.release;
  return version;
}

}  // namespace halvix::platform
