#include "tests/chroma/open_handles.h"

#include <windows.h>

namespace halvix::test {

std::size_t openHandles() {
  DWORD count = 0;
  return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? count : 0;
}

}  // namespace halvix::test
