#pragma once
// Completion of a forwarded call as raw answer bytes: what the Lua
// application passed to its callback object, one string per invocation.
#include <functional>
#include <string>
#include <vector>

namespace halvix::sdk {

using StringsCallback = std::function<void(const std::vector<std::string>&)>;

}  // namespace halvix::sdk
