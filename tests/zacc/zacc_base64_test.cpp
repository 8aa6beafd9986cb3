// zacc.ToBin64 and zacc.FromBin64.
#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

class ZaccBase64 : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    // An independent URL-safe encoder, written arithmetically.
    ASSERT_LUA(R"(
      local A = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_'
      function ref64(s)
        local out = {}
        for i = 1, #s, 3 do
          local b0, b1, b2 = s:byte(i, i + 2)
          local v = b0 * 65536 + (b1 or 0) * 256 + (b2 or 0)
          local sym = {}
          for k = 3, 0, -1 do
            local d = math.floor(v / 64 ^ k) % 64
            sym[#sym + 1] = A:sub(d + 1, d + 1)
          end
          local keep = b2 and 4 or b1 and 3 or 2
          out[#out + 1] = table.concat(sym):sub(1, keep) .. string.rep('=', 4 - keep)
        end
        return table.concat(out)
      end
    )");
  }
};

TEST_F(ZaccBase64, ToBin64Examples) {
  EXPECT_LUA(R"(
    local cases = {
      {'a', 'YQ=='}, {'ab', 'YWI='}, {'abc', 'YWJj'}, {'\251\255', '-_8='}, {'', ''},
      {'\0\0\0', 'AAAA'}, {'\255\255\255', '____'},
    }
    for _, c in ipairs(cases) do eq(zacc.ToBin64(c[1]), c[2], 'ToBin64 ' .. hex(c[1])) end
    eq(zacc.ToBin64('a', nil, ''), 'YQ', 'empty pad')
    eq(zacc.ToBin64('a', nil, '%%'), 'YQ%%%%', 'a longer pad is repeated whole')
    eq(zacc.ToBin64('ab', nil, '.'), 'YWI.', 'other pad')
    local std = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/'
    eq(zacc.ToBin64('\251\255', std), '+/8=', 'standard alphabet')
    checkerror('bad argument #1', zacc.ToBin64)
    checkerror('bad argument #2', zacc.ToBin64, 'a', 'short')
    checkerror('bad argument #3', zacc.ToBin64, 'a', nil, {})
  )");
}

TEST_F(ZaccBase64, FromBin64Examples) {
  EXPECT_LUA(R"(
    local function count(...) return select('#', ...) end
    local cases = {
      {'YWI=', 'ab'}, {'YW I', 'ab'}, {'YWJj\nYQ', 'abca'}, {'YQ==YWJj', 'a'},
      {'', ''}, {'YQ', 'a'}, {'YWJjY', 'abc'}, {'-_8=', '\251\255'},
      {' \t\r\n\b\fYQ==', 'a'}, {'====', ''},
    }
    for _, c in ipairs(cases) do eq(zacc.FromBin64(c[1]), c[2], 'FromBin64 ' .. c[1]) end
    eq(count(zacc.FromBin64('YW+I')), 0, 'plus sign gives no value')
    eq(count(zacc.FromBin64('YQ/=')), 0, 'slash gives no value')
    eq(count(zacc.FromBin64('Y\vQ')), 0, 'vertical tab is not skipped')
    eq(count(zacc.FromBin64('YQ==', nil, '')), 0, 'no pad: = is invalid')
    eq(zacc.FromBin64('YQ..', nil, '.x'), 'a', 'pad first byte stops')
    local std = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/'
    eq(zacc.FromBin64('+/8=', std), '\251\255', 'standard alphabet')
    -- A byte present twice keeps its later position (63 here, not 0).
    local dup = 'A' .. std:sub(2, 63) .. 'A'
    eq(zacc.FromBin64('AAAA', dup), '\255\255\255', 'duplicate symbol')
    checkerror('bad argument #2', zacc.FromBin64, 'YQ', string.rep('x', 63))
    checkerror('bad argument #1', zacc.FromBin64, nil)
  )");
}

TEST_F(ZaccBase64, RandomRoundTripsAgreeWithReference) {
  EXPECT_LUA(R"(
    math.randomseed(5)
    for n = 0, 300 do
      local t = {}
      for i = 1, n do t[i] = string.char(math.random(0, 255)) end
      local s = table.concat(t)
      local text = zacc.ToBin64(s)
      eq(text, ref64(s), 'encoding of ' .. n .. ' bytes')
      eq(zacc.FromBin64(text), s, 'round trip of ' .. n .. ' bytes')
      eq(zacc.FromBin64(zacc.ToBin64(s, nil, '')), s, 'unpadded round trip of ' .. n .. ' bytes')
    end
  )");
}

}  // namespace
}  // namespace halvix::test
