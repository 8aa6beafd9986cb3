#include "platform/sockets_startup.h"

namespace halvix::platform {

bool socketsStartup() { return true; }

}  // namespace halvix::platform
