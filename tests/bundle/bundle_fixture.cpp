#include "tests/bundle/bundle_fixture.h"

#include "sdk/corvel_native_impl.h"

namespace halvix::test {

const char* const kBundleHelpers = R"LUA(
MessagePack = require('base.MessagePack')
function enc(s) return zcrypt1('FernQuill_fqx4', zlib.compress(s)) end
function be32(n)
  return string.char(math.floor(n / 16777216) % 256, math.floor(n / 65536) % 256,
                     math.floor(n / 256) % 256, n % 256)
end
function block(shape)
  local area, list, offset = {}, {}, 0
  for _, m in ipairs(shape.mods or {}) do
    local stored = m.raw or enc(m[2])
    list[m[1]] = { offset, #stored }
    area[#area + 1] = stored
    offset = offset + #stored
  end
  local header = shape.header or { shape.tag or 'lib1', shape.label or 'lib', shape.luaSize or offset, shape.modList or list }
  local h = shape.rawHeader or enc(MessagePack.pack(header))
  return be32(shape.headerLength or #h) .. h .. table.concat(area)
end
function writeBundle(name, ...)
  local path = DIR .. '/' .. name
  local f = assert(io.open(path, 'wb'))
  f:write(table.concat({ ... }))
  f:close()
  return path
end
function setup(name)
  return require('setuploader').setupLoader(DIR .. '/' .. name)
end
)LUA";

void BundleFixture::SetUp() {
  LuaFixture::SetUp();
  if (HasFatalFailure()) return;
  ASSERT_LUA("DIR = '" + sdk::escapeLuaString(dir_.path().string()) + "'");
  ASSERT_LUA(kBundleHelpers);
}

std::string BundleFixture::printed(const std::string& code) {
  testing::internal::CaptureStdout();
  std::string error = run(code);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ("", error);
  return out;
}

}  // namespace halvix::test
