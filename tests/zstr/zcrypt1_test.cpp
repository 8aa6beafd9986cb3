#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

// The block-rotation form of the key stream, written independently in Lua:
// block b uses the key rotated left by r(b), r(b+1) = (r(b) + key[r(b)]) mod m.
const char* const kReference = R"LUA(
function ref_crypt1(key, data)
  local m, out, r = #key, {}, 0
  for b = 0, math.ceil(#data / m) - 1 do
    for t = 0, m - 1 do
      local pos = b * m + t + 1
      if pos > #data then break end
      local kb = key:byte((r + t) % m + 1)
      out[#out + 1] = string.char(bit.bxor(kb, data:byte(pos)))
    end
    r = (r + key:byte(r + 1)) % m
  end
  return table.concat(out)
end
function randbytes(n)
  local t = {}
  for i = 1, n do t[i] = string.char(math.random(0, 255)) end
  return table.concat(t)
end
math.randomseed(7)
)LUA";

class Zcrypt1 : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    ASSERT_LUA(kReference);
  }
};

TEST_F(Zcrypt1, OneByteKeyXorsEveryByte) {
  EXPECT_LUA(R"LUA(
    eq(hex(zcrypt1('\1', 'abc')), '606362')
    eq(hex(zcrypt1('\255', '\0\1\2\255')), 'fffefd00')
  )LUA");
}

TEST_F(Zcrypt1, MatchesTheBlockRotationForm) {
  EXPECT_LUA(R"LUA(
    -- hand-worked: key 01 02 03, r = 0, 1, (1 + 2) % 3 = 0, 1
    eq(hex(zcrypt1('\1\2\3', string.rep('\0', 11))), '0102030203010102030203')
    for _, m in ipairs({1, 2, 3, 7, 16, 255, 300}) do
      local key = randbytes(m)
      for _, n in ipairs({1, m - 1, m, m + 1, 5 * m + 3, 9000}) do
        if n >= 1 then
          local data = randbytes(n)
          eq(zcrypt1(key, data), ref_crypt1(key, data), 'm=' .. m .. ' n=' .. n)
        end
      end
    end
  )LUA");
}

TEST_F(Zcrypt1, TwiceRestoresTheData) {
  EXPECT_LUA(R"LUA(
    for round = 1, 50 do
      local key, data = randbytes(math.random(1, 40)), randbytes(math.random(1, 20000))
      eq(zcrypt1(key, zcrypt1(key, data)), data, 'round ' .. round)
    end
  )LUA");
}

TEST_F(Zcrypt1, ReturnsOnlyTheRange) {
  EXPECT_LUA(R"LUA(
    local key, data = 'KEY', 'abcdefgh'
    local r = zcrypt1(key, data, 3, 4)
    eq(#r, 2)
    eq(r, string.char(bit.bxor(('c'):byte(), ('K'):byte()), bit.bxor(('d'):byte(), ('E'):byte())))
    eq(zcrypt1(key, data, -3), ref_crypt1(key, 'fgh'))
    eq(zcrypt1(key, data, -100, 2), ref_crypt1(key, 'ab'))
    eq(zcrypt1(key, data, 2, 100), ref_crypt1(key, 'bcdefgh'))
    eq(zcrypt1(key, data, 1.9, 2.9), ref_crypt1(key, 'ab'))
  )LUA");
}

TEST_F(Zcrypt1, EmptyRangeGivesNilAndEBA) {
  EXPECT_LUA(R"LUA(
    local cases = { {''}, {'abc', 3, 2}, {'abc', 4}, {'abc', 1, 0}, {'abc', -100, -50}, {'abc', 0, 0} }
    for n, c in ipairs(cases) do
      local r, msg = zcrypt1('k', c[1], c[2], c[3])
      eq(r, nil, 'case ' .. n); eq(msg, 'EBA', 'case ' .. n)
      eq(select('#', zcrypt1('k', c[1], c[2], c[3])), 2)
    end
  )LUA");
}

TEST_F(Zcrypt1, MisuseRaisesArgumentErrors) {
  EXPECT_LUA(R"LUA(
    local cases = {
      {"bad argument #1 to 'zcrypt1' (key must not be empty)", function() zcrypt1('', 'data') end},
      {"bad argument #1 to 'zcrypt1' (key must not be empty)", function() zcrypt1('', '') end},
      {"bad argument #1 to 'zcrypt1' (string expected, got no value)", function() zcrypt1() end},
      {"bad argument #2 to 'zcrypt1' (string expected, got table)", function() zcrypt1('k', {}) end},
      {"bad argument #3 to 'zcrypt1' (number expected, got table)", function() zcrypt1('k', 'd', {}) end},
      {"bad argument #4 to 'zcrypt1' (number expected, got boolean)", function() zcrypt1('k', 'd', 1, true) end},
    }
    for _, c in ipairs(cases) do checkerror(c[1], c[2]) end
  )LUA");
}

TEST_F(Zcrypt1, PublishedAsGlobalAndInZstr) {
  EXPECT_LUA(R"LUA(
    eq(require('zstr'), zstr)
    eq(type(zstr.zcrypt1), 'function')
    eq(zstr.zcrypt1('key', 'some data'), zcrypt1('key', 'some data'))
  )LUA");
}

}  // namespace
}  // namespace halvix::test
