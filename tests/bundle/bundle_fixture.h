#pragma once
// A host Lua state (built-in modules preloaded, no loader installed yet) with
// Lua helpers that write bundles byte by byte, including broken ones.
#include <string>

#include "tests/support/lua_fixture.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {

// Lua helpers, defined in every BundleFixture state:
//   enc(s)                 -> zcrypt1(password, zlib.compress(s)), the stored form
//   be32(n)                -> 4 bytes, big-endian
//   block{...}             -> one block; fields: mods = {{name, code}, ...}
//                             (a mod may give raw = stored bytes instead of code),
//                             tag, label, luaSize, modList, header (a Lua value
//                             packed instead of the usual array), rawHeader
//                             (encoded header bytes), headerLength (override H)
//   writeBundle(name, ...) -> writes the concatenated strings to DIR/name, returns the path
//   setup(name)            -> require('setuploader').setupLoader(DIR/name)
extern const char* const kBundleHelpers;

class BundleFixture : public LuaFixture {
 protected:
  void SetUp() override;

  // Runs `code` with stdout captured; returns what was printed. A Lua error
  // fails the test.
  std::string printed(const std::string& code);

  TempDir dir_;
};

}  // namespace halvix::test
