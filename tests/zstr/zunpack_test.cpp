#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

class Zunpack : public LuaFixture {};

TEST_F(Zunpack, WorkedExamples) {
  EXPECT_LUA(R"LUA(
    local function all(...) return {...} end
    local cases = {
      {'3412026162', '<Hj', {6, 4660, 'ab'}},
      {'00000102', '>I', {5, 258}},
      {'3f800000', '>f', {5, 1}},
      {'00017f8001d804ffffffff0f', 'E7', {13, 0, -1, -64, 64, 300, -2147483648}},
      {'ac02ffffffff0f', 'e2', {8, 300, 4294967295}},
      {'ffffffff7f', 'e', {6, 4294967295}},
      {'01808080808040ffffffffffffffffff01', 'W3', {18, -1, 2^40, -2^63}},
      {'010203', 'bbbb', {4, 1, 2, 3}},
      {'6162', 'z', {4, 'ab'}},
      {'61620063', 'zz', {6, 'ab', 'c'}},
      {'6162', '', {1}},
      {'', 'A0', {1, ''}},
      {'6162', 'A0b', {2, '', 0x61}},
      {'6162', 'b0z0e0A0', {1, ''}},
      {'616263', 'A2A', {4, 'ab', 'c'}},
      {'ff80ff', 'bcc', {4, 255, -128, -1}},
      {'feff0080', '<hH', {5, -2, 32768}},
      {'ffffffff', '<i', {5, -1}},
      {'ffffffff', '<l', {5, -1}},
      {'ffffffff', '<L', {5, 4294967295}},
      {'ffffffffffffffff', '<u', {9, -1}},
      {'0000000000000080', '<u', {9, -2^63}},
      {'0000000000f03f', '<d', {1}},
      {'000000000000f03f', '<d', {9, 1}},
      {'3ff0000000000000', '>n', {9, 1}},
      {'0002', '>H<H', {3, 2}},
      {'00020200', '>H<H', {5, 2, 2}},
      {'0002', '>3H', {3, 2}},
    }
    for n, c in ipairs(cases) do
      local got = all(zunpack(unhex(c[1]), c[2]))
      if not deepeq(got, c[3]) then
        local parts = {}
        for k, v in ipairs(got) do parts[k] = tostring(v) end
        error('case ' .. n .. ' ' .. c[2] .. ': got ' .. table.concat(parts, ', '))
      end
    end
  )LUA");
}

TEST_F(Zunpack, StopsAtTheFirstIncompleteValue) {
  EXPECT_LUA(R"LUA(
    local function all(...) return {...} end
    local cases = {
      {'0102', 'bi', {2, 1}},
      {'01808080', 'be', {2, 1}},
      {'0180', 'bE', {2, 1}},
      {'01ffffffffffffffffff', 'bW', {2, 1}},
      {'01ffffffff8f', 'be', {2, 1}},          -- 5th byte with its top bit set
      {'01ffffffffffffffffff81', 'bW', {2, 1}}, -- 10th byte with its top bit set
      {'0105616263', 'bj', {2, 1}},             -- j length past the end
      {'0103616263', 'bjb', {6, 1, 'abc'}},
      {'01040061', 'b<Pb', {2, 1}},
      {'0100', 'b<P', {2, 1}},
      {'0105', 'bp', {2, 1}},
      {'010100000000000000', 'b<a', {2, 1}},
      {'01ffffffffffffffff', 'b<a', {2, 1}},    -- a length near 2^64 never wraps
      {'0102', 'bA5b', {2, 1}},
      {'01', 'bz', {2, 1}},
      {'01', 'bb', {2, 1}},
    }
    for n, c in ipairs(cases) do
      local got = all(zunpack(unhex(c[1]), c[2]))
      if not deepeq(got, c[3]) then
        local parts = {}
        for k, v in ipairs(got) do parts[k] = tostring(v) end
        error('case ' .. n .. ' ' .. c[2] .. ': got ' .. table.concat(parts, ', '))
      end
    end
    -- stopping ends the whole format, even for codes that would fit afterwards
    eq(select('#', zunpack('\1', 'ib')), 1)
  )LUA");
}

TEST_F(Zunpack, InitialPosition) {
  EXPECT_LUA(R"LUA(
    local data = unhex('aabb01000000cc')
    local pos, v = zunpack(data, '<i', 3)
    eq(pos, 7); eq(v, 1)
    eq(select('#', zunpack(data, 'b', 100)), 1)
    eq(zunpack(data, 'b', 100), 100)
    eq(zunpack(data, 'z', 8), 8)
    eq(zunpack(data, '', 5), 5)
    local p2, b = zunpack(data, 'b', 1.5); eq(p2, 2); eq(b, 0xaa)
    local p3, b3 = zunpack(data, 'b', 0.5); eq(p3, 2); eq(b3, 0xaa)
    local p4, b4 = zunpack(data, 'b', 7); eq(p4, 8); eq(b4, 0xcc)
    eq(zunpack(data, 'b', 2^31), 2^31, 'the largest working position')
    -- positions before the data are refused, never read
    for _, init in ipairs({0, -1, -100, -2^31, 2^31 + 1, 2^53, 0/0, -1/0}) do
      checkerror("bad argument #3 to 'zunpack' (initial position must be at least 1)",
                 function() zunpack(data, 'b', init) end)
    end
  )LUA");
}

TEST_F(Zunpack, ErrorsNameTheArgument) {
  EXPECT_LUA(R"LUA(
    local cases = {
      {"bad argument #2 to 'zunpack' (bad code `x')", function() zunpack('abc', 'bx') end},
      {"bad argument #2 to 'zunpack' (bad code `9')", function() zunpack('abc', '9b') end},
      {"bad argument #2 to 'zunpack' (bad code `?')", function() zunpack('', '?') end},
      {"bad argument #1 to 'zunpack' (string expected, got nil)", function() zunpack(nil, 'b') end},
      {"bad argument #2 to 'zunpack' (string expected, got no value)", function() zunpack('abc') end},
      {"bad argument #3 to 'zunpack' (number expected, got table)", function() zunpack('abc', 'b', {}) end},
    }
    for n, c in ipairs(cases) do checkerror(c[1], c[2]) end
    -- a bad code after values were read raises all the same
    checkerror("bad code `Q'", function() zunpack('abc', 'bQ') end)
    -- more values than the Lua stack can hold are an error, not a crash
    checkerror('too many results to unpack', function() zunpack(string.rep('\0', 100000), 'b100000') end)
  )LUA");
}

TEST_F(Zunpack, RoundTripsRandomRecords) {
  EXPECT_LUA(R"LUA(
    math.randomseed(23)
    local function rnds(max)
      local t = {}
      for k = 1, math.random(0, max) do t[k] = string.char(math.random(0, 255)) end
      return table.concat(t)
    end
    local gens = {
      b = function() return math.random(0, 255) end,
      c = function() return math.random(-128, 127) end,
      h = function() return math.random(-32768, 32767) end,
      H = function() return math.random(0, 65535) end,
      i = function() return math.random(0, 2^32 - 1) - 2^31 end,
      l = function() return math.random(0, 2^32 - 1) - 2^31 end,
      I = function() return math.random(0, 2^32 - 1) end,
      L = function() return math.random(0, 2^32 - 1) end,
      e = function() return math.random(0, 2^32 - 1) end,
      E = function() return math.random(0, 2^32 - 1) - 2^31 end,
      u = function() return (math.random(0, 2^31) * 2^22 + math.random(0, 2^21)) * (math.random(0, 1) * 2 - 1) end,
      W = function() return (math.random(0, 2^31) * 2^22 + math.random(0, 2^21)) * (math.random(0, 1) * 2 - 1) end,
      f = function() return math.random(-2^20, 2^20) / 64 end,
      d = function() return (math.random() - 0.5) * 1e300 end,
      n = function() return (math.random() - 0.5) * 1e-300 end,
      p = function() return rnds(255) end,
      P = function() return rnds(2000) end,
      a = function() return rnds(100) end,
      j = function() return rnds(300) end,
      z = function() return (rnds(50):gsub('%z', 'x')) end,
    }
    local codes = {}
    for c in pairs(gens) do codes[#codes + 1] = c end
    table.sort(codes)
    for round = 1, 300 do
      local fmt, values = {}, {}
      for k = 1, math.random(1, 12) do
        if math.random(1, 4) == 1 then fmt[#fmt + 1] = ({'<', '>', '=', ' ', ','})[math.random(1, 5)] end
        local c = codes[math.random(1, #codes)]
        fmt[#fmt + 1] = c
        values[#values + 1] = gens[c]()
      end
      fmt = table.concat(fmt)
      local packed = zpack(fmt, unpack(values))
      local got = {zunpack(packed, fmt)}
      eq(got[1], #packed + 1, fmt .. ' end position')
      for k, v in ipairs(values) do eq(got[k + 1], v, fmt .. ' value ' .. k) end
      eq(#got, #values + 1, fmt .. ' value count')
      -- A with the exact length reads the packed string back as one value
      eq(select(2, zunpack(packed, 'A' .. #packed)), packed)
    end
  )LUA");
}

TEST_F(Zunpack, PublishedAsModuleZpack) {
  EXPECT_LUA(R"LUA(
    local m = require('zpack')
    local n = 0
    for k in pairs(m) do n = n + 1 end
    eq(n, 2, 'fields')
    eq(m.zpack, zpack); eq(m.zunpack, zunpack)
    eq(zstr.zunpack(zstr.zpack('>i', -5), '>i'), 5)
    eq(select(2, zstr.zunpack(zstr.zpack('>i', -5), '>i')), -5)
  )LUA");
}

}  // namespace
}  // namespace halvix::test
