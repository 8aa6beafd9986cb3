// The linked buffer's core against a model, with every transfer shaped.
#include "modules/zsocket/linked_buffer.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/socket_pair.h"
#include "tests/zsocket_linkbuf/linked_buffer_test_support.h"

namespace halvix::modules::zsocket {
namespace {

using Status = LinkedBuffer::Status;
using test::ShaperGuard;
using test::SocketPair;

TEST(LinkedBufferCore, AppendFillsTailBeforeNewChunks) {
  LinkedBuffer b(4096);
  std::string data = pattern(10000, 1);
  ASSERT_TRUE(b.append(data.data(), data.size()));
  EXPECT_EQ(3u, b.chunkCount());
  EXPECT_EQ(10000u, b.length());
  ASSERT_TRUE(b.append("x", 1));
  EXPECT_EQ(3u, b.chunkCount());  // 1808 + 1 still fits the tail
  std::string more = pattern(4096 - 1809, 2);
  ASSERT_TRUE(b.append(more.data(), more.size()));
  EXPECT_EQ(3u, b.chunkCount());
  ASSERT_TRUE(b.append("y", 1));
  EXPECT_EQ(4u, b.chunkCount());
  EXPECT_EQ(data + "x" + more + "y", contents(b));
}

TEST(LinkedBufferCore, ConsumeFreesWholeChunksAndAdvancesPartOne) {
  LinkedBuffer b(8);
  std::string data = pattern(30, 3);
  b.append(data.data(), data.size());
  b.consume(0);
  EXPECT_EQ(4u, b.chunkCount());
  b.consume(11);
  EXPECT_EQ(3u, b.chunkCount());
  EXPECT_EQ(data.substr(11), contents(b));
  b.consume(1000);
  EXPECT_FALSE(b.hasChunks());
  EXPECT_EQ(0u, b.length());
  ASSERT_TRUE(b.append("ab", 2));  // tail pointer was cleared with the chain
  EXPECT_EQ("ab", contents(b));
}

TEST(LinkedBufferCore, ContiguousFrontOnlyWithinHeadChunk) {
  LinkedBuffer b(4);
  b.append("abcdef", 6);
  b.consume(1);
  ASSERT_NE(nullptr, b.contiguousFront(3));
  EXPECT_EQ(0, std::memcmp("bcd", b.contiguousFront(3), 3));
  EXPECT_EQ(nullptr, b.contiguousFront(4));
}

TEST(LinkedBufferCore, SwapExchangesChainsAndChunkSizes) {
  LinkedBuffer a(4), b(16);
  a.append("hello", 5);
  a.swap(b);
  EXPECT_EQ(16u, a.chunkSize());
  EXPECT_EQ(4u, b.chunkSize());
  EXPECT_FALSE(a.hasChunks());
  EXPECT_EQ("hello", contents(b));
}

TEST(LinkedBufferCore, FlushPassesAtMostSixteenChunksOrTheByteLimit) {
  struct Case {
    std::size_t chunkSize, chunks, firstFlush;
  } cases[] = {
      {4096, 20, 16 * 4096},   // chunk limit
      {50000, 4, 150000},      // byte limit reached by the third chunk
      {131072, 2, 131072},     // exactly the byte limit in one chunk
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chunkSize);
    SocketPair p;
    ASSERT_TRUE(p.ok());
    platform::socketSetBufferSize(p.a(), SO_SNDBUF, 4 << 20);
    platform::socketSetBufferSize(p.b(), SO_RCVBUF, 4 << 20);
    LinkedBuffer b(c.chunkSize);
    std::string data = pattern(c.chunkSize * c.chunks, 4);
    b.append(data.data(), data.size());
    auto first = b.flushAvailable(p.a());
    EXPECT_EQ(Status::Pending, first.status);
    EXPECT_EQ(c.firstFlush, first.count);
    auto second = b.flushAvailable(p.a());
    EXPECT_EQ(Status::Done, second.status);
    EXPECT_EQ(data.size() - c.firstFlush, second.count);
    EXPECT_FALSE(b.hasChunks());
    LinkedBuffer in(1 << 20);
    EXPECT_EQ(Status::Done, in.readFrom(p.b(), -1).status);
    EXPECT_EQ(data, contents(in));
  }
}

TEST(LinkedBufferCore, FlushOfNothingMakesNoCall) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  LinkedBuffer noChunks(16), emptyTail(16);
  // A receive that would block leaves an empty tail chunk behind.
  ASSERT_EQ(Status::Pending, emptyTail.readFrom(p.b(), 10).status);
  ASSERT_TRUE(emptyTail.hasChunks());
  int calls = 0;
  ShaperGuard guard([&](int, bool, std::size_t n) { return ++calls, n; });
  EXPECT_EQ(Status::Done, noChunks.flushAvailable(-1).status);
  EXPECT_EQ(Status::Done, emptyTail.flushAvailable(p.b()).status);
  EXPECT_EQ(0, calls);
}

TEST(LinkedBufferCore, FlushStopsAtTheFirstRefusalAfterProgress) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  int calls = 0;
  // First call takes 5 bytes, every later one would block.
  ShaperGuard guard([&](int, bool sending, std::size_t n) -> std::size_t {
    if (!sending) return n;
    return ++calls == 1 ? std::min<std::size_t>(n, 5) : 0;
  });
  LinkedBuffer b(8);
  std::string data = pattern(20, 5);
  b.append(data.data(), data.size());
  auto o = b.flushAvailable(p.a());
  EXPECT_EQ(Status::Pending, o.status);
  EXPECT_EQ(5u, o.count);
  EXPECT_EQ(data.substr(5), contents(b));
  EXPECT_EQ(3u, b.chunkCount());
  auto blocked = b.flushAvailable(p.a());
  EXPECT_EQ(Status::Pending, blocked.status);
  EXPECT_EQ(0u, blocked.count);
  EXPECT_EQ(data.substr(5), contents(b));
}

TEST(LinkedBufferCore, ReadStopsAtLimitAndKeepsBytesOnClose) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  std::string data = pattern(100, 6);
  ASSERT_EQ(100, ::send(p.a(), data.data(), data.size(), 0));
  LinkedBuffer in(16);
  auto part = in.readFrom(p.b(), 37);
  EXPECT_EQ(Status::Done, part.status);
  EXPECT_EQ(37u, part.count);
  p.closeA();
  auto rest = in.readFrom(p.b(), -1);
  EXPECT_EQ(Status::Closed, rest.status);
  EXPECT_EQ(63u, rest.count);
  EXPECT_EQ(data, contents(in));
}

// Random operations on a sending and a receiving queue joined by a socket
// pair, with the shaper cutting every transfer short or refusing it. The
// bytes that come out must be exactly those that went in, and every count
// must match the queue's length.
TEST(LinkedBufferCore, ShapedTransfersLoseAndDuplicateNothing) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    SocketPair p;
    ASSERT_TRUE(p.ok());
    ShaperGuard guard([&](int, bool, std::size_t n) -> std::size_t {
      if (rng() % 4 == 0) return 0;
      return 1 + rng() % n;
    });
    LinkedBuffer out(1 + rng() % 40), in(1 + rng() % 40);
    std::string given, outModel, handed, received;
    for (int step = 0; step < 400; ++step) {
      std::string data = pattern(rng() % 90, seed * 1000 + step);
      switch (rng() % 6) {
        case 0: {  // writefd
          auto o = out.write(p.a(), data.data(), data.size());
          given += data;
          if (outModel.empty()) {
            handed += data.substr(0, o.count);
            outModel += data.substr(o.count);
          } else {
            EXPECT_EQ(0u, o.count);
            outModel += data;
          }
          // An empty range is "done" at once, even behind queued bytes.
          EXPECT_EQ(outModel.empty() || data.empty() ? Status::Done : Status::Pending, o.status);
          break;
        }
        case 1:  // put
          out.append(data.data(), data.size());
          given += data;
          outModel += data;
          break;
        case 2: {  // flushfd
          auto o = out.flushAvailable(p.a());
          EXPECT_LE(o.count, 16 * out.chunkSize());
          handed += outModel.substr(0, o.count);
          outModel.erase(0, o.count);
          EXPECT_NE(Status::Error, o.status);
          break;
        }
        case 3: {  // readfd
          long long limit = static_cast<long long>(rng() % 100) - 20;
          if (limit == 0) limit = 1;
          const std::size_t before = in.length();
          auto o = in.readFrom(p.b(), limit);
          EXPECT_TRUE(o.status == Status::Done || o.status == Status::Pending);
          EXPECT_EQ(before + o.count, in.length());
          if (limit > 0) {
            EXPECT_LE(o.count, static_cast<std::size_t>(limit));
          }
          break;
        }
        case 5: {  // rd_header with consume: a peek across chunks, then a consume
          if (in.length() < 10) break;
          std::string header(10, '\0');
          EXPECT_EQ(10u, in.peek(header.data(), header.size()));
          in.consume(10);
          received += header;
          break;
        }
        case 4: {  // remove
          std::size_t k = std::min<std::size_t>(rng() % 60, in.length());
          std::string front(k, '\0');
          in.peek(front.data(), k);
          in.consume(k);
          received += front;
          break;
        }
      }
      ASSERT_EQ(outModel, contents(out));
      ASSERT_EQ(given, handed + outModel);
      std::string seen = received + contents(in);
      ASSERT_LE(seen.size(), handed.size());
      ASSERT_EQ(handed.substr(0, seen.size()), seen);
    }
    platform::setTransferShaper(nullptr);
    for (int round = 0; round < 1000 && out.hasChunks(); ++round) {
      EXPECT_NE(Status::Error, out.flushAvailable(p.a()).status);
      in.readFrom(p.b(), -1);
    }
    EXPECT_FALSE(out.hasChunks());
    in.readFrom(p.b(), -1);
    EXPECT_EQ(given, received + contents(in));
  }
}

}  // namespace
}  // namespace halvix::modules::zsocket
