// ZLINKBUFMT through Lua: the methods, their socket results, and shaped
// transfers against a model.
#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include "tests/zsocket_sockets/socket_pair.h"
#include "tests/zsocket_sockets/zsocket_lua_fixture.h"

namespace halvix::test {
namespace {

using LinkBuf = ZsocketFixture;

TEST_F(LinkBuf, ConstructorsAndChunkSizes) {
  EXPECT_LUA(R"LUA(
    local b = zsocket.newlinkbuf()
    eq(b:getlen(), 0); eq(b:empty(), true)
    eq(b:put(bytes(10000)), true)
    eq(b:getlen(), 10000); eq(b:empty(), false)
    eq(b:remove(20000), bytes(10000))
    eq(b:empty(), true, 'every chunk freed')
    eq(getmetatable(zsocket.newlinkbuf(0)), getmetatable(b))
    local m = b.new(16)
    eq(getmetatable(m), getmetatable(b))
    checkerror("number expected, got userdata", function() b:new() end)
    checkerror("bad argument #1 to 'newlinkbuf' (chunk size must not be negative)",
               function() zsocket.newlinkbuf(-1) end)
    checkerror("bad argument #1 to 'new' (chunk size must not be negative)", function() b.new(-4096) end)
    checkerror("number expected, got string", function() zsocket.newlinkbuf('x') end)
    checkerror("ZLINKBUFMT expected", function() b.getlen(zsocket.newbuffer()) end)
  )LUA");
}

TEST_F(LinkBuf, PutRemoveDrainSwap) {
  EXPECT_LUA(R"LUA(
    local b = zsocket.newlinkbuf(4)
    eq(b:put(''), true); eq(b:put('abc', 0), true); eq(b:put('abc', 3, 2), true)
    eq(b:empty(), true, 'empty ranges add nothing')
    b:put('hello world', 1, 5)
    b:put(' there', 1, 100)
    b:put('!!x', 3)
    eq(b:getlen(), 12)
    eq(b:remove(3), 'hel')
    eq(b:remove(0), '')
    b:drain(0)
    eq(b:getlen(), 9)
    b:drain(2)
    eq(b:remove(100), ' therex')
    eq(b:remove(5), '', 'empty queue')
    b:put('abcdefgh')
    b:drain(-1)
    eq(b:empty(), true, 'negative drains everything')
    b:put('abcdefgh')
    b:drain()
    eq(b:empty(), true)
    local other = zsocket.newlinkbuf(100)
    b:put('mine'); other:put('theirs')
    b:swap(other)
    eq(b:remove(10), 'theirs'); eq(other:remove(10), 'mine')
    b:put(bytes(250))   -- b now has 100-byte chunks
    eq(b:remove(250), bytes(250))
    local ptrsrc = zsocket.newbuffer()
    ptrsrc:put('pointer bytes')
    b:put(ptrsrc:getptr(), 1, 7)
    eq(b:remove(100), 'pointer')
    b:put('x'); b:reset()
    eq(b:empty(), true); eq(b:getlen(), 0)
  )LUA");
}

TEST_F(LinkBuf, RdHeaderAcrossChunks) {
  EXPECT_LUA(R"LUA(
    local header = 'GL' .. unhex('3031 0002 00000105')
    local function check(b)
      local magic, w1, w2, len = b:rd_header()
      eq(magic, 'GL'); eq(w1, 0x3031); eq(w2, 2); eq(len, 0x105)
    end
    local one = zsocket.newlinkbuf()
    one:put(header .. 'body')
    check(one)
    eq(one:getlen(), 14, 'not consumed')
    for _, size in ipairs({1, 3, 4, 7, 9}) do
      local b = zsocket.newlinkbuf(size)
      b:put(header .. 'xy')
      check(b)
      b:rd_header(true)
      eq(b:remove(10), 'xy')
    end
    local exact = zsocket.newlinkbuf(5)
    exact:put(header)
    exact:rd_header(true)
    eq(exact:empty(), true, 'header-only chunks are freed')
    local short = zsocket.newlinkbuf(4)
    short:put(header:sub(1, 9))
    local r = {short:rd_header(true)}
    eq(r[1], nil); eq(r[2], 'timeout'); eq(short:getlen(), 9)
  )LUA");
}

TEST_F(LinkBuf, FlushfdSixteenChunksPerCall) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  int size = 4 << 20;
  setsockopt(p.a(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  exposePair(p.a(), p.b());
  EXPECT_LUA(R"LUA(
    local b = zsocket.newlinkbuf()
    eq(b:flushfd(A), true, 'nothing queued')
    b:put(bytes(20 * 4096))
    local r = {b:flushfd(A)}
    eq(r[1], nil); eq(r[2], 'timeout')
    eq(b:getlen(), 4 * 4096)
    eq(b:flushfd(A), true)
    eq(b:empty(), true)
    local got = zsocket.newlinkbuf(2^20)
    eq(got:readfd(B, -1), 20 * 4096)
    eq(got:remove(20 * 4096), bytes(20 * 4096))
  )LUA");
}

TEST_F(LinkBuf, WritefdSendsOnlyWhenNothingIsQueued) {
  int sends = 0;
  ShaperGuard guard([&](int, bool sending, std::size_t n) -> std::size_t {
    if (!sending) return n;
    ++sends;
    return n > 4 ? 4 : n;
  });
  SocketPair p;
  ASSERT_TRUE(p.ok());
  exposePair(p.a(), p.b());
  EXPECT_LUA(R"LUA(
    local b = zsocket.newlinkbuf(8)
    eq(b:writefd(A, ''), true)
    eq(b:writefd(A, 'abc'), true, 'all sent at once')
    local r = {b:writefd(A, 'defghij')}
    eq(r[1], nil); eq(r[2], 'timeout')
    eq(b:getlen(), 3, 'the unsent rest is queued')
  )LUA");
  EXPECT_EQ(2, sends);
  EXPECT_LUA(R"LUA(
    local b = zsocket.newlinkbuf(8)
    b:put('queued')
    local r = {b:writefd(A, 'later', 2)}
    eq(r[1], nil); eq(r[2], 'timeout')
    eq(b:remove(100), 'queuedater')
    eq(zsocket.recv(B, 100), 'abcdefg')
  )LUA");
  EXPECT_EQ(2, sends) << "a queue with chunks never sends";
}

TEST_F(LinkBuf, SocketOutcomes) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  exposePair(p.a(), p.b());
  EXPECT_LUA(R"LUA(
    local b = zsocket.newlinkbuf(16)
    eq(b:readfd(B, 0), 0)
    local r = {b:readfd(B, 10)}
    eq(r[1], nil); eq(r[2], 'timeout')
    eq(b:empty(), false, 'an empty chunk stays as the tail')
    eq(b:getlen(), 0)
    eq(zsocket.send(A, 'abcdefghij'), 10)
    eq(b:readfd(B, 4), 4)
    eq(b:readfd(B, -1), 6)
    eq(b:remove(100), 'abcdefghij')
  )LUA");
  p.closeA();
  std::string fd = std::to_string(p.b());
  testing::internal::CaptureStdout();
  std::string result = run(R"LUA(
    local b = zsocket.newlinkbuf(16)
    local r = {b:readfd(B, 10)}
    eq(r[1], nil); eq(r[2], 'closed')
    b:put('pending')
    r = {b:flushfd(B)}
    eq(r[1], nil); eq(r[2], 'Broken pipe')
    eq(b:getlen(), 7, 'nothing lost')
    local w = zsocket.newlinkbuf(16)
    r = {w:writefd(B, 'data')}
    eq(r[1], nil); eq(r[2], 'Broken pipe')
    eq(w:empty(), true)
    -- a closed LuaSocket object reaches the system as descriptor -1
    local c, s = tcppair()
    c:close(); s:close()
    r = {b:flushfd(c)}
    eq(r[1], nil); eq(r[2], 'Bad file descriptor')
    r = {b:readfd(c, 10)}
    eq(r[1], nil); eq(r[2], 'Bad file descriptor')
  )LUA");
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ("", result);
  EXPECT_EQ("zlinkbuf_flush_available: write error on fd " + fd + ": Broken pipe" +
                "zlinkbuf_write: write error on fd " + fd + ": Broken pipe" +
                "zlinkbuf_flush_available: write error on fd -1: Bad file descriptor",
            printed);
}

TEST_F(LinkBuf, TcpTransferThroughBothQueues) {
  EXPECT_LUA(R"LUA(
    local c, s = tcppair()
    zsocket.setsendbuf(c, 16384)
    local out, inq = zsocket.newlinkbuf(1000), zsocket.newlinkbuf(3000)
    local data = bytes(300000, 3)
    local pos = 1
    local got = {}
    for round = 1, 100000 do
      if pos <= #data then
        local piece = math.min(7777, #data - pos + 1)
        out:writefd(c, data, pos, pos + piece - 1)
        pos = pos + piece
      else
        out:flushfd(c)
      end
      inq:readfd(s, -1)
      got[#got + 1] = inq:remove(inq:getlen())
      if pos > #data and out:empty() and #table.concat(got) == #data then break end
    end
    eq(table.concat(got), data)
    c:close(); s:close()
  )LUA");
}

// Random Lua operations on a sending and a receiving queue joined by a socket
// pair; the shaper cuts every transfer short or refuses it.
TEST_F(LinkBuf, ShapedRandomOperationsMatchTheModel) {
  std::mt19937 rng(11);
  ShaperGuard guard([&](int, bool, std::size_t n) -> std::size_t {
    if (rng() % 3 == 0) return 0;
    return 1 + rng() % n;
  });
  for (int seed = 1; seed <= 12; ++seed) {
    SocketPair p;
    ASSERT_TRUE(p.ok());
    exposePair(p.a(), p.b());
    ASSERT_LUA("SEED = " + std::to_string(seed));
    ASSERT_LUA(R"LUA(
      math.randomseed(SEED)
      local out = zsocket.newlinkbuf(math.random(1, 50))
      local inq = zsocket.newlinkbuf(math.random(1, 50))
      local given, model, handed, received = {}, '', 0, {}
      local all = ''
      for step = 1, 300 do
        local data = bytes(math.random(0, 120), step)
        local op = math.random(1, 6)
        if op == 1 then
          local before = out:getlen()
          local ok, err = out:writefd(A, data)
          all = all .. data
          if #data == 0 then
            eq(ok, true)
          elseif before > 0 then
            eq(err, 'timeout'); model = model .. data
          else
            -- whatever was not sent is queued
            local queued = out:getlen()
            model = model .. data:sub(#data - queued + 1)
            eq(ok == true, queued == 0)
          end
        elseif op == 2 then
          eq(out:put(data), true)
          all = all .. data
          model = model .. data
        elseif op == 3 then
          local ok, err = out:flushfd(A)
          if not ok then eq(err, 'timeout') end
          model = model:sub(#model - out:getlen() + 1)
        elseif op == 4 then
          local n = math.random(-3, 60)
          local before = inq:getlen()
          local got, err = inq:readfd(B, n)
          if got then
            eq(inq:getlen() - before, got)
            if n > 0 then assert(got <= n) end
          else
            eq(err, 'timeout'); eq(inq:getlen(), before)
          end
        elseif op == 5 then
          received[#received + 1] = inq:remove(math.random(0, 80))
        else
          local before = inq:getlen()
          local magic, w1, w2, len = inq:rd_header(true)
          if before < 10 then
            eq(w1, 'timeout'); eq(inq:getlen(), before)
          else
            eq(inq:getlen(), before - 10)
            received[#received + 1] = magic .. string.char(math.floor(w1 / 256), w1 % 256,
              math.floor(w2 / 256), w2 % 256, math.floor(len / 2^24), math.floor(len / 2^16) % 256,
              math.floor(len / 256) % 256, len % 256)
          end
        end
        eq(out:getlen(), #model, 'queued length at step ' .. step)
        if step % 50 == 0 then
          -- compare the queued bytes; taking them out and back compacts the chunks
          local copy = zsocket.newlinkbuf()
          copy:swap(out)
          local q = copy:remove(copy:getlen())
          eq(q, model, 'queued bytes at step ' .. step)
          copy:put(q)
          copy:swap(out)
        end
      end
      SENT_ALL, RECEIVED = all, table.concat(received)
      OUT, INQ = out, inq
    )LUA");
    // Finish unshaped: flush and read until everything crossed.
    platform::setTransferShaper(nullptr);
    ASSERT_LUA(R"LUA(
      for round = 1, 1000 do
        if OUT:getlen() == 0 then break end
        OUT:flushfd(A)
        INQ:readfd(B, -1)
      end
      INQ:readfd(B, -1)
      eq(OUT:getlen(), 0)
      eq(RECEIVED .. INQ:remove(INQ:getlen()), SENT_ALL, 'seed ' .. SEED)
    )LUA");
    platform::setTransferShaper([&](int, bool, std::size_t n) -> std::size_t {
      if (rng() % 3 == 0) return 0;
      return 1 + rng() % n;
    });
  }
}

}  // namespace
}  // namespace halvix::test
