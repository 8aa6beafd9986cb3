// zsocket.recvfrom of a datagram longer than the size asked for: POSIX hands
// the first bytes and drops the rest. (Winsock fails such a receive with
// WSAEMSGSIZE, which comes back as "unknow error".)
#include "tests/support/zsocket_loopback_fixture.h"

namespace halvix::test {
namespace {

using SocketFunctionsPosix = ZsocketLoopbackFixture;

TEST_F(SocketFunctionsPosix, RecvfromCutsALongDatagram) {
  EXPECT_LUA(R"LUA(
    local u, port = udpbound()
    local peer = udpbound()
    assert(peer:sendto(bytes(9000), '127.0.0.1', port))
    socket.sleep(0.01)
    eq(#zsocket.recvfrom(u), 8096, 'default size 8096')
    assert(peer:sendto(bytes(100), '127.0.0.1', port))
    socket.sleep(0.01)
    eq(zsocket.recvfrom(u, 10), bytes(10), 'the rest of a datagram is dropped')
    u:close(); peer:close()
  )LUA");
}

}  // namespace
}  // namespace halvix::test
