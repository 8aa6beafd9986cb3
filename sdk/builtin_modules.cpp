#include "sdk/builtin_modules.h"

// kGeneratedBlobs: base.MessagePack, make_readable, setuploader, compressed at
// build time (cmake/HalvixLuaBlobs.cmake).
#include "builtin_module_blobs.inc"

namespace halvix::sdk {

std::span<const BuiltinModuleBlob> builtinModuleBlobs() { return kGeneratedBlobs; }

}  // namespace halvix::sdk
