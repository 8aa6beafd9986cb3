#include "standins/flutter_engine/heap_release.h"

#include <windows.h>

namespace halvix::flutter_engine {

// Windows already gives blocks beyond its heaps' large-block threshold back
// as they are freed, which covers every large frame; compacting the heaps
// decommits what smaller blocks left free.
void releaseFreedHeap() {
  HANDLE heaps[64];
  DWORD count = ::GetProcessHeaps(static_cast<DWORD>(sizeof heaps / sizeof heaps[0]), heaps);
  if (count > sizeof heaps / sizeof heaps[0]) count = sizeof heaps / sizeof heaps[0];
  for (DWORD i = 0; i < count; ++i) ::HeapCompact(heaps[i], 0);
}

}  // namespace halvix::flutter_engine
