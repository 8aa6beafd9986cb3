#pragma once
// How many descriptors (handles on Windows) the process holds open, to show
// that sockets are closed.
#include <cstddef>

namespace halvix::test {

std::size_t openHandles();

}  // namespace halvix::test
