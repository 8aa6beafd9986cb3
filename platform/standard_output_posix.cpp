#include "platform/standard_output.h"

#include <unistd.h>

namespace halvix::platform {

// POSIX streams have no text mode to leave.
void makeStandardOutputBinary() {}

bool standardOutputIsLiveTerminal() { return ::isatty(STDOUT_FILENO) != 0; }

}  // namespace halvix::platform
