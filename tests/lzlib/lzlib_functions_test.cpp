// The zlib module's one-shot functions, against zlib itself.
#include <random>
#include <string>

#include <zlib.h>

#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

class LzlibFunctions : public LuaFixture {
 protected:
  void setGlobalString(const char* name, const std::string& value) {
    lua_pushlstring(L(), value.data(), value.size());
    lua_setglobal(L(), name);
  }
  std::string globalString(const char* name) {
    lua_getglobal(L(), name);
    size_t len = 0;
    const char* s = lua_tolstring(L(), -1, &len);
    std::string out = s ? std::string(s, len) : std::string("<not a string>");
    lua_pop(L(), 1);
    return out;
  }
};

std::string randomBytes(std::size_t n, unsigned seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(0, alphabet - 1);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(dist(rng));
  return s;
}

TEST_F(LzlibFunctions, RegisteredAsGlobalAndLoadedModule) {
  EXPECT_LUA(R"(
    eq(type(zlib), 'table')
    eq(package.loaded.zlib, zlib, 'loaded entry')
    eq(require('zlib'), zlib, 'require')
    eq(zlib._VERSION, 'lzlib 0.4-work2')
    for _, f in ipairs{'compress', 'decompress', 'crc32', 'adler32', 'version', 'deflate', 'inflate'} do
      eq(type(zlib[f]), 'function', f)
    end
  )");
  EXPECT_EQ(zlibVersion(), eval("zlib.version()"));
}

TEST_F(LzlibFunctions, ChecksumsMatchCatalogueAndZlib) {
  EXPECT_LUA(R"(
    eq(zlib.crc32(), 0, 'crc32 initial')
    eq(zlib.adler32(), 1, 'adler32 initial')
    eq(zlib.crc32(0, '123456789'), 0xCBF43926, 'crc32 check value')
    eq(zlib.adler32(1, 'Wikipedia'), 0x11E60398, 'adler32 check value')
    eq(zlib.crc32(0, ''), 0, 'crc32 of nothing')
    eq(zlib.adler32(1, ''), 1, 'adler32 of nothing')
    checkerror('bad argument #2', zlib.crc32, 0)
    checkerror('bad argument #1', zlib.adler32, 'x', 'y')
  )");
  const std::string data = randomBytes(10007, 7);
  setGlobalString("data", data);
  const auto* bytes = reinterpret_cast<const Bytef*>(data.data());
  const uLong crc = crc32(0, bytes, static_cast<uInt>(data.size()));
  const uLong adler = adler32(1, bytes, static_cast<uInt>(data.size()));
  EXPECT_EQ(std::to_string(crc), eval("string.format('%d', zlib.crc32(0, data))"));
  EXPECT_EQ(std::to_string(adler), eval("string.format('%d', zlib.adler32(1, data))"));
  // Chaining across any split gives the checksum of the whole.
  EXPECT_LUA(R"(
    local whole_c, whole_a = zlib.crc32(0, data), zlib.adler32(1, data)
    for _, cut in ipairs{0, 1, 2, 4095, 5000, #data - 1, #data} do
      local a, b = data:sub(1, cut), data:sub(cut + 1)
      eq(zlib.crc32(zlib.crc32(0, a), b), whole_c, 'crc32 split ' .. cut)
      eq(zlib.adler32(zlib.adler32(1, a), b), whole_a, 'adler32 split ' .. cut)
    end
  )");
}

TEST_F(LzlibFunctions, CompressRoundTripsAndZlibReadsIt) {
  struct Case {
    std::size_t size;
    int alphabet;
  } cases[] = {{0, 256}, {1, 256}, {100, 4}, {65536, 256}, {300000, 3}, {200000, 256}};
  unsigned seed = 1;
  for (const Case& c : cases) {
    const std::string data = randomBytes(c.size, seed++, c.alphabet);
    setGlobalString("data", data);
    ASSERT_LUA(R"(
      packed = zlib.compress(data)
      eq(zlib.decompress(packed), data, 'round trip')
      for level = 0, 9, 3 do
        eq(zlib.decompress(zlib.compress(data, level)), data, 'level ' .. level)
      end
      eq(zlib.decompress(zlib.compress(data, 6, 8, 31), 31), data, 'gzip framing')
      eq(zlib.decompress(zlib.compress(data, 6, 8, -15), -15), data, 'raw deflate')
    )") << "size " << c.size;
    // Our output is a plain RFC 1950 stream zlib's uncompress accepts ...
    const std::string packed = globalString("packed");
    std::string back(c.size + 1, '\0');
    uLongf backLen = back.size();
    ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(back.data()), &backLen,
                               reinterpret_cast<const Bytef*>(packed.data()), packed.size()));
    back.resize(backLen);
    EXPECT_EQ(data, back);
    // ... and zlib's compress output reads back through the module.
    std::string theirs(compressBound(data.size()), '\0');
    uLongf theirsLen = theirs.size();
    ASSERT_EQ(Z_OK, compress2(reinterpret_cast<Bytef*>(theirs.data()), &theirsLen,
                              reinterpret_cast<const Bytef*>(data.data()), data.size(), 9));
    theirs.resize(theirsLen);
    setGlobalString("theirs", theirs);
    EXPECT_LUA("eq(zlib.decompress(theirs), data, 'zlib compress2 output')");
  }
}

TEST_F(LzlibFunctions, DecompressRejectsTruncatedAndCorruptInput) {
  setGlobalString("data", randomBytes(5000, 3, 16));
  EXPECT_LUA(R"(
    local packed = zlib.compress(data)
    -- Every proper prefix is truncated: an error, never a hang or a crash.
    for cut = 0, #packed - 1 do
      checkerror('decompress failed', zlib.decompress, packed:sub(1, cut))
    end
    checkerror('decompress failed: truncated stream', zlib.decompress, packed:sub(1, math.floor(#packed / 2)))
    checkerror('incorrect header check', zlib.decompress, 'not zlib data at all')
    -- A flipped byte in the body or the checksum is detected.
    for _, pos in ipairs{3, 100, #packed - 2, #packed} do
      local b = packed:byte(pos)
      local bad = packed:sub(1, pos - 1) .. string.char((b + 0x55) % 256) .. packed:sub(pos + 1)
      local ok, out = pcall(zlib.decompress, bad)
      if ok then eq(out ~= data, false, 'corruption at ' .. pos .. ' went unnoticed') end
    end
    local b = packed:byte(#packed)
    checkerror('incorrect data check', zlib.decompress,
      packed:sub(1, #packed - 1) .. string.char((b + 1) % 256))
    -- Trailing bytes after the end of the stream are ignored, as by zlib.
    eq(zlib.decompress(packed .. 'tail'), data, 'trailing bytes')
    checkerror('bad argument #1', zlib.decompress, nil)
    checkerror('compress failed', zlib.compress, 'x', 42)
  )");
}

TEST_F(LzlibFunctions, DecompressCapsRunawayOutput) {
  // A highly compressed stream inflating past the cap is refused cleanly.
  EXPECT_LUA(R"(
    local chunk = string.rep('\0', 1024 * 1024)
    local s = zlib.deflate(function(c) table.insert(_G.bomb_parts, c) end, 9)
    _G.bomb_parts = {}
    for i = 1, 66 do s:write(chunk) end
    s:close()
    local bomb = table.concat(_G.bomb_parts)
    _G.bomb_parts = nil
    assert(#bomb < 1024 * 1024, 'bomb should be small, is ' .. #bomb)
    checkerror('inflated data too large', zlib.decompress, bomb)
    local st = zlib.inflate(bomb)
    checkerror('inflated data too large', st.read, st, '*a')
    st:close()
  )");
}

}  // namespace
}  // namespace halvix::test
