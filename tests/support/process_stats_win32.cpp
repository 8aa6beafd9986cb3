#include "tests/support/process_stats.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstring>

namespace halvix::test {

std::size_t threadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  std::size_t n = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  }
  CloseHandle(snapshot);
  return n;
}

long residentKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long>(counters.WorkingSetSize / 1024);
}

// A heap's flags are not published, but they have kept their place in its
// header since Windows Vista, and Wine keeps it too for the programs that
// look there.
bool heapChecksFrees() {
  constexpr std::size_t kFlagsOffset = sizeof(void*) == 8 ? 0x70 : 0x40;
  DWORD flags = 0;
  std::memcpy(&flags, static_cast<const char*>(static_cast<const void*>(GetProcessHeap())) + kFlagsOffset,
              sizeof flags);
  return (flags & HEAP_FREE_CHECKING_ENABLED) != 0;
}

std::size_t openHandles() {
  DWORD count = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &count) ? count : 0;
}

}  // namespace halvix::test
