#include "platform/standard_output.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace halvix::platform {

void makeStandardOutputBinary() {
  std::fflush(stdout);
  ::_setmode(::_fileno(stdout), _O_BINARY);
}

}  // namespace halvix::platform
