// irpacker.unpack: ranges, code values, corrupt input.
#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

using IrpackerUnpack = LuaFixture;

TEST_F(IrpackerUnpack, CodeValues) {
  EXPECT_LUA(R"(
    local cases = {
      {'00', {0}}, {'02', {205}}, {'1e', {205}}, {'1f', {213}}, {'3b', {558}},
      {'c4', {62212}}, {'c5', {64390}}, {'fe', {64390}}, {'ff', {65535}},
      {'013b5b0340', {558, 1679, 558}}, {'013b000300', {558, 558, 558}},
      {'010000ff' .. string.rep('ff', 32), nil},
      {'01c43b095580', {62212, 558, 62212, 558, 62212, 558, 62212, 558, 558}},
    }
    for i, c in ipairs(cases) do
      local got = irpacker.unpack(unhex(c[1]))
      if c[2] then
        assert(deepeq(got, c[2]), 'case ' .. i .. ': ' .. table.concat(got, ' '))
      else
        eq(#got, 255, 'a full run of ones')
        for k = 1, 255 do eq(got[k], 0, 'B of code 0') end
      end
    end
  )");
}

TEST_F(IrpackerUnpack, Ranges) {
  EXPECT_LUA(R"(
    local data = unhex('8b77013b5b0c1140b7008b633b')
    eq(table.concat(irpacker.unpack('\139\119\59\1', 3, 3), ' '), '558', 'only the third byte')
    eq(table.concat(irpacker.unpack(data, 2, 2), ' '), '4400', 'only the second byte')
    eq(table.concat(irpacker.unpack(data, 1, 2), ' '), '8755 4400', 'first two')
    eq(table.concat(irpacker.unpack(data, 11), ' '), '8755 2211 558', 'from 11 to the end')
    eq(#irpacker.unpack(data, 1, #data), 19, 'whole range')
    eq(#irpacker.unpack(data, 1.9, 13.9), 19, 'positions truncated')
    eq(#irpacker.unpack(data, '1', '13'), 19, 'numeric strings')
    local bad = {
      {data, 0, 5}, {data, 6, 5}, {'', nil, nil}, {data, -1, nil}, {data, -3, -1},
      {data, 1, 14}, {data, 1, -1}, {data, 2^64, nil}, {data, 0/0, nil},
    }
    for i, b in ipairs(bad) do
      checkerror('fr or to is bad', irpacker.unpack, b[1], b[2], b[3])
    end
    local function caller() local r = irpacker.unpack('', 1, 0); return r end
    local ok, err = pcall(caller)
    assert(err:find('^test:%d+: fr or to is bad$'), err)
    checkerror('bad argument #1', irpacker.unpack, {})
    checkerror('bad argument #2', irpacker.unpack, data, 'x')
    checkerror('bad argument #3', irpacker.unpack, data, 1, {})
  )");
}

TEST_F(IrpackerUnpack, CorruptRunsAreErrors) {
  EXPECT_LUA(R"(
    local cases = {
      {'013b5b00', 'run of 0 values at byte 1'},
      {'3b013b5b0040', 'run of 0 values at byte 2'},
      {'01', 'run past the end at byte 1'},
      {'013b5b', 'run past the end at byte 1'},
      {'013b5b09ff', 'run past the end at byte 1'},       -- 9 values need 2 bit bytes
      {'3b3b013b5bff' .. string.rep('00', 31), 'run past the end at byte 3'},
    }
    for _, c in ipairs(cases) do checkerror(c[2], irpacker.unpack, unhex(c[1])) end
    -- A range that cuts a good run in half is corrupt as well.
    local packed = unhex('013b5b0340')
    checkerror('run past the end at byte 1', irpacker.unpack, packed, 1, 4)
    -- Offsets count in the data, not in the range.
    checkerror('run past the end at byte 3', irpacker.unpack, '\59\59\1\59', 2)
  )");
}

TEST_F(IrpackerUnpack, InputLongerThanTheLimitIsRefused) {
  EXPECT_LUA(R"(
    local data = string.rep('\59', 1025)
    eq(#irpacker.unpack(data, 1, 1024), 1024, 'exactly the limit')
    eq(#irpacker.unpack(data, 2), 1024, 'the limit from the second byte')
    checkerror('packed code longer than 1024 bytes', irpacker.unpack, data)
  )");
}

TEST_F(IrpackerUnpack, RandomBytesNeverCrash) {
  EXPECT_LUA(R"(
    math.randomseed(9)
    local okCount = 0
    for round = 1, 3000 do
      local t = {}
      for i = 1, math.random(0, 64) do
        t[i] = string.char(math.random() < 0.2 and 1 or math.random(0, 255))
      end
      local s = table.concat(t)
      local ok, res = pcall(irpacker.unpack, s)
      if ok then
        okCount = okCount + 1
        for _, v in ipairs(res) do assert(v >= 0 and v <= 65535) end
      else
        assert(res:find('corrupt packed code') or res:find('fr or to is bad'), res)
      end
    end
    assert(okCount > 0)
  )");
}

}  // namespace
}  // namespace halvix::test
