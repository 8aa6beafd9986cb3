// zsocket.send, recv, recvfrom, setsendbuf, setrecvbuf over loopback.
#include <cstdint>
#include <vector>

#include "modules/registration.h"
#include "tests/support/socket_pair.h"
#include "tests/support/zsocket_loopback_fixture.h"

namespace halvix::test {
namespace {

using SocketFunctions = ZsocketLoopbackFixture;

TEST_F(SocketFunctions, ModuleTableHoldsEveryFunctionAndReopensHarmlessly) {
  EXPECT_LUA(R"LUA(
    local names = {'send', 'recv', 'recvfrom', 'setsendbuf', 'setrecvbuf', 'newbuffer', 'newlinkbuf',
                   'cdr_rd_table', 'cdr_rd_var', 'cdr_wr_table', 'cdr_wr_var', 'cdr_wr_packet',
                   'cdr_wr_packetva', 'cdr_rd_header', 'compress', 'decompress'}
    local count = 0
    for _ in pairs(zsocket) do count = count + 1 end
    eq(count, #names, 'function count')
    for _, n in ipairs(names) do eq(type(zsocket[n]), 'function', n) end
    eq(package.loaded.zsocket, zsocket)
    eq(_G.zsocket, zsocket)
    old_linkbuf = zsocket.newlinkbuf()
    old_linkbuf:put('kept')
  )LUA");
  lua_pushcfunction(L(), modules::luaopen_zsocket);
  lua_call(L(), 0, 1);
  lua_setglobal(L(), "reopened");
  EXPECT_LUA(R"LUA(
    eq(reopened, zsocket, 'the module table is reused')
    eq(old_linkbuf:remove(10), 'kept', 'buffers made before still work')
    eq(getmetatable(zsocket.newbuffer()), getmetatable(zsocket.newbuffer():new()))
    eq(getmetatable(zsocket.newlinkbuf()).__index.rd_header ~= nil, true)
  )LUA");
}

TEST_F(SocketFunctions, SocketArgumentForms) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  exposePair(p.a(), p.b());
  EXPECT_LUA(R"LUA(
    eq(zsocket.send(A, 'num'), 3)
    eq(zsocket.recv(tostring(B), 10), 'num', 'numeric string')
    eq(zsocket.send(A + 0.75, 'trunc'), 5, 'truncated toward zero')
    eq(zsocket.recv(B, 10), 'trunc')
    -- an object with getfd, looked up through the metatable
    local obj = newproxy(true)
    getmetatable(obj).__index = {getfd = function(self) eq(self, obj); return B end}
    eq(zsocket.send(A, 'obj'), 3)
    eq(zsocket.recv(obj, 10), 'obj')
    -- __index may be a function too
    local fobj = newproxy(true)
    getmetatable(fobj).__index = function(_, k) if k == 'getfd' then return function() return A end end end
    eq(zsocket.setsendbuf(fobj, 8192), 0)

    checkerror("bad argument #1 to 'send' (userdata expected, got table)", function() zsocket.send({}, 'x') end)
    checkerror("bad argument #1 to 'recv' (userdata expected, got string)", function() zsocket.recv('abc', 1) end)
    checkerror("bad argument #1 to 'recvfrom' (userdata expected, got no value)", function() zsocket.recvfrom() end)
    checkerror("Socket type missing 'getfd' method", zsocket.recv, newproxy(false), 1)
    checkerror("Socket type missing 'getfd' method", zsocket.recv, newproxy(true), 1)
    local noget = newproxy(true)
    getmetatable(noget).__index = {}
    checkerror("Socket type missing 'getfd' method", zsocket.setrecvbuf, noget)
    -- a getfd result that is not a number is descriptor 0, which is no socket here
    local odd = newproxy(true)
    getmetatable(odd).__index = {getfd = function() return {} end}
    eq(zsocket.setsendbuf(odd, 4096), -1)
  )LUA");
}

TEST_F(SocketFunctions, ClosedLuaSocketObjectsAreClosedWithoutASystemCall) {
  int calls = 0;
  ShaperGuard guard([&](int, bool, std::size_t n) { return ++calls, n; });
  EXPECT_LUA(R"LUA(
    local c, s = tcppair()
    c:close()
    eq(c:getfd(), -1)
    local function closed(...) eq(select('#', ...), 2); eq((...), nil); eq(select(2, ...), 'closed') end
    closed(zsocket.send(c, 'abc'))
    closed(zsocket.recv(c, 10))
    closed(zsocket.recvfrom(c))
    closed(zsocket.setsendbuf(c, 1000))
    closed(zsocket.setrecvbuf(c, 1000))
    s:close()
  )LUA");
  EXPECT_EQ(0, calls);
}

TEST_F(SocketFunctions, SendRangesAndEmptyRanges) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  exposePair(p.a(), p.b());
  EXPECT_LUA(R"LUA(
    local cases = {
      {{'hello'}, 5, 'hello'},
      {{'hello', 2}, 4, 'ello'},
      {{'hello', 2, 3}, 2, 'el'},
      {{'hello', 1, 100}, 5, 'hello'},
      {{'hello', 4, -1}, 2, 'lo'},        -- j as unsigned is huge: lowered to the length
      {{''}, 0, nil},
      {{'hello', 0}, 0, nil},
      {{'hello', 3, 2}, 0, nil},
      {{'hello', -1}, 0, nil},            -- i as unsigned is huge: after the end
      {{12345}, 5, '12345'},
    }
    for n, c in ipairs(cases) do
      eq(zsocket.send(A, unpack(c[1], 1, 3)), c[2], 'case ' .. n)
      if c[3] then eq(zsocket.recv(B, 100), c[3], 'case ' .. n) end
    end
    local r = {zsocket.recv(B, 100)}
    eq(r[2], 'timeout', 'nothing more arrived')
  )LUA");
}

TEST_F(SocketFunctions, PointerFormsUseRawMemory) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  exposePair(p.a(), p.b());
  EXPECT_LUA(R"LUA(
    local buf = zsocket.newbuffer()
    buf:put('0123456789')
    local ptr = buf:getptr()
    eq(zsocket.send(A, ptr, 3, 6), 4)
    eq(zsocket.recv(B, 100), '2345')
    checkerror("bad argument #4 to 'send' (number expected, got no value)", function() zsocket.send(A, ptr) end)
    eq(zsocket.send(A, ptr, 5, 4), 0)

    local dst = zsocket.newbuffer()
    dst:expand(64)
    local dptr = dst:getptr(1, 64)
    eq(zsocket.send(A, 'abcdef'), 6)
    eq(zsocket.recv(B, 4, dptr), 4)
    eq(zsocket.recv(B, 10, dptr, 5), 2)
    dst:drain(0, 6)
    eq(dst:remove(6), 'abcdef')
    checkerror("bad argument #4 to 'recv' (from must >=1)", function() zsocket.recv(B, 4, dptr, 0) end)
    checkerror("bad argument #4 to 'recvfrom' (from must >=1)", function() zsocket.recvfrom(B, 4, dptr, -3) end)
  )LUA");
}

TEST_F(SocketFunctions, RecvSizesAndOutcomes) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  exposePair(p.a(), p.b());
  EXPECT_LUA(R"LUA(
    eq(zsocket.recv(B, 0), '')
    checkerror("bad argument #2 to 'recv' (must > 0)", function() zsocket.recv(B, -1) end)
    checkerror("bad argument #2 to 'recv' (number expected, got no value)", function() zsocket.recv(B) end)
    local r = {zsocket.recv(B, 10)}
    eq(r[1], nil); eq(r[2], 'timeout')
    -- sizes either side of the fixed scratch area, and a large one
    for _, n in ipairs({1, 8191, 8192, 8193, 100000}) do
      local data = bytes(n, n)
      local sent = 0
      local got = {}
      while sent < n or #table.concat(got) < n do
        if sent < n then
          local c, err, part = zsocket.send(A, data, sent + 1)
          sent = sent + (c or part or 0)
        end
        local s = zsocket.recv(B, n)
        if s then got[#got + 1] = s end
      end
      eq(table.concat(got), data, 'size ' .. n)
    end
    eq(zsocket.send(A, 'abc'), 3)
    eq(zsocket.recv(B, 2), 'ab', 'at most size bytes')
    eq(zsocket.recv(B, 2), 'c')
  )LUA");
  p.closeA();
  EXPECT_LUA(R"LUA(
    local r = {zsocket.recv(B, 10)}
    eq(r[1], nil); eq(r[2], 'closed')
    r = {zsocket.recv(123456, 10)}
    eq(r[1], nil); eq(r[2], 'unknow error', 'bad descriptor')
  )LUA");
}

TEST_F(SocketFunctions, TcpPartialSendsWithASmallSendBufferLoseNothing) {
  EXPECT_LUA(R"LUA(
    local c, s = tcppair()
    eq(zsocket.setsendbuf(c, 16384), 0)
    local data = bytes(2^20, 7)
    local pos, partials = 1, 0
    local got, received = {}, 0
    local function drain()
      repeat
        local chunk = zsocket.recv(s, 65536)
        if chunk then got[#got + 1] = chunk; received = received + #chunk end
      until not chunk
    end
    while pos <= #data do
      local n, err, part = zsocket.send(c, data, pos)
      if n then
        pos = pos + n
      else
        eq(err, 'timeout')
        if part then
          partials = partials + 1
          assert(part > 0 and part < #data - pos + 1)
          pos = pos + part
        end
      end
      drain()
    end
    for k = 1, 5000 do
      if received >= #data then break end
      socket.sleep(0.001)
      drain()
    end
    eq(table.concat(got), data)
    assert(partials > 0, 'a small send buffer takes the data in parts')
    -- a full send buffer with nothing read: would-block without a count
    local full
    for k = 1, 10000 do
      local n, err, part = zsocket.send(c, data)
      if not n and not part then full = err break end
    end
    eq(full, 'timeout')
    c:close(); s:close()
  )LUA");
}

TEST_F(SocketFunctions, PeerThatClosesGivesClosedAndNoSigpipe) {
  EXPECT_LUA(R"LUA(
    local c, s = tcppair()
    eq(zsocket.send(s, 'bye'), 3)
    s:close()
    eq(zsocket.recv(c, 10), 'bye')
    local r = {zsocket.recv(c, 10)}
    eq(r[1], nil); eq(r[2], 'closed')
    -- the peer answers with a reset; later sends fail, without SIGPIPE
    local failure
    for k = 1, 100 do
      local n, err = zsocket.send(c, 'data')
      if not n then failure = err break end
      socket.sleep(0.01)
    end
    eq(failure, 'unknow error')
    c:close()
  )LUA");
}

TEST_F(SocketFunctions, ShapedSendReportsThePartialCount) {
  std::vector<std::size_t> requested;
  ShaperGuard guard([&](int, bool sending, std::size_t n) -> std::size_t {
    if (sending) requested.push_back(n);
    return requested.size() == 2 ? 0 : 3;
  });
  SocketPair p;
  ASSERT_TRUE(p.ok());
  exposePair(p.a(), p.b());
  EXPECT_LUA(R"LUA(
    local r = {zsocket.send(A, 'abcdefgh')}
    eq(r[1], nil); eq(r[2], 'timeout'); eq(r[3], 3)
    r = {zsocket.send(A, 'defgh')}
    eq(r[1], nil); eq(r[2], 'timeout'); eq(r[3], nil, 'would-block carries no count')
    eq(zsocket.send(A, 'abc'), 3)
  )LUA");
  // A range longer than one call can carry is clamped, never wrapped.
  requested.clear();
  EXPECT_LUA(R"LUA(
    local buf = zsocket.newbuffer()
    buf:put('0123456789')
    local r = {zsocket.send(A, buf:getptr(), 1, 2^32 + 5)}
    eq(r[1], nil); eq(r[2], 'timeout'); eq(r[3], 3)
  )LUA");
  ASSERT_EQ(1u, requested.size());
  EXPECT_EQ(static_cast<std::size_t>(INT32_MAX), requested[0]);
}

TEST_F(SocketFunctions, RecvfromReportsTheSender) {
  EXPECT_LUA(R"LUA(
    local u, port = udpbound()
    local peer, peerport = udpbound()
    assert(peer:sendto('hello', '127.0.0.1', port))
    socket.sleep(0.01)
    local data, addr, from = zsocket.recvfrom(u)
    eq(data, 'hello'); eq(addr, '127.0.0.1'); eq(from, peerport)

    assert(peer:sendto(bytes(9000), '127.0.0.1', port))
    socket.sleep(0.01)
    eq(zsocket.recvfrom(u, 9000), bytes(9000))

    -- pointer form
    local buf = zsocket.newbuffer()
    buf:expand(32)
    assert(peer:sendto('xyz', '127.0.0.1', port))
    socket.sleep(0.01)
    local n, addr2, from2 = zsocket.recvfrom(u, 32, buf:getptr(1, 32), 3)
    eq(n, 3); eq(addr2, '127.0.0.1'); eq(from2, peerport)
    buf:drain(0, 5)
    eq(buf:remove(5):sub(3), 'xyz')

    -- an empty datagram and would-block
    assert(peer:sendto('', '127.0.0.1', port))
    socket.sleep(0.01)
    local r = {zsocket.recvfrom(u)}
    eq(r[1], nil); eq(r[2], 'no poss err')
    r = {zsocket.recvfrom(u)}
    eq(r[1], nil); eq(r[2], 'timeout')
    checkerror("bad argument #2 to 'recvfrom' ((invalid number))", function() zsocket.recvfrom(u, -1) end)
    u:close(); peer:close()
  )LUA");
}

TEST_F(SocketFunctions, BufferSizes) {
  EXPECT_LUA(R"LUA(
    local c, s = tcppair()
    eq(zsocket.setsendbuf(c, 65536), 0)
    eq(zsocket.setrecvbuf(c, 65536), 0)
    eq(zsocket.setsendbuf(c), 0, 'size defaults to 0')
    eq(zsocket.setsendbuf(123456, 4096), -1)
    eq(zsocket.setrecvbuf(123456), -1)
    eq(select('#', zsocket.setrecvbuf(123456)), 1, 'no message on failure')
    c:close(); s:close()
  )LUA");
}

}  // namespace
}  // namespace halvix::test
