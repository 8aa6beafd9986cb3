// zsocket.compress and zsocket.decompress.
#include "tests/support/zsocket_loopback_fixture.h"

namespace halvix::test {
namespace {

using Compression = ZsocketLoopbackFixture;

TEST_F(Compression, RoundTripsAtEverySizeAndFormat) {
  EXPECT_LUA(R"LUA(
    math.randomseed(5)
    local function noise(n)
      local t = {}
      for k = 1, n do t[k] = string.char(math.random(0, 255)) end
      return table.concat(t)
    end
    local inputs = {'a', 'hello hello hello', bytes(511), bytes(513), noise(3000), noise(200000),
                    string.rep('z', 2^20)}
    for n, input in ipairs(inputs) do
      local z, status = zsocket.compress(input)
      eq(status, 1, 'stream end ' .. n)
      eq(z:byte(1), 0x78, 'zlib header ' .. n)
      eq(zsocket.decompress(z), input, 'zlib ' .. n)
      local raw = zsocket.compress(input, 1, -1, 9, 8, -15, 9, 0)
      eq(zsocket.decompress(raw, 1, #raw, -15), input, 'raw ' .. n)
      local gz = zsocket.compress(input, nil, nil, 1, 8, 31)
      eq(gz:sub(1, 2), '\31\139', 'gzip header ' .. n)
      eq(zsocket.decompress(gz, 1, -1, 31), input, 'gzip ' .. n)
    end
    -- ranges
    local z = zsocket.compress('xxhelloxx', 3, 7)
    eq(zsocket.decompress(z), 'hello')
    eq(zsocket.decompress('junk' .. z .. 'tail', 5, 4 + #z), 'hello')
    local buf = zsocket.newbuffer()
    buf:put(z)
    eq(zsocket.decompress(buf:getptr()), 'hello', 'pointer form')
    eq(zsocket.decompress(zsocket.compress(buf:getptr())), z)
  )LUA");
}

TEST_F(Compression, ArgumentAndStreamFailuresAreResults) {
  EXPECT_LUA(R"LUA(
    local function fails(expect, ...)
      local r = {...}
      eq(select('#', ...), 2, expect)
      eq(r[1], nil, expect); eq(r[2], expect)
    end
    fails('compress args error', zsocket.compress(''))
    fails('compress args error', zsocket.compress('abc', 0))
    fails('compress args error', zsocket.compress('abc', 3, 2))
    fails('compress args error', zsocket.compress())
    fails('compress args error', zsocket.compress({}))
    fails('compress args error', zsocket.compress(newproxy(false)))
    fails('compress args error', zsocket.compress(zsocket.newbuffer():getptr()))  -- j = 0
    fails('decompress args error', zsocket.decompress(''))
    fails('decompress args error', zsocket.decompress('abc', 4))
    fails('decompress args error', zsocket.decompress(nil))
    fails('decompress args error', zsocket.decompress('abc', 'x'))
    -- bad deflate parameters: the zlib status as a number
    local r = {zsocket.compress('abc', 1, 3, 42)}
    eq(r[1], nil); eq(r[2], -2)
    r = {zsocket.compress('abc', 1, 3, -1, 7)}
    eq(r[1], nil); eq(r[2], -2)
    fails('failed to initialize zstream structures', zsocket.decompress('abc', 1, 3, 3))

    local z = zsocket.compress(bytes(50000))
    for _, cut in ipairs({1, 2, 10, math.floor(#z / 2), #z - 1}) do
      fails('failed to process zlib stream', zsocket.decompress(z:sub(1, cut)))
    end
    fails('failed to process zlib stream', zsocket.decompress('not a zlib stream at all'))
    local bad = z:sub(1, 20) .. string.char((z:byte(21) + 1) % 256) .. z:sub(22)
    local out = {zsocket.decompress(bad)}
    assert(out[1] == nil or out[1] ~= bytes(50000), 'corruption is not hidden')
    -- bytes after the stream end are ignored
    eq(zsocket.decompress(z .. 'trailing garbage'), bytes(50000))
    -- a preset dictionary is not supported: a clean failure
    fails('failed to process zlib stream', zsocket.decompress(unhex('78bb 0000 0001 4b0100 0000')))
    -- Output is capped at 64 MiB, like the zlib module's one-shot calls.
    fails('inflated data too large', zsocket.decompress(zsocket.compress(string.rep('\0', 64 * 1024 * 1024 + 1))))
  )LUA");
}

}  // namespace
}  // namespace halvix::test
