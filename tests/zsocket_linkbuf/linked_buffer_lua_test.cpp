// ZLINKBUFMT through Lua: the methods, their arguments and their socket
// results. The queue's own behaviour under shaped transfers is tested on the
// core (linked_buffer_test.cpp).
#include <string>

#include "tests/support/socket_pair.h"
#include "tests/support/zsocket_loopback_fixture.h"

namespace halvix::test {
namespace {

using LinkBuf = ZsocketLoopbackFixture;

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
    eq(b:readfd(B, -1), 10)
    eq(b:remove(100), 'abcdefghij')
    eq(b:flushfd(A), true, 'nothing queued')
  )LUA");
  p.closeA();
  lua_pushstring(L(), notASocketText().c_str());
  lua_setglobal(L(), "notsocket");
  // The diagnostics printed on the way are the core's; keep them out of the log.
  testing::internal::CaptureStdout();
  std::string result = run(R"LUA(
    local b = zsocket.newlinkbuf(16)
    local r = {b:readfd(B, 10)}
    eq(r[1], nil); eq(r[2], 'closed')
    -- a closed LuaSocket object reaches the system as descriptor -1
    local c, s = tcppair()
    c:close(); s:close()
    b:put('pending')
    r = {b:flushfd(c)}
    eq(r[1], nil); eq(r[2], notsocket)
    eq(b:getlen(), 7, 'nothing lost')
    r = {b:readfd(c, 10)}
    eq(r[1], nil); eq(r[2], notsocket)
  )LUA");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ("", result);
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

}  // namespace
}  // namespace halvix::test
