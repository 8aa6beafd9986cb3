#include "platform/standard_output.h"

namespace halvix::platform {

// POSIX streams have no text mode to leave.
void makeStandardOutputBinary() {}

}  // namespace halvix::platform
