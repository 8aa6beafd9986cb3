// The linked buffer's core where POSIX shows it: a write to a socket pair
// whose peer is gone fails at once with EPIPE, buffer sizes can be forced
// past the limits, and the system's texts are strerror's.
#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "modules/zsocket/linked_buffer.h"
#include "tests/support/socket_pair.h"
#include "tests/zsocket_linkbuf/linked_buffer_test_support.h"

namespace halvix::modules::zsocket {
namespace {

using Status = LinkedBuffer::Status;
using test::SocketPair;

TEST(LinkedBufferCore, WriteErrorsPrintTheDiagnosticWithoutLineEnd) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  p.closeB();
  LinkedBuffer b(16);
  testing::internal::CaptureStdout();
  auto direct = b.write(p.a(), "abc", 3);  // EPIPE, and no SIGPIPE
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(Status::Error, direct.status);
  EXPECT_EQ(EPIPE, direct.error);
  EXPECT_FALSE(b.hasChunks());
  EXPECT_EQ("zlinkbuf_write: write error on fd " + std::to_string(p.a()) + ": " + std::strerror(EPIPE), printed);

  b.append("abc", 3);
  testing::internal::CaptureStdout();
  auto flushed = b.flushAvailable(p.a());
  printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(Status::Error, flushed.status);
  EXPECT_EQ("zlinkbuf_flush_available: write error on fd " + std::to_string(p.a()) + ": " + std::strerror(EPIPE),
            printed);
  EXPECT_EQ("abc", contents(b));  // nothing lost
}

TEST(LinkedBufferCore, OneReadTakesAtMostItsBound) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  // Room for three times the bound in flight, so that an unbounded read
  // would take it all in one call. Raising the limits needs privilege.
  const int size = 8 << 20;
  if (::setsockopt(p.a(), SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0 ||
      ::setsockopt(p.b(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
    GTEST_SKIP() << "cannot raise socket buffer sizes: " << std::strerror(errno);
  const std::string data = pattern(3 * LinkedBuffer::kReadMaxBytes, 9);
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(p.a(), data.data() + sent, data.size() - sent, MSG_DONTWAIT);
    ASSERT_GT(n, 0) << std::strerror(errno);
    sent += static_cast<std::size_t>(n);
  }
  LinkedBuffer in(LinkedBuffer::kDefaultChunkSize);
  for (long long limit : {-1LL, 0x7fffffffLL, 100LL}) {
    auto r = in.readFrom(p.b(), limit);
    EXPECT_EQ(Status::Done, r.status);
    EXPECT_EQ(r.count, limit == 100 ? 100u : LinkedBuffer::kReadMaxBytes) << limit;
  }
  while (in.length() < data.size()) ASSERT_EQ(Status::Done, in.readFrom(p.b(), -1).status);
  EXPECT_EQ(data, contents(in));
}

TEST(LinkedBufferCore, HugeChunkSizeFailsCleanly) {
  LinkedBuffer b(SIZE_MAX - 4);
  EXPECT_FALSE(b.append("a", 1));
  EXPECT_FALSE(b.hasChunks());
  testing::internal::CaptureStdout();
  auto o = b.write(-1, "a", 1);
  EXPECT_EQ("zlinkbuf_write: write error on fd -1: Bad file descriptor", testing::internal::GetCapturedStdout());
  EXPECT_EQ(Status::Error, o.status);
  EXPECT_EQ(EBADF, o.error);
}

}  // namespace
}  // namespace halvix::modules::zsocket
