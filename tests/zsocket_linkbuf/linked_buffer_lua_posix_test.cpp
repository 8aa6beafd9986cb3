// Writes through Lua to a local socket pair whose peer is gone: POSIX fails
// them at once with EPIPE, and nothing queued is lost.
#include <string>

#include "tests/support/socket_pair.h"
#include "tests/support/zsocket_loopback_fixture.h"

namespace halvix::test {
namespace {

using LinkBufPosix = ZsocketLoopbackFixture;

TEST_F(LinkBufPosix, WritesToAGonePeerFailWithBrokenPipe) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  exposePair(p.a(), p.b());
  p.closeA();
  // The diagnostics printed on the way are the core's; keep them out of the log.
  testing::internal::CaptureStdout();
  std::string result = run(R"LUA(
    local b = zsocket.newlinkbuf(16)
    b:put('pending')
    local r = {b:flushfd(B)}
    eq(r[1], nil); eq(r[2], 'Broken pipe')
    eq(b:getlen(), 7, 'nothing lost')
    local w = zsocket.newlinkbuf(16)
    r = {w:writefd(B, 'data')}
    eq(r[1], nil); eq(r[2], 'Broken pipe')
    eq(w:empty(), true)
  )LUA");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ("", result);
}

}  // namespace
}  // namespace halvix::test
