// readfd, writefd and flushfd over real descriptors, with short transfers
// and would-block forced through the socket seam.
#include <algorithm>
#include <random>

#include "tests/zsocket_buffer/byte_buffer_socket_fixture.h"

namespace halvix::test {
namespace {

TEST_F(ByteBufferSocket, ResultConvention) {
  EXPECT_LUA(R"(
    local b = z.newbuffer()
    local r = {b:flushfd(fdA)} assert(deepeq(r, {nil, 'closed'}), 'flush of an empty buffer')
    r = {b:readfd(fdB, 10)} assert(deepeq(r, {nil, 'timeout'}), 'nothing pending')
    eq(b:readfd(-1, 0), 0, 'n = 0 touches no socket')
    b:put('queued')
    r = {b:writefd(fdA, 'more')} assert(deepeq(r, {nil, 'timeout'}), 'queued behind')
    r = {z.newbuffer():readfd(fdB, 10)} assert(deepeq(r, {nil, 'timeout'}), 'writefd on a non-empty buffer sent nothing')
    eq(b:writefd(fdA, ''), true, 'empty range')
    eq(b:flushfd(fdA), true)
    local got = z.newbuffer()
    eq(got:readfd(fdB, 100), 10) eq(got:remove(100), 'queuedmore')
    eq(b:writefd(fdA, 'direct', 2, 4), true, 'sent at once')
    eq(got:readfd(fdB, -1), 3) eq(got:remove(10), 'ire')
    r = {b:writefd(1000000, 'x')} assert(deepeq(r, {nil, notsocket}), 'system error text')
    eq(b:getlen(), 0, 'nothing queued on failure')
    checkerror("Socket type missing 'getfd' method", b.flushfd, b, newproxy(true))
    checkerror('userdata expected', b.readfd, b, {}, 1)
  )");
}

TEST_F(ByteBufferSocket, PeerCloseReadsClosed) {
  EXPECT_LUA("z.newbuffer():writefd(fdA, 'tail')");
  pair_.closeA();
  EXPECT_LUA(R"(
    local b = z.newbuffer()
    eq(b:readfd(fdB, 100), 4)
    local r = {b:readfd(fdB, 100)} assert(deepeq(r, {nil, 'closed'}))
    eq(b:remove(10), 'tail', 'bytes kept')
  )");
}

TEST_F(ByteBufferSocket, ReadSizing) {
  EXPECT_LUA(R"(
    local w = z.newbuffer()
    eq(w:writefd(fdA, ('x'):rep(10000)), true)
    local r = z.newbuffer()
    eq(r:readfd(fdB, -1), 4096, 'new buffer: at least 4096')
    eq(r:readfd(fdB, -1), 5904, 'bounded by four times the capacity')
    w:writefd(fdA, ('y'):rep(50))
    eq(r:readfd(fdB, 100), 50, 'pending count')
    w:writefd(fdA, ('z'):rep(9000))
    eq(r:readfd(fdB, 20000), 9000, 'pending below n')
    eq(r:getlen(), 19050)
  )");
}

TEST_F(ByteBufferSocket, LuaSocketObjects) {
  EXPECT_LUA(R"(
    local client, peer = tcppair()
    local b, r = z.newbuffer(), z.newbuffer()
    eq(b:writefd(client, 'over tcp'), true)
    local n
    for i = 1, 100 do n = r:readfd(peer, 100) if n then break end socket.sleep(0.01) end
    eq(n, 8) eq(r:remove(8), 'over tcp')
    client:close()
    b:put('x')
    local res = {b:flushfd(client)}
    eq(res[1], nil) eq(res[2], notsocket, 'a closed object reports -1')
    peer:close()
  )");
}

// Every send and receive moves a random share (0 = would-block) of what it
// asks for; the stream must come out whole, in order, exactly once.
TEST_F(ByteBufferSocket, ShortTransfersLoseNothing) {
  std::mt19937 rng(5);
  platform::setTransferShaper([&rng](int, bool, std::size_t requested) {
    std::uniform_int_distribution<std::size_t> pick(0, 4);
    const std::size_t kind = pick(rng);
    if (kind == 0) return std::size_t{0};
    if (kind == 4) return requested;
    return std::uniform_int_distribution<std::size_t>(1, std::max<std::size_t>(1, requested))(rng);
  });
  EXPECT_LUA(R"(
    math.randomseed(3)
    local out, inb = z.newbuffer(), z.newbuffer()
    local sent, received = {}, {}
    local function pump()
      local n = inb:readfd(fdB, math.random(-1, 3000))
      if inb:getlen() > 0 then received[#received + 1] = inb:remove(inb:getlen()) end
      return n
    end
    for i = 1, 400 do
      local t = {}
      for k = 1, math.random(1, 600) do t[k] = string.char(math.random(0, 255)) end
      local chunk = table.concat(t)
      sent[#sent + 1] = chunk
      local i, j = 1, #chunk
      if math.random() < 0.3 then i = math.random(1, #chunk) sent[#sent] = chunk:sub(i) end
      local ok, err = out:writefd(fdA, chunk, i, j)
      assert(ok or err == 'timeout', err)
      if not out:empty() and math.random() < 0.5 then
        ok, err = out:flushfd(fdA)
        assert(ok or err == 'timeout', err)
      end
      pump()
    end
    for i = 1, 100000 do
      if out:empty() then break end
      local ok, err = out:flushfd(fdA)
      assert(ok or err == 'timeout', err)
      pump()
    end
    eq(out:empty(), true, 'all flushed')
    local want = table.concat(sent)
    for i = 1, 100000 do
      local have = #table.concat(received)
      if have >= #want then break end
      pump()
    end
    local got = table.concat(received)
    eq(#got, #want, 'length')
    assert(got == want, 'stream differs')
  )");
}

}  // namespace
}  // namespace halvix::test
