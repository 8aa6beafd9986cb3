#pragma once
// Standard output for programs that write bytes, not text: on Windows the C
// runtime would turn every 0x0A into 0x0D 0x0A; here the two are the same.

namespace halvix::platform {

void makeStandardOutputBinary();

// Standard output is a terminal that redraws a line in place ("\r" and
// "ESC [2K"). On Windows this turns on the console's escape codes.
bool standardOutputIsLiveTerminal();

}  // namespace halvix::platform
