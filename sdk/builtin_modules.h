#pragma once
// The Lua modules compiled into the executable, as zlib blobs holding the
// module name, a NUL byte and the source, in the order they are preloaded.
#include <cstddef>
#include <span>

namespace halvix::sdk {

struct BuiltinModuleBlob {
  const unsigned char* data;
  std::size_t size;
};

std::span<const BuiltinModuleBlob> builtinModuleBlobs();

}  // namespace halvix::sdk
