#pragma once
// A name for the calling thread as system tools show it (top -H, /proc's
// comm, debuggers), so that a thread's share of the process can be told
// apart from outside.
namespace halvix::platform {

// At most 15 bytes are kept on Linux; longer names are cut. Failure is
// ignored: a name only helps the person looking.
void nameCurrentThread(const char* name);

}  // namespace halvix::platform
