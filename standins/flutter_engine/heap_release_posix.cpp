#include "standins/flutter_engine/heap_release.h"

#include <cstdlib>  // defines __GLIBC__ where it applies

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace halvix::flutter_engine {

// glibc keeps freed chunks of a few MiB in its arenas, the more so after it
// has raised its mmap threshold to the size of such a chunk: a host that
// served large frames would keep their peak for good. malloc_trim gives back
// every free page of every arena.
void releaseFreedHeap() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

}  // namespace halvix::flutter_engine
