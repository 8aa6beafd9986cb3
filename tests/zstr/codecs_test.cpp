#include <cstring>
#include <string>
#include <vector>

#include "modules/registration.h"
#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

class FloatHex : public LuaFixture {};

TEST_F(FloatHex, Float2HexTexts) {
  EXPECT_LUA(R"LUA(
    local cases = {
      {1, '3F800000'}, {-2.5, 'C0200000'}, {0.1, '3DCCCCCD'}, {0, '00000000'}, {-0.0, '80000000'},
      {1e300, '7F800000'}, {-1e300, 'FF800000'}, {1/0, '7F800000'}, {-1/0, 'FF800000'},
      {3.4028234663852886e38, '7F7FFFFF'},            -- FLT_MAX
      {2^128 - 2^103 - 2^75, '7F7FFFFF'},             -- just below the rounding midpoint
      {2^128 - 2^103, '7F800000'},                     -- the midpoint rounds to even: infinity
      {1e-46, '00000000'}, {1.401298464324817e-45, '00000001'},
      {16777217, '4B800000'},                          -- ties to even
      {'2', '40000000'},
    }
    for n, c in ipairs(cases) do eq(float2hex(c[1]), c[2], 'case ' .. n) end
    eq(#float2hex(0/0), 8)
    eq(float2hex(0/0):sub(2, 3), 'FC', 'NaN stays NaN')
  )LUA");
}

TEST_F(FloatHex, Hex2FloatInvertsFloat2Hex) {
  EXPECT_LUA(R"LUA(
    eq(hex2float('3F800000'), 1)
    eq(hex2float('C0200000'), -2.5)
    eq(hex2float('7F800000'), 1/0)
    eq(hex2float('3DCCCCCDtrailing'), hex2float('3DCCCCCD'), 'characters after the 8th are ignored')
    eq(1 / hex2float('80000000'), -1/0, 'negative zero')
    local x = hex2float('7FC00000'); eq(x ~= x, true, 'NaN')
    -- the documented digit rule for other characters: a lower-case letter in
    -- the second place of a pair adds 0x20 before the OR
    eq(float2hex(hex2float('0a000000')), '2A000000')
    eq(float2hex(hex2float('a0000000')), 'A0000000', 'first place: only the low 4 bits count')
    math.randomseed(31)
    for round = 1, 2000 do
      local h = string.format('%08X', math.random(0, 2^32 - 1))
      local back = float2hex(hex2float(h))
      if not h:match('^[7F]F[89A-F]') or h:match('^.F800000') then eq(back, h) end  -- NaN payloads aside
      local v = math.random(-1e6, 1e6) / 1024
      eq(hex2float(float2hex(v)), v)
    end
  )LUA");
}

TEST_F(FloatHex, MisuseRaisesArgumentErrors) {
  EXPECT_LUA(R"LUA(
    for _, s in ipairs({'', '3F80000', '1'}) do
      checkerror("bad argument #1 to 'hex2float' (at least 8 hexadecimal digits expected)",
                 function() hex2float(s) end)
    end
    checkerror("bad argument #1 to 'hex2float' (string expected, got no value)", function() hex2float() end)
    checkerror("bad argument #1 to 'float2hex' (number expected, got string)", function() float2hex('x') end)
    checkerror("bad argument #1 to 'float2hex' (number expected, got no value)", function() float2hex() end)
  )LUA");
}

class Ztab2str : public LuaFixture {};

TEST_F(Ztab2str, BytesOfTheRange) {
  EXPECT_LUA(R"LUA(
    eq(ztab2str({72, 105}), 'Hi')
    eq(ztab2str({65.9}), 'A')
    eq(ztab2str({}), '')
    eq(ztab2str({0, 255, '7'}), '\0\255\7')
    eq(ztab2str({-0.5}), '\0', 'truncated toward zero')
    eq(ztab2str({2^32 + 65}), 'A', 'the low 32 bits decide')
    eq(ztab2str({2^63, 0/0}), '\0\0', 'out of the 64-bit range: the minimum, whose low bits are 0')
    local t = {}
    for k = 1, 256 do t[k] = k - 1 end
    local all = ztab2str(t)
    eq(#all, 256)
    for k = 1, 256 do eq(all:byte(k), k - 1) end
    eq(ztab2str({1, 2, 3, 4}, 2, 3), '\2\3')
    eq(ztab2str({1, 2, 3, 4}, -2), '\3\4')
    eq(ztab2str({1, 2, 3, 4}, -100, 100), '\1\2\3\4')
    eq(ztab2str({1, 2, 3, 4}, 3, 2), '')
    eq(ztab2str({1, 2, 3, 4}, 0, 0), '')
    -- elements are read raw: no __index for holes outside the length
    local proxy = setmetatable({1, 2}, {__index = function() return 9 end})
    eq(ztab2str(proxy, 1, 3), '\1\2')
    eq(#ztab2str(t, 1, 100000), 256)
  )LUA");
}

TEST_F(Ztab2str, ElementErrorsNameTheIndex) {
  EXPECT_LUA(R"LUA(
    local cases = {
      {"bad argument #1 to 'ztab2str' (invalid value)", {256}},
      {"bad argument #3 to 'ztab2str' (invalid value)", {1, 2, -1}},
      {"bad argument #2 to 'ztab2str' (invalid value)", {1, 2^31}},
      {"bad argument #1 to 'ztab2str' (invalid value)", {-2^31}},
      {"bad argument #2 to 'ztab2str' (number expected, got table)", {1, {}}},
      {"bad argument #1 to 'ztab2str' (number expected, got string)", {'x'}},
      {"bad argument #2 to 'ztab2str' (number expected, got boolean)", {1, true}},
    }
    for n, c in ipairs(cases) do checkerror(c[1], function() ztab2str(c[2]) end) end
    checkerror("bad argument #1 to 'ztab2str' (table expected, got string)", function() ztab2str('abc') end)
    checkerror("bad argument #2 to 'ztab2str' (number expected, got table)", function() ztab2str({1}, {}) end)
    -- a bad element beyond the range is never looked at
    eq(ztab2str({1, 300}, 1, 1), '\1')
  )LUA");
}

TEST(ZstrRegistration, FunctionListOrder) {
  std::vector<std::string> names;
  for (const luaL_Reg* f = modules::kZstrFunctions; f->name; ++f) names.emplace_back(f->name);
  EXPECT_EQ(names, (std::vector<std::string>{"zpack", "zunpack", "float2hex", "hex2float", "ztab2str", "zcrc8",
                                             "zcrc16", "zcrcA001", "zcrc32", "zcrypt1"}));
}

class ZstrTable : public LuaFixture {};

TEST_F(ZstrTable, HoldsTheTenFunctionsAsGlobalsToo) {
  EXPECT_LUA(R"LUA(
    eq(package.loaded.zstr, zstr)
    local names = {'zpack', 'zunpack', 'float2hex', 'hex2float', 'ztab2str', 'zcrc8', 'zcrc16',
                   'zcrcA001', 'zcrc32', 'zcrypt1'}
    local n = 0
    for k in pairs(zstr) do n = n + 1 end
    eq(n, #names, 'fields of zstr')
    for _, name in ipairs(names) do
      eq(type(zstr[name]), 'function', 'zstr.' .. name)
      eq(type(_G[name]), 'function', name)
    end
  )LUA");
}

}  // namespace
}  // namespace halvix::test
