#pragma once
// Every SDK operation reports exactly two MessagePack values: a boolean
// (success) and a str (empty on success, the failure message otherwise).
#include <functional>
#include <string_view>
#include <vector>

#include <msgpack.hpp>

namespace halvix::sdk {

using ResultCallback = std::function<void(std::vector<msgpack::object_handle>&)>;

// Packs [ok, message], unpacks them into two independent handles, calls the
// callback once and destroys it. An empty callback is only destroyed.
void reportResult(ResultCallback callback, bool ok, std::string_view message);

}  // namespace halvix::sdk
