#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

class Zpack : public LuaFixture {};

TEST_F(Zpack, WorkedExamples) {
  EXPECT_LUA(R"LUA(
    local cases = {
      {'3412026162', '<Hj', 4660, 'ab'},
      {'00000102', '>I', 258},
      {'3f800000', '>f', 1},
      {'00', 'E', 0}, {'01', 'E', -1}, {'02', 'E', 1}, {'7f', 'E', -64}, {'8001', 'E', 64},
      {'d804', 'E', 300}, {'ffffffff0f', 'E', -2147483648},
      {'ac02', 'e', 300}, {'ffffffff0f', 'e', -1},
      {'01', 'W', -1}, {'808080808040', 'W', 2^40}, {'ffffffffffffffffff01', 'W', -2^63},
      {'616200', 'z', 'ab'},
    }
    for n, c in ipairs(cases) do eq(hex(zpack(unpack(c, 2))), c[1], 'case ' .. n .. ' ' .. c[2]) end
  )LUA");
}

TEST_F(Zpack, NumberConversions) {
  EXPECT_LUA(R"LUA(
    local cases = {
      {'b', 256, '00'}, {'b', -1, 'ff'}, {'b', 255, 'ff'}, {'b', 255.9, 'ff'}, {'b', -0.9, '00'},
      {'c', -128, '80'}, {'c', 128, '80'},
      {'<h', -2, 'feff'}, {'<H', 65535, 'ffff'}, {'<H', 65536, '0000'},
      {'<i', 2^31 - 1, 'ffffff7f'}, {'<i', 2^31, '00000080'}, {'<i', -2^31, '00000080'},
      {'<i', 0/0, '00000080'}, {'<l', -1.5, 'ffffffff'},
      {'b', 2^31, '00'}, {'<h', 2^31 + 5, '0000'},  -- out of 32-bit range: the minimum, low bits 0
      {'<I', -1, 'ffffffff'}, {'<I', 2^32 - 1, 'ffffffff'}, {'<I', 2^32, '00000000'}, {'<L', 2^32 + 3, '03000000'},
      {'<u', 2^53, '0000000000002000'}, {'<u', -1, 'ffffffffffffffff'},
      {'<u', 2^63, '0000000000000080'}, {'<u', -2^63, '0000000000000080'}, {'<u', 1/0, '0000000000000080'},
      {'e', 2^32, '00'}, {'e', 2^32 + 300, 'ac02'}, {'e', 2^63, '00'},
      {'E', 2^31, 'ffffffff0f'}, {'E', 2^31 - 1, 'feffffff0f'},
      {'W', 2^63, 'ffffffffffffffffff01'}, {'W', 2^53, '8080808080808020'}, {'W', -2^53, 'ffffffffffffff1f'},
      {'<f', 1e300, '0000807f'}, {'<f', -1e300, '000080ff'}, {'<f', 0.1, 'cdcccc3d'},
      {'<d', 1, '000000000000f03f'}, {'<n', -2, '00000000000000c0'},
      {'b', '65', '41'},  -- a string that converts to a number
    }
    for n, c in ipairs(cases) do eq(hex(zpack(c[1], c[2])), c[3], 'case ' .. n .. ' ' .. c[1] .. ' ' .. tostring(c[2])) end
  )LUA");
}

// Fixed-width fields against the C library's own little-endian layout (FFI),
// and ">" against the same bytes reversed.
TEST_F(Zpack, ByteOrderMatchesNativeLayout) {
  EXPECT_LUA(R"LUA(
    local ffi = require('ffi')
    local function native(ctype, v) return ffi.string(ffi.new(ctype .. '[1]', v), ffi.sizeof(ctype)) end
    math.randomseed(17)
    local codes = { h = 'int16_t', H = 'uint16_t', i = 'int32_t', I = 'uint32_t', l = 'int32_t',
                    L = 'uint32_t', f = 'float', d = 'double', n = 'double', u = 'int64_t' }
    for round = 1, 200 do
      for code, ctype in pairs(codes) do
        local v
        if code == 'f' or code == 'd' or code == 'n' then v = (math.random() - 0.5) * 1e6
        elseif ctype:find('16') then v = math.random(0, 65535) - (code == 'h' and 32768 or 0)
        elseif code == 'u' then v = (math.random(0, 2^30) * 2^22 + math.random(0, 2^22)) * (math.random(0, 1) * 2 - 1)
        else v = math.random(0, 2^32 - 1) - ((code == 'i' or code == 'l') and 2^31 or 0) end
        local expected = native(ctype, v)
        eq(zpack('<' .. code, v), expected, code .. ' <')
        eq(zpack('=' .. code, v), expected, code .. ' =')
        eq(zpack(code, v), expected, code .. ' default order')
        eq(zpack('>' .. code, v), expected:reverse(), code .. ' >')
      end
    end
    -- the order applies to the P and a length prefixes, not to p, j or the bytes
    eq(hex(zpack('>P', 'ab')), '00026162')
    eq(hex(zpack('<P', 'ab')), '02006162')
    eq(hex(zpack('>a', 'x')), '000000000000000178')
    eq(hex(zpack('<a', 'x')), '010000000000000078')
    eq(hex(zpack('>pjz', 'a', 'b', 'c')), '0161016263' .. '00')
    -- order switches mid-format and a count after an order code is ignored
    eq(hex(zpack('>H<H>3H', 1, 1, 1)), '000101000001')
  )LUA");
}

TEST_F(Zpack, StringsAndCounts) {
  EXPECT_LUA(R"LUA(
    eq(zpack(''), '')
    eq(zpack('A0'), '')
    eq(zpack('A0b', 7), '\7')
    eq(zpack('b0b', 5), '\5', 'a count of 0 takes no argument')
    eq(zpack('z0E0W0<0'), '')
    eq(zpack('A3', 'x', 'yy', ''), 'xyy')
    eq(zpack('i2', 1, 2), zpack('i', 1) .. zpack('i', 2))
    eq(zpack('b10', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10), '\1\2\3\4\5\6\7\8\9\10')
    eq(zpack(' , b , b', 1, 2), '\1\2')
    eq(zpack('b', 1, 2, 3), '\1', 'extra arguments are ignored')
    eq(zpack('z', 'a\0b'), 'a\0b\0')
    local s300 = string.rep('x', 300)
    eq(zpack('p', s300), '\44' .. s300)
    local s70000 = string.rep('y', 70000)
    eq(zpack('<P', s70000), '\112\17' .. s70000, 'length 70000 mod 65536 = 4464')
    eq(zpack('j', s300), '\172\2' .. s300)
    eq(zpack('p', ''), '\0')
  )LUA");
}

TEST_F(Zpack, ErrorsNameTheArgument) {
  EXPECT_LUA(R"LUA(
    local cases = {
      {"bad argument #1 to 'zpack' (bad code `x')", function() zpack('bx', 1) end},
      {"bad argument #1 to 'zpack' (bad code `1')", function() zpack('1b', 1) end},
      {"bad argument #1 to 'zpack' (bad code `B')", function() zpack('B', 1) end},
      {"bad argument #1 to 'zpack' (bad code `1')", function() zpack(123) end},
      {"bad argument #1 to 'zpack' (string expected, got nil)", function() zpack(nil) end},
      {"bad argument #2 to 'zpack' (number expected, got no value)", function() zpack('b') end},
      {"bad argument #3 to 'zpack' (number expected, got no value)", function() zpack('i2', 1) end},
      {"bad argument #2 to 'zpack' (string expected, got table)", function() zpack('z', {}) end},
      {"bad argument #2 to 'zpack' (number expected, got string)", function() zpack('b', 'abc') end},
      {"bad argument #3 to 'zpack' (string expected, got boolean)", function() zpack('Ap', 'x', true) end},
    }
    for n, c in ipairs(cases) do checkerror(c[1], c[2]) end
  )LUA");
}

// An error half-way through a large result leaves nothing behind: the
// partial output lives in the Lua state and is collected.
TEST_F(Zpack, ErrorHalfWayLosesNothing) {
  EXPECT_LUA(R"LUA(
    local big = string.rep('x', 2^20)
    collectgarbage(); collectgarbage()
    local before = collectgarbage('count')
    for round = 1, 50 do
      local ok, err = pcall(zpack, 'AAAb', big, big, big, 'not a number')
      eq(ok, false)
      ok = pcall(zpack, 'AAAQ', big, big, big)
      eq(ok, false)
      ok = pcall(ztab2str, {1, 2, 3, 256})
      eq(ok, false)
    end
    collectgarbage(); collectgarbage()
    local after = collectgarbage('count')
    if after - before > 1024 then error('memory grew by ' .. (after - before) .. ' KiB') end
    eq(#zpack('AAA', big, big, big), 3 * #big)
  )LUA");
}

}  // namespace
}  // namespace halvix::test
