#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "modules/zstr/crc.h"
#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

using namespace halvix::modules::zstr;

class Crc : public LuaFixture {};

TEST_F(Crc, CatalogueCheckValues) {
  // CRC-8/MAXIM (1-Wire), CRC-16/XMODEM, CRC-16/ARC and MODBUS, and CRC-32 without
  // its final complement, over the ASCII text 123456789.
  EXPECT_LUA(R"LUA(
    local s = '123456789'
    local cases = {
      {zcrc8, 0, 0xA1}, {zcrc16, 0, 0x31C3}, {zcrc16, 0xFFFF, 0x29B1},
      {zcrcA001, 0, 0xBB3D}, {zcrcA001, 0xFFFF, 0x4B37},
      {zcrc32, 0, 0x2DFD2D88}, {zcrc32, 0xFFFFFFFF, 0x340BC6D9},
    }
    for n, c in ipairs(cases) do eq(c[1](c[2], s), c[3], 'case ' .. n) end
    eq(bit.bxor(zcrc32(0xFFFFFFFF, s), 0xFFFFFFFF) % 2^32, 0xCBF43926, 'standard CRC-32')
    eq(zstr.zcrc16(0, s), 0x31C3, 'zstr.zcrc16')
  )LUA");
}

TEST_F(Crc, EmptyRangeReturnsTheLowBitsOfInit) {
  EXPECT_LUA(R"LUA(
    local fns = { {zcrc8, 0xFF}, {zcrc16, 0xFFFF}, {zcrcA001, 0xFFFF}, {zcrc32, 0xFFFFFFFF} }
    for n, f in ipairs(fns) do
      local crc, mask = f[1], f[2]
      eq(crc(0x1234567FF, ''), bit.band(0x1234567FF, mask) % 2^32, 'empty string ' .. n)
      eq(crc(0x1FF, 'abc', 3, 2), bit.band(0x1FF, mask), 'i > j ' .. n)
      eq(crc(5, 'abc', 4), 5, 'i past end ' .. n)
      eq(crc(5, 'abc', 1, 0), 5, 'j = 0 ' .. n)
      eq(crc(5, 'abc', -100, -10), 5, 'both before start ' .. n)
      eq(crc(nil, ''), 0, 'default init ' .. n)
      eq(crc(-1, ''), mask, 'init -1 ' .. n)
      eq(crc(2^53, ''), 0, 'init 2^53 ' .. n)
      eq(crc(2^53 + 2, ''), 2, 'init 2^53+2 ' .. n)
      eq(crc(2^63, ''), 0, 'init 2^63 is out of range: minimum, low bits 0 ' .. n)
      eq(crc(0/0, ''), 0, 'NaN init ' .. n)
      eq(crc(255.9, ''), bit.band(255, mask), 'truncated init ' .. n)
    end
    eq(zcrc8(0x1FF, ''), 0xFF)
    eq(zcrc16(65536 + 7, ''), 7)
    eq(zcrc32(2^32 + 9, ''), 9)
  )LUA");
}

TEST_F(Crc, RangesFollowStringPositions) {
  EXPECT_LUA(R"LUA(
    local s = '123456789'
    for _, f in ipairs({zcrc8, zcrc16, zcrcA001, zcrc32}) do
      eq(f(0, s, 2, -2), f(0, '2345678'))
      eq(f(0, s, -3), f(0, '789'))
      eq(f(0, s, -100), f(0, s))
      eq(f(0, s, 0, 100), f(0, s))
      eq(f(0, s, 9), f(0, '9'))
      eq(f(0, s, 2.7, 3.9), f(0, '23'))
    end
  )LUA");
}

TEST_F(Crc, ChainsAcrossSplitStrings) {
  EXPECT_LUA(R"LUA(
    math.randomseed(11)
    for round = 1, 40 do
      local t = {}
      for k = 1, math.random(0, 3000) do t[k] = string.char(math.random(0, 255)) end
      local s = table.concat(t)
      local cut = math.random(0, #s)
      local a, b = s:sub(1, cut), s:sub(cut + 1)
      for _, f in ipairs({zcrc8, zcrc16, zcrcA001, zcrc32}) do
        local init = math.random(0, 0xFFFF)
        eq(f(f(init, a), b), f(init, s), 'round ' .. round)
        eq(f(f(init, s, 1, cut), s, cut + 1), f(init, s), 'ranges, round ' .. round)
      end
    end
  )LUA");
}

TEST_F(Crc, MisuseRaisesArgumentErrors) {
  EXPECT_LUA(R"LUA(
    checkerror("bad argument #2 to 'zcrc8' (string expected, got no value)", function() zcrc8(0) end)
    checkerror("bad argument #1 to 'zcrc16' (number expected, got table)", function() zcrc16({}, 's') end)
    checkerror("bad argument #3 to 'zcrcA001' (number expected, got table)", function() zcrcA001(0, 's', {}) end)
    checkerror("bad argument #4 to 'zcrc32' (number expected, got boolean)", function() zcrc32(0, 's', 1, true) end)
  )LUA");
}

TEST_F(Crc, Crc32AgreesWithZlib) {
  std::mt19937 rng(3);
  for (std::size_t size : {1u, 15u, 16u, 17u, 4096u, 100000u}) {
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    lua_getglobal(L(), "zcrc32");
    lua_pushnumber(L(), 0xFFFFFFFF);
    lua_pushlstring(L(), data.data(), data.size());
    ASSERT_EQ(0, lua_pcall(L(), 2, 1, 0));
    const auto ours = static_cast<std::uint32_t>(lua_tonumber(L(), -1));
    lua_pop(L(), 1);
    const auto zlib = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    EXPECT_EQ(ours ^ 0xFFFFFFFFu, zlib) << size;
  }
}

// The sliced loops must equal the byte-at-a-time definitions at every length
// and alignment; the 0xA001 byte table must equal its two-nibble definition.
TEST(CrcCores, SlicedEqualsPlainOnRandomData) {
  std::mt19937 rng(5);
  std::vector<unsigned char> data(5000);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  for (int round = 0; round < 400; ++round) {
    const std::size_t offset = rng() % 64;
    const std::size_t length = round < 100 ? static_cast<std::size_t>(round) : rng() % (data.size() - offset);
    const unsigned char* p = data.data() + offset;
    const auto init = static_cast<std::uint32_t>(rng());
    EXPECT_EQ(crc8(static_cast<std::uint8_t>(init), p, length), crc8Plain(static_cast<std::uint8_t>(init), p, length));
    EXPECT_EQ(crc16(static_cast<std::uint16_t>(init), p, length), crc16Plain(static_cast<std::uint16_t>(init), p, length));
    EXPECT_EQ(crcA001(static_cast<std::uint16_t>(init), p, length),
              crcA001Plain(static_cast<std::uint16_t>(init), p, length));
    EXPECT_EQ(crcA001Plain(static_cast<std::uint16_t>(init), p, length),
              crcA001NibblePlain(static_cast<std::uint16_t>(init), p, length));
    EXPECT_EQ(crc32NoInvert(init, p, length), crc32Plain(init, p, length));
  }
}

}  // namespace
}  // namespace halvix::test
