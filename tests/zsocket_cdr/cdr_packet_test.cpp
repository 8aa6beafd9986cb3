// Packet framing: cdr_wr_packet, cdr_wr_packetva, cdr_rd_header.
#include "tests/support/zsocket_lua_fixture.h"

namespace halvix::test {
namespace {

using CdrPacket = ZsocketLuaFixture;

TEST_F(CdrPacket, Header) {
  EXPECT_LUA(R"(
    local r = {z.cdr_rd_header(unhex('474c3030000100000005'))}
    assert(deepeq(r, {'GL', 12336, 1, 5}), 'header fields')
    r = {z.cdr_rd_header(unhex('4142ffff8000ffffffff0000'))}
    assert(deepeq(r, {'AB', 65535, 32768, 4294967295}), 'unsigned fields, extra bytes ignored')
    r = {z.cdr_rd_header(unhex('474c30300001000000'))}
    assert(deepeq(r, {nil, 'bad header'}) and select('#', z.cdr_rd_header('')) == 2, 'short header')
  )");
}

TEST_F(CdrPacket, WrPacket) {
  EXPECT_LUA(R"(
    eq(hex(z.cdr_wr_packet()), '474c3030000000000000', 'all nil')
    eq(hex(z.cdr_wr_packet(nil, nil, nil, nil, nil, {}, 'xy')), '474c3030000000000003' .. '00' .. '7879')
    eq(hex(z.cdr_wr_packet(nil, nil, 'AB', 0x10002, 7, nil, 'xy', 2)), '41420002000700000002' .. '00' .. '79', 'start 2')
    eq(hex(z.cdr_wr_packet(nil, nil, 12, nil, nil, {})), '31323030000000000001' .. '00', 'numeric magic, head only')
    eq(hex(z.cdr_wr_packet(nil, nil, {}, nil, nil, nil, 'x', 0)), '474c3030000000000002' .. '00' .. '78', 'magic of other type, start 0')
    eq(hex(z.cdr_wr_packet(nil, nil, nil, nil, nil, nil, 'x', 'z')), '474c3030000000000002' .. '00' .. '78', 'start not a number')
    local d = {id = 1, [1] = 'id'}
    local p = z.cdr_wr_packet(d, 1, nil, nil, nil, {id = 5}, {id = 'id'}, nil, nil)
    eq(hex(p), '474c303000000000000a' .. '011301040a' .. '0113011301', 'tables with dictionary')
    local pos, head = z.cdr_rd_table(p, 11, d)
    local pos2, body = z.cdr_rd_table(p, pos, d)
    eq(head.id, 5) eq(body.id, 'id') eq(pos2, #p + 1)
    eq(hex(z.cdr_wr_packet(nil, nil, nil, nil, nil, nil, 42)), '474c3030000000000001' .. '00', 'other body type: empty head only')
  )");
  EXPECT_EQ("unknow var type 6unknow var type 6", printed(R"(
    checkerror('wr packet fail', z.cdr_wr_packet, nil, nil, nil, nil, nil, {}, '')
    checkerror('wr packet fail', z.cdr_wr_packet, nil, nil, nil, nil, nil, nil, 'xy', 3)
    checkerror('wr packet fail', z.cdr_wr_packet, nil, nil, nil, nil, nil, nil, 'xy', -1)
    checkerror('wr packet fail', z.cdr_wr_packet, nil, nil, 'ABC')
    checkerror('wr packet fail', z.cdr_wr_packet, nil, nil, 'A')
    checkerror('wr packet fail', z.cdr_wr_packet, nil, nil, nil, nil, nil, {print})
    checkerror('wr packet fail', z.cdr_wr_packet, nil, nil, nil, nil, nil, nil, {x = print})
  )"));
}

TEST_F(CdrPacket, WrPacketFromPointer) {
  EXPECT_LUA(R"(
    local b = z.newbuffer()
    b:put('hello')
    local ptr = b:getptr()
    eq(hex(z.cdr_wr_packet(nil, nil, nil, nil, nil, nil, ptr, 2, 4)), '474c3030000000000004' .. '00' .. '656c6c')
    eq(hex(z.cdr_wr_packet(nil, nil, nil, nil, nil, nil, ptr, 0, 1)), '474c3030000000000002' .. '00' .. '68')
    eq(hex(z.cdr_wr_packet(nil, nil, nil, nil, nil, nil, ptr, 4, 3)), '474c3030000000000001' .. '00', 'start after end')
    checkerror('number expected', z.cdr_wr_packet, nil, nil, nil, nil, nil, nil, ptr, 1)
    checkerror('wr packet fail', z.cdr_wr_packet, nil, nil, nil, nil, nil, nil, ptr, 1, -1)
  )");
}

TEST_F(CdrPacket, WrPacketVa) {
  EXPECT_EQ("unknow var type 6", printed(R"(
    eq(hex(z.cdr_wr_packetva(nil, nil, 0, 0, nil, nil, nil)), '474c3030000000000002' .. '0000')
    checkerror('arg num not match va cnt 4((0+0)*2+5)', z.cdr_wr_packetva, nil, nil, 0, 0)
    checkerror('arg num not match va cnt 8((0+0)*2+5)', z.cdr_wr_packetva, nil, nil, 0, 0, nil, nil, nil, nil)
    checkerror('arg num not match va cnt 7((-1+1)*2+5)', z.cdr_wr_packetva, nil, nil, -1, 1, nil, nil, nil)
    checkerror('arg num not match va cnt 7((2147483647+2147483647)*2+5)', z.cdr_wr_packetva, nil, nil, 2^31 - 1, 2^31 - 1, nil, nil, nil)
    local p = z.cdr_wr_packetva(nil, nil, 2, 1, 'AB', 1, 2, 'a', 1, 'b', nil, 'k', 'v')
    eq(hex(p:sub(1, 10)), '414200010002000000' .. string.format('%02x', #p - 10))
    local pos, head = z.cdr_rd_table(p, 11)
    local pos2, body = z.cdr_rd_table(p, pos)
    eq(head.a, 1) eq(head.b, nil) eq(body.k, 'v') eq(pos2, #p + 1)
    eq(hex(p:sub(11, pos - 1)), '02' .. '1101610402' .. '11016201', 'explicit nil value kept')
    checkerror('wr packet fail', z.cdr_wr_packetva, nil, nil, 1, 0, nil, nil, nil, 'f', print)
    local d = {k = 1, [1] = 'k'}
    p = z.cdr_wr_packetva(d, 1, 0, 1, nil, nil, nil, 'k', 'k')
    eq(hex(p:sub(11)), '00' .. '0113011301', 'pairs use the dictionary')
  )"));
}

}  // namespace
}  // namespace halvix::test
