#include "sdk/builtin_modules.h"

namespace halvix::sdk {

// The build does not embed the built-in modules yet; normal-mode start-up
// then fails at the bundle loader's set-up.
std::span<const BuiltinModuleBlob> builtinModuleBlobs() { return {}; }

}  // namespace halvix::sdk
