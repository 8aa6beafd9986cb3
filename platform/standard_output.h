#pragma once
// Standard output for programs that write bytes, not text: on Windows the C
// runtime would turn every 0x0A into 0x0D 0x0A; here the two are the same.

namespace halvix::platform {

void makeStandardOutputBinary();

}  // namespace halvix::platform
