#pragma once
// The demo application's modules in a test's Lua state, and the bytes its
// frames come back as.
#include <string>

#include "tests/support/lua_fixture.h"

namespace halvix::test {

// Run first in a fixture state: makes require('lampdemo.frame') and
// require('preload') find the demo's sources.
inline const std::string kUseDemo = "package.path = '" HALVIX_SOURCE_DIR "/demo/?.lua;' .. package.path";

inline std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

}  // namespace halvix::test
