// Streams made by zlib.deflate and zlib.inflate.
#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

class LzlibStreams : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    ASSERT_LUA(R"(
      function randomtext(n, seed)
        math.randomseed(seed)
        local t = {}
        for i = 1, n do
          t[i] = (i % 37 == 0) and '\n' or string.char(math.random(97, 100))
        end
        return table.concat(t)
      end
      function collector()
        local parts = {}
        return function(c) parts[#parts + 1] = c end, function() return table.concat(parts) end
      end
    )");
  }
};

TEST_F(LzlibStreams, DeflateToFunctionSinkRoundTrips) {
  EXPECT_LUA(R"(
    local text = randomtext(100000, 1)
    local sink, result = collector()
    local s = zlib.deflate(sink)
    eq(getmetatable(s), debug.getregistry()['zlib:zstream'], 'metatable')
    -- Written in uneven pieces, several per call.
    local pos = 1
    for _, size in ipairs{0, 1, 7, 4096, 30000, 70000} do
      s:write(text:sub(pos, pos + size - 1), '')
      pos = pos + size
    end
    s:write(text:sub(pos))
    s:close()
    eq(zlib.decompress(result()), text, 'deflate stream output')
  )");
}

TEST_F(LzlibStreams, DeflateToTableSinkCallsItsMethods) {
  EXPECT_LUA(R"(
    local log, parts = {}, {}
    local sink = {
      write = function(self, c) parts[#parts + 1] = c end,
      flush = function(self) log[#log + 1] = 'flush' end,
      close = function(self) log[#log + 1] = 'close' end,
    }
    local s = zlib.deflate(sink, 9)
    s:write('hello ')
    s:flush()  -- sync flush: everything so far can be inflated already
    local sofar = table.concat(parts)
    local partial = zlib.inflate(sofar)
    eq(partial:read(6), 'hello ', 'sync-flushed data')
    s:write('world')
    s:flush('full')
    checkerror('bad argument #2', s.flush, s, 'sometimes')
    s:close()
    s:close()  -- idempotent
    eq(table.concat(log, ','), 'flush,flush,close', 'sink calls')
    eq(zlib.decompress(table.concat(parts)), 'hello world', 'whole')
  )");
}

TEST_F(LzlibStreams, FinishThenWriteIsRefused) {
  EXPECT_LUA(R"(
    local sink, result = collector()
    local s = zlib.deflate(sink)
    s:write('abc')
    s:flush('finish')
    checkerror('finished stream', s.write, s, 'more')
    s:close()
    eq(zlib.decompress(result()), 'abc', 'finished output')
  )");
}

TEST_F(LzlibStreams, InflateReadFormats) {
  EXPECT_LUA(R"(
    local text = 'first line\nsecond\n\nlast without end'
    local s = zlib.inflate(zlib.compress(text))
    eq(s:read(), 'first line', 'default reads a line')
    eq(s:read(0), '', 'read(0) before the end')
    local a, b = s:read(3, '*l')
    eq(a, 'sec', 'count'); eq(b, 'ond', 'rest of line')
    eq(s:read('l'), '', 'empty line')
    eq(s:read('*a'), 'last without end', 'all')
    eq(s:read('*a'), '', 'all at the end')
    eq(s:read(), nil, 'line at the end')
    eq(s:read(5), nil, 'count at the end')
    eq(s:read(0), nil, 'read(0) at the end')
    checkerror('invalid format', s.read, s, '*x')
    s:close()
    local lines = {}
    for line in zlib.inflate(zlib.compress(text)):lines() do lines[#lines + 1] = line end
    eq(table.concat(lines, '|'), 'first line|second||last without end', 'lines')
  )");
}

TEST_F(LzlibStreams, InflateFromFunctionAndTableSources) {
  EXPECT_LUA(R"(
    local text = randomtext(50000, 2)
    local packed = zlib.compress(text)
    -- One byte at a time from a function.
    local pos = 0
    local s = zlib.inflate(function()
      pos = pos + 1
      if pos <= #packed then return packed:sub(pos, pos) end
    end)
    eq(s:read('*a'), text, 'function source')
    s:close()
    -- A table source is read in blocks and closed with the stream.
    local closed, sizes = false, {}
    local offset = 1
    local src = {
      read = function(self, n)
        sizes[#sizes + 1] = n
        local c = packed:sub(offset, offset + n - 1)
        offset = offset + n
        if c ~= '' then return c end
      end,
      close = function(self) closed = true end,
    }
    local t = zlib.inflate(src)
    local got = {}
    for line in t:lines() do got[#got + 1] = line end
    eq(table.concat(got, '\n'), text:gsub('\n$', ''), 'table source')
    t:close()
    eq(closed, true, 'source closed')
    assert(sizes[1] > 0, 'read asks for a block size')
  )");
}

TEST_F(LzlibStreams, InflateFailuresAreErrorsNotHangs) {
  EXPECT_LUA(R"(
    local text = randomtext(20000, 3)
    local packed = zlib.compress(text)
    for _, cut in ipairs{0, 1, 2, 10, #packed - 1} do
      local s = zlib.inflate(packed:sub(1, cut))
      checkerror('truncated stream', s.read, s, '*a')
      s:close()
    end
    -- A source that keeps giving empty strings ends the input.
    local s = zlib.inflate(function() return '' end)
    checkerror('truncated stream', s.read, s, 10)
    s:close()
    local bad = zlib.inflate('garbage!')
    checkerror('inflate failed', bad.read, bad)
    bad:close()
    local odd = zlib.inflate(function() return 42 end)
    checkerror('source returned a number', odd.read, odd)
    odd:close()
    local raising = zlib.inflate(function() error('source broke') end)
    checkerror('source broke', raising.read, raising)
    raising:close()
    checkerror('bad argument #1', zlib.inflate, 42)
    checkerror('bad argument #1', zlib.deflate, 'not a sink')
    checkerror('deflate failed', zlib.deflate, print, 3, 8, 99)
  )");
}

TEST_F(LzlibStreams, ClosedAndBusyStreamsAreSafe) {
  EXPECT_LUA(R"(
    local s = zlib.inflate(zlib.compress('abc'))
    s:close(); s:close()
    checkerror('closed stream', s.read, s)
    checkerror('closed stream', s.adler, s)
    assert(tostring(s):find('closed'), 'tostring of a closed stream')
    local d = zlib.deflate(function() end)
    d:close()
    checkerror('closed stream', d.write, d, 'x')
    -- Wrong kind of stream for the method.
    local i = zlib.inflate('')
    checkerror('not a deflate stream', i.write, i, 'x')
    local o = zlib.deflate(function() end)
    checkerror('not an inflate stream', o.read, o)
    -- The sink cannot close or reuse the stream it is called from.
    local st, reenter = nil, false
    st = zlib.deflate(function(c) if reenter then st:close() end end)
    st:write('x')
    reenter = true
    checkerror('stream is busy', st.close, st)
    st:close()
    checkerror('closed stream', st.write, st, 'y')
    -- A sink error propagates and leaves the stream usable.
    local fail = false
    local parts = {}
    local e = zlib.deflate(function(c) if fail then error('sink broke') end parts[#parts + 1] = c end)
    e:write('data')
    fail = true
    checkerror('sink broke', e.close, e)
    fail = false
    e:close()
    checkerror('closed stream', e.write, e, 'x')
    checkerror('bad argument #1', zlib.inflate('').read, 42)
  )");
}

TEST_F(LzlibStreams, DictionaryAndAdler) {
  EXPECT_LUA(R"(
    local dict = 'the quick brown fox jumps over the lazy dog'
    local sink, result = collector()
    local d = zlib.deflate(sink, 9, 8, 15, 8, 0, dict)
    d:write('the lazy dog and the quick fox')
    d:close()
    local i = zlib.inflate(result(), 15, dict)
    eq(i:read('*a'), 'the lazy dog and the quick fox', 'with dictionary')
    eq(i:adler(), zlib.adler32(1, 'the lazy dog and the quick fox'), 'adler of the data')
    i:close()
    local n = zlib.inflate(result())
    checkerror('need dictionary', n.read, n, '*a')
    n:close()
  )");
}

TEST_F(LzlibStreams, UnclosedStreamsAreCollected) {
  EXPECT_LUA(R"(
    for k = 1, 2000 do
      local d = zlib.deflate(function() end)
      d:write('some data to keep zlib busy')
      local i = zlib.inflate(zlib.compress('x'))
      i:read(0)
    end
    collectgarbage(); collectgarbage()
  )");
}

}  // namespace
}  // namespace halvix::test
