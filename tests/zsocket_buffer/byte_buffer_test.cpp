// ZBUFFERMT methods: growth, realignment, ranges, lines, headers, packets.
#include "tests/support/zsocket_lua_fixture.h"

namespace halvix::test {
namespace {

class ByteBuffer : public ZsocketLuaFixture {
 protected:
  void SetUp() override {
    ZsocketLuaFixture::SetUp();
    // capacity(b) is destructive: rollback beyond the block exposes all of it.
    ASSERT_LUA(R"(
      ffi = require('ffi')
      function capacity(b) b:rollback(2^40) return b:getlen() end
      function contents(b)
        local n = b:getlen()
        return n == 0 and '' or ffi.string(b:getptr(), n)
      end
    )");
  }
};

TEST_F(ByteBuffer, GrowthAndRealignment) {
  EXPECT_LUA(R"(
    local b = z.newbuffer()
    eq(b:getlen(), 0) eq(b:empty(), true) eq(capacity(b), 0, 'no storage')
    b = z.newbuffer() b:put('x') eq(capacity(b), 256)
    b = b:new() b:put(('x'):rep(300)) eq(capacity(b), 512)
    b = z.newbuffer() b:put(('x'):rep(1025)) eq(capacity(b), 2048)
    b = z.newbuffer() eq(b:expand(0), true) eq(b:expand(-5), true) eq(capacity(b), 0, 'n < 1 changes nothing')
    -- 200 bytes in 256, drain 100, put 100: realigned in place
    b = z.newbuffer()
    local head = ('a'):rep(100) .. ('b'):rep(100)
    b:put(head) b:drain(100) b:put(('c'):rep(100))
    eq(contents(b), ('b'):rep(100) .. ('c'):rep(100))
    eq(capacity(b), 256, 'no reallocation')
    -- a growth with a consumed prefix moves the contents to the front first
    b = z.newbuffer() b:put(('a'):rep(250)) b:drain(10) b:put(('d'):rep(20))
    eq(contents(b), ('a'):rep(240) .. ('d'):rep(20)) eq(capacity(b), 512, 'need counts the prefix')
  )");
}

TEST_F(ByteBuffer, GrowthFailureLeavesBufferAlone) {
  EXPECT_LUA(R"(
    local b = z.newbuffer() b:put('abc')
    eq(select('#', b:expand(2^40)), 0, 'expand')
    eq(select('#', b:expand(2^62)), 0, 'expand near overflow')
    b:drain(0, 2^40) eq(contents(b), 'abc', 'drain extra')
    eq(select('#', b:put(b:getptr(), 1, 2^40)), 0, 'put of a huge pointer range')
    eq(contents(b), 'abc')
    checkerror('ZBUFFERMT expected', b.getlen, {})
    checkerror('number expected', b.expand, b)
    checkerror('number expected', b.remove, b)
    checkerror('number expected', b.rollback, b, 'x')
    b:drain(0, 2^63) eq(b:getlen(), 0, 'an out-of-range extra is the minimum')
  )");
}

TEST_F(ByteBuffer, PutRanges) {
  EXPECT_LUA(R"(
    local cases = {
      {{'abcde'}, 'abcde'}, {{'abcde', 0}, ''}, {{'abcde', 3, 2}, ''}, {{'abcde', 2}, 'bcde'},
      {{'abcde', 1, 100}, 'abcde'}, {{'abcde', 2, 3}, 'bc'}, {{''}, ''}, {{'abcde', -1}, ''},
    }
    for i, c in ipairs(cases) do
      local b = z.newbuffer()
      eq(b:put(unpack(c[1], 1, 3)), true, 'result ' .. i)
      eq(contents(b), c[2], 'case ' .. i)
    end
    local b = z.newbuffer() b:put('hello')
    local p = z.newbuffer() p:put(b:getptr(), 2, 4) eq(contents(p), 'ell', 'pointer range')
    checkerror('number expected', p.put, p, b:getptr(), 2)
  )");
}

TEST_F(ByteBuffer, ReadLine) {
  EXPECT_LUA(R"(
    local function lines(s, n)
      local b = z.newbuffer() b:put(s)
      local out = {}
      for i = 1, n do out[i] = b:readline() or '<none>' end
      return table.concat(out, '|') .. '|' .. contents(b)
    end
    eq(lines('a\r\nb', 2), 'a|<none>|b')
    eq(lines('a\n\rb', 2), 'a|<none>|b')
    eq(lines('a\r\rb', 3), 'a||<none>|b')
    eq(lines('a\n\nb', 3), 'a||<none>|b')
    eq(lines('abc', 1), '<none>|abc')
    eq(lines('\n', 2), '|<none>|')
    eq(lines('x\r', 1), 'x|', 'line end at the very end')
    eq(lines('', 1), '<none>|')
  )");
}

TEST_F(ByteBuffer, RemoveRollbackReset) {
  EXPECT_LUA(R"(
    local b = z.newbuffer() b:put('0123456789')
    eq(b:remove(100), '0123456789') eq(b:empty(), true)
    b:reset() b:put('abc') b:put('def')
    eq(b:remove(4), 'abcd') eq(b:remove(0), '') eq(b:getlen(), 2)
    b:rollback(6) eq(contents(b), 'abcdef', 'rollback restores')
    eq(b:remove(-1), 'abcdef', 'negative counts are huge')
    b:rollback(3) eq(contents(b), 'abc')
    eq(capacity(b), 256, 'above the capacity exposes the whole block')
    b:reset() eq(b:getlen(), 0) eq(capacity(b), 256, 'reset keeps the block')
    b = z.newbuffer() b:put('abcdef') b:drain() eq(b:empty(), true)
    b:put('abcdef') b:drain(2) eq(contents(b), 'cdef') b:drain(-1) eq(b:getlen(), 0)
  )");
}

TEST_F(ByteBuffer, DrainExtraAndPointers) {
  EXPECT_LUA(R"(
    local b = z.newbuffer() b:put('abc')
    local p, i, j = b:getptr(4, 5)
    eq(i, 4) eq(j, 5)
    ffi.copy(ffi.cast('uint8_t*', p), 'XY', 2)
    b:drain(0, 2) eq(contents(b), 'abcXY', 'extra exposes written bytes')
    b:drain(1, '-2') eq(contents(b), 'bc', 'negative extra from the end')
    b:drain(0, -100) eq(b:getlen(), 0, 'never below empty')
    b = z.newbuffer() b:drain(0, 10)
    eq(contents(b), ('\0'):rep(10), 'fresh storage is zeroed')
    b:drain(0, 'x') eq(b:getlen(), 10, 'non-numeric extra is ignored')
    -- getptr defaults and clamping
    b = z.newbuffer() b:put('hello')
    local p1, i1, j1 = b:getptr() eq(i1, 1) eq(j1, 5)
    local p0, i0 = b:getptr(0) eq(i0, 1) eq(p0, p1)
    local _, i2, j2 = b:getptr(4, 2) eq(i2, 3) eq(j2, 2)
    eq(ffi.string(b:getptr(2, 3), 2), 'el')
  )");
}

TEST_F(ByteBuffer, SwapAndAddBuffer) {
  EXPECT_LUA(R"(
    local a, b = z.newbuffer(), z.newbuffer()
    a:put('aaa') b:put(('b'):rep(300))
    a:swap(b) eq(contents(a), ('b'):rep(300)) eq(contents(b), 'aaa')
    eq(a:addbuffer(a), true, 'self is a no-op') eq(contents(a), ('b'):rep(300))
    local big = z.newbuffer() big:put(('x'):rep(1000)) big:drain()
    local small = z.newbuffer() small:put('yz')
    eq(big:addbuffer(small), true)
    eq(contents(big), 'yz') eq(small:getlen(), 0)
    eq(capacity(small), 1024, 'src keeps the former block of dst')
    local d, s = z.newbuffer(), z.newbuffer()
    d:put('12') s:put('34') s:drain(1)
    eq(d:addbuffer(s), true) eq(contents(d), '124') eq(s:empty(), true)
    checkerror('ZBUFFERMT expected', d.addbuffer, d, z.newlinkbuf())
  )");
}

TEST_F(ByteBuffer, OwnPointersNeverDangle) {
  EXPECT_LUA(R"(
    local b = z.newbuffer() b:put('abcd')
    local model = 'abcd'
    for k = 1, 8 do
      eq(b:put(b:getptr()), true)
      model = model .. model
    end
    eq(contents(b), model, 'self append across growths')
    b:drain(#model - 3)
    eq(b:put((b:getptr(2, 3)), 1, 2), true) eq(contents(b), 'bcdcd', 'after realignment')
    b:wr_packet(nil, nil, nil, nil, nil, nil, b:getptr(1, b:getlen()))
    eq(hex(contents(b)), hex('bcdcd') .. '474c3030000000000006' .. '00' .. hex('bcdcd'))
  )");
}

TEST_F(ByteBuffer, Headers) {
  EXPECT_LUA(R"(
    local b = z.newbuffer()
    b:put(unhex('474c303000010000000500'))
    local r = {b:rd_header()} assert(deepeq(r, {'GL', 12336, 1, 5}))
    eq(b:getlen(), 11, 'not consumed')
    r = {b:rd_header(true)} assert(deepeq(r, {'GL', 12336, 1, 5})) eq(b:getlen(), 1, 'consumed 10')
    r = {b:rd_header()} assert(deepeq(r, {nil, 'timeout'}))
    b = z.newbuffer() b:put(('\255'):rep(10))
    eq(b:set_header(), true)
    eq(hex(contents(b)), '474c3030000000000000')
    eq(select('#', b:set_header(0, 'ABC')), 0) eq(hex(contents(b)), '474c3030000000000000', 'bad magic writes nothing')
    eq(select('#', b:set_header(1)), 0, 'offset beyond')
    eq(select('#', b:set_header(-1)), 0, 'negative offset')
    b:put('zz')
    eq(b:set_header(2, 'AB', 0x12345, 0xfffe, 2^32 + 7), true)
    eq(hex(contents(b)), '474c' .. '4142' .. '2345' .. 'fffe' .. '00000007')
    eq(b:set_header(0, 42), true) eq(contents(b):sub(1, 2), '42')
  )");
}

TEST_F(ByteBuffer, WrPacketMatchesTheFunctions) {
  EXPECT_LUA(R"(
    local d = {k = 1, [1] = 'k'}
    local b = z.newbuffer()
    eq(b:wr_packet(d, 1, 'AB', 1, 2, {k = 1}, {1, 2, 'k'}), b, 'returns the buffer')
    eq(contents(b), z.cdr_wr_packet(d, 1, 'AB', 1, 2, {k = 1}, {1, 2, 'k'}))
    b = z.newbuffer()
    eq(b:wr_packetva(d, 1, 1, 1, nil, nil, nil, 'k', 'v', 'x', {1}), b)
    eq(contents(b), z.cdr_wr_packetva(d, 1, 1, 1, nil, nil, nil, 'k', 'v', 'x', {1}))
    checkerror('arg num not match va cnt 7((0+0)*2+5)', b.wr_packetva, b, nil, nil, 0, 0, nil, nil)
    -- on a non-empty buffer the packet is queued behind the contents
    b = z.newbuffer() b:put('q')
    b:wr_packet(nil, nil, nil, nil, nil, {}, 'xy')
    eq(hex(contents(b)), '71' .. '474c3030000000000003' .. '007879')
    queued = b
  )");
  // failures raise and leave the contents as they were
  EXPECT_EQ("unknow var type 6unknow var type 6", printed(R"(
    local b = queued
    local loop = {} loop[1] = loop
    checkerror('wr packet fail', b.wr_packet, b, nil, nil, nil, nil, nil, loop)
    checkerror('wr packet fail', b.wr_packet, b, nil, nil, 'ABC')
    checkerror('wr packet fail', b.wr_packetva, b, nil, nil, 0, 1, nil, nil, nil, 'f', print)
    eq(hex(contents(b)), '71' .. '474c3030000000000003' .. '007879', 'unchanged')
    local e = z.newbuffer()
    checkerror('wr packet fail', e.wr_packet, e, nil, nil, nil, nil, nil, {print})
    eq(e:getlen(), 0, 'empty after failure')
  )"));
}

}  // namespace
}  // namespace halvix::test
