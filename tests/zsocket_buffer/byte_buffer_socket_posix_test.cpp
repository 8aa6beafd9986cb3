// The byte buffer's socket calls where POSIX shows them: a write to a socket
// pair whose peer is gone fails at once with EPIPE, and a five-gigabyte
// range needs no memory behind it (an anonymous mapping that reserves
// nothing).
#include <sys/mman.h>

#include <algorithm>

#include "tests/zsocket_buffer/byte_buffer_socket_fixture.h"

namespace halvix::test {
namespace {

TEST_F(ByteBufferSocket, FlushToAGonePeerKeepsTheBytes) {
  pair_.closeB();
  EXPECT_LUA(R"(
    local b = z.newbuffer() b:put('x')
    local r = {b:flushfd(fdA)} assert(deepeq(r, {nil, 'Broken pipe'}), 'peer gone: ' .. tostring(r[2]))
    eq(b:getlen(), 1, 'bytes kept')
  )");
}

// A range longer than one call can carry is offered in one clamped piece.
TEST_F(ByteBufferSocket, HugeRangeIsClampedNotTruncated) {
  constexpr std::size_t kSize = std::size_t{5} << 30;
  void* area = ::mmap(nullptr, kSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(MAP_FAILED, area);
  std::size_t largest = 0;
  platform::setTransferShaper([&largest](int, bool sending, std::size_t requested) {
    if (sending) largest = std::max(largest, requested);
    return std::size_t{0};
  });
  lua_pushlightuserdata(L(), area);
  lua_setglobal(L(), "area");
  EXPECT_LUA(R"(
    local b = z.newbuffer()
    local r = {b:writefd(fdA, area, 1, 5 * 2^30)}
    eq(r[1], nil) eq(r[2], 'Cannot allocate memory', 'the rest cannot be queued')
    eq(b:getlen(), 0)
  )");
  EXPECT_EQ(std::size_t{INT32_MAX}, largest);
  ::munmap(area, kSize);
}

}  // namespace
}  // namespace halvix::test
