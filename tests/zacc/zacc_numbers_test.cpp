// zacc's number functions: float2bin, bin2float, num2str.
#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

using ZaccNumbers = LuaFixture;

TEST_F(ZaccNumbers, Float2BinPatterns) {
  EXPECT_LUA(R"(
    local cases = {
      {1, 1065353216}, {-2.5, 3223322624}, {0, 0}, {-0.0, 2147483648},
      {0.1, 0x3DCCCCCD}, {1e39, 0x7F800000}, {-1e39, 0xFF800000},
      {1/0, 0x7F800000}, {-1/0, 0xFF800000},
      {3.4028234663852886e38, 0x7F7FFFFF},          -- FLT_MAX
      {2^128 - 2^103 - 2^75, 0x7F7FFFFF},           -- just below the rounding limit
      {2^128 - 2^103, 0x7F800000},                  -- the limit itself rounds up
      {1.401298464324817e-45, 1}, {1e-50, 0},       -- smallest subnormal, underflow
      {16777217, 0x4B800000},                       -- ties to even
    }
    for _, c in ipairs(cases) do eq(zacc.float2bin(c[1]), c[2], 'float2bin(' .. c[1] .. ')') end
    eq(zacc.float2bin('1'), 1065353216, 'numeric string')
    checkerror('bad argument #1', zacc.float2bin)
    checkerror('bad argument #1', zacc.float2bin, {})
  )");
}

// A NaN narrows as the processor's conversion narrows it, sign included,
// and float2bin and float2hex agree on the pattern.
TEST_F(ZaccNumbers, NanKeepsItsSign) {
  EXPECT_LUA(R"(
    local ffi = require('ffi')
    local u = ffi.new('union { float f; uint32_t u; }')
    local function reference(x) u.f = x return tonumber(u.u) end
    local nan = 0/0
    eq(reference(nan) ~= reference(-nan), true, 'both signs are covered')
    for _, x in ipairs({nan, -nan}) do
      eq(zacc.float2bin(x), reference(x), 'float2bin')
      eq(float2hex(x), string.format('%08X', reference(x)), 'float2hex')
    end
  )");
}

TEST_F(ZaccNumbers, Bin2FloatTakesLow32Bits) {
  EXPECT_LUA(R"(
    local cases = {
      {1065353216, 1}, {3223322624, -2.5}, {0, 0},
      {2^32 + 1065353216, 1},          -- bits above 32 ignored
      {1065353216.99, 1},              -- truncated toward zero
      {-3221225472, 2},                -- -3221225472 = 0x...40000000 in two's complement
      {2^63, 0}, {-2^64, 0}, {0/0, 0}, -- out of range and NaN read as -2^63
      {0x7F800000, 1/0}, {0xFF800000, -1/0},
    }
    for _, c in ipairs(cases) do eq(zacc.bin2float(c[1]), c[2], 'bin2float(' .. c[1] .. ')') end
    local v = zacc.bin2float(-1)
    eq(v ~= v, true, 'all ones is NaN')
    checkerror('bad argument #1', zacc.bin2float, 'x')
  )");
}

TEST_F(ZaccNumbers, RoundTripMatchesTheFfiFloat) {
  // LuaJIT's FFI converts through a C float: an independent reference.
  EXPECT_LUA(R"(
    local ffi = require('ffi')
    local u = ffi.new('union { float f; uint32_t u; }')
    math.randomseed(11)
    for i = 1, 5000 do
      local x = (math.random() - 0.5) * 10 ^ math.random(-40, 40)
      u.f = x
      eq(zacc.float2bin(x), tonumber(u.u), 'pattern of ' .. x)
      eq(zacc.bin2float(zacc.float2bin(x)), tonumber(u.f), 'round trip of ' .. x)
      local bits = math.random(0, 2^32 - 1)
      u.u = bits
      local f = zacc.bin2float(bits)
      if f == f then eq(f, tonumber(u.f), 'value of ' .. bits) end
    end
  )");
}

TEST_F(ZaccNumbers, Num2StrFormats) {
  EXPECT_LUA(R"(
    local cases = {
      {0.1, '0.1'}, {1/3, '0.3333333333333333'}, {1e20, '1e+20'},
      {123456789012345678, '1.234567890123457e+17'}, {-0.0, '-0'},
      {1e15, '1000000000000000'}, {1e16, '1e+16'}, {1e-4, '0.0001'}, {1e-5, '1e-05'},
      {2^53, '9007199254740992'}, {-2.5, '-2.5'}, {'12.5', '12.5'}, {' 0x10 ', '16'},
      {{}, '0'}, {'abc', '0'}, {true, '0'},
    }
    for _, c in ipairs(cases) do eq(zacc.num2str(c[1]), c[2], 'num2str(' .. tostring(c[1]) .. ')') end
    eq(zacc.num2str(), '0', 'no argument')
    eq(zacc.num2str(2^63), string.format('%.16g', 2^63), 'as the C library formats')
  )");
}

}  // namespace
}  // namespace halvix::test
