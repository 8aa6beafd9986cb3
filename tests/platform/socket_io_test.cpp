// The platform socket layer on either system: each outcome is classified
// once, gathered and scattered transfers keep their order, the shaper cuts
// transfers, and datagram sockets broadcast-enable and send on loopback.
#include "platform/socket_io.h"

#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/socket_pair.h"
#include "tests/support/udp_receiver.h"

namespace halvix::test {
namespace {

using platform::SocketOutcome;
using platform::SocketStatus;
using namespace std::chrono_literals;

// Loopback TCP (the Windows pair) hands bytes over asynchronously.
SocketOutcome receiveWhenReadable(int fd, void* buffer, std::size_t size) {
  waitReadable(fd, 5s);
  return platform::socketRecv(fd, buffer, size);
}

TEST(SocketIo, EveryOutcomeIsClassifiedOnce) {
  const auto none = [](int e) { return e == 0; };
  const auto some = [](int e) { return e != 0; };
  struct Case {
    const char* name;
    std::function<SocketOutcome(SocketPair&)> call;
    SocketStatus status;
    std::size_t count;
    std::function<bool(int)> error;
  } cases[] = {
      {"bytes moved", [](SocketPair& p) { return platform::socketSend(p.a(), "abc", 3); }, SocketStatus::Done, 3, none},
      {"nothing pending: the system's would-block number",
       [](SocketPair& p) {
         char buffer[4];
         return platform::socketRecv(p.b(), buffer, sizeof buffer);
       },
       SocketStatus::WouldBlock, 0, some},
      {"peer closed",
       [](SocketPair& p) {
         p.closeA();
         char buffer[4];
         return receiveWhenReadable(p.b(), buffer, sizeof buffer);
       },
       SocketStatus::Closed, 0, none},
      {"zero bytes asked of a stream", [](SocketPair& p) { return platform::socketSend(p.a(), "", 0); },
       SocketStatus::Closed, 0, none},
      {"peer gone",
       [](SocketPair& p) {
         p.closeB();
         // On Windows the first bytes draw the peer's reset; a later send meets it.
         SocketOutcome o;
         for (int i = 0; i < 500 && o.status != SocketStatus::Error; ++i) {
           o = platform::socketSend(p.a(), "x", 1);
           if (o.status != SocketStatus::Error) waitReadable(p.a(), 10ms);
         }
         return o;
       },
       SocketStatus::Error, 0, some},
      {"no descriptor",
       [](SocketPair&) {
         char buffer[4];
         return platform::socketRecv(-1, buffer, sizeof buffer);
       },
       SocketStatus::Error, 0, [](int e) { return platform::systemErrorText(e) == notASocketText(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair p;
    ASSERT_TRUE(p.ok());
    const SocketOutcome o = c.call(p);
    EXPECT_EQ(c.status, o.status);
    EXPECT_EQ(c.count, o.count);
    EXPECT_TRUE(c.error(o.error)) << o.error;
    if (o.error == 0) {
      EXPECT_STREQ("Unknown error", o.errorText());
    } else {
      EXPECT_STRNE("Unknown error", o.errorText());
      EXPECT_EQ(std::string(o.errorText()).find('\n'), std::string::npos);
      EXPECT_EQ(o.errorText(), platform::systemErrorText(o.error)) << "one text per number, kept";
    }
  }
}

TEST(SocketIo, GatheredSendAndScatteredReceiveKeepTheOrder) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(0, platform::socketPending(p.b()));
  const platform::SendSlice out[] = {{"ab", 2}, {"", 0}, {"cdefg", 5}};
  const SocketOutcome sent = platform::socketSendGather(p.a(), out, 3);
  ASSERT_EQ(SocketStatus::Done, sent.status);
  EXPECT_EQ(7u, sent.count);
  for (int i = 0; i < 500 && platform::socketPending(p.b()) < 7; ++i) waitReadable(p.b(), 10ms);
  EXPECT_EQ(7, platform::socketPending(p.b()));
  char first[3] = {}, second[8] = {};
  const platform::RecvSlice in[] = {{first, 3}, {nullptr, 0}, {second, sizeof second}};
  const SocketOutcome got = platform::socketRecvScatter(p.b(), in, 3);
  ASSERT_EQ(SocketStatus::Done, got.status);
  EXPECT_EQ(7u, got.count);
  EXPECT_EQ("abc", std::string(first, 3));
  EXPECT_EQ("defg", std::string(second, 4));
  EXPECT_EQ(0, platform::socketPending(p.b()));
  EXPECT_EQ(-1, platform::socketPending(-1));
}

TEST(SocketIo, ShaperLimitsOrRefusesEveryTransfer) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  std::size_t allow = 3;
  int consulted = 0;
  ShaperGuard guard([&](int, bool, std::size_t) { return ++consulted, allow; });
  const platform::SendSlice out[] = {{"ab", 2}, {"cd", 2}};
  EXPECT_EQ(3u, platform::socketSendGather(p.a(), out, 2).count);
  allow = 0;
  const SocketOutcome refused = platform::socketSend(p.a(), "cdef", 4);
  EXPECT_EQ(SocketStatus::WouldBlock, refused.status);
  EXPECT_NE(0, refused.error) << "a shaped would-block carries the system's number too";
  char buffer[8];
  const platform::RecvSlice in[] = {{buffer, sizeof buffer}};
  EXPECT_EQ(SocketStatus::WouldBlock, platform::socketRecvScatter(p.b(), in, 1).status);
  EXPECT_EQ(SocketStatus::WouldBlock, platform::socketRecv(p.b(), nullptr, 4).status);
  const int before = consulted;
  EXPECT_EQ(SocketStatus::Closed, platform::socketSend(p.a(), "", 0).status) << "a zero-length request is not shaped";
  EXPECT_EQ(before, consulted);
  allow = 2;
  const SocketOutcome got = receiveWhenReadable(p.b(), buffer, sizeof buffer);
  ASSERT_EQ(2u, got.count);
  EXPECT_EQ("ab", std::string(buffer, 2));
}

TEST(SocketIo, OneCallMovesAtMostTheTransferLimit) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  std::size_t requested = 0;
  ShaperGuard guard([&](int, bool, std::size_t n) { return requested = n, std::size_t{0}; });
  const char byte = 0;
  // Never read: the shaper refuses the call before the system sees it.
  platform::socketSend(p.a(), &byte, std::size_t{5} << 30);
  EXPECT_EQ(platform::kMaxTransfer, requested);
}

int broadcastOption(int fd) {
  int value = -1;
  socklen_t length = sizeof value;
  return ::getsockopt(fd, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&value), &length) == 0 ? (value ? 1 : 0)
                                                                                                  : -1;
}

TEST(DatagramSocket, BroadcastFlagIsWidenedFromOneByte) {
  platform::DatagramSocket s;
  ASSERT_TRUE(s.isOpen());
  EXPECT_EQ(0, s.creationError());
  EXPECT_EQ(0, broadcastOption(s.fd()));
  const struct {
    std::uint8_t flag;
    int option;
  } cases[] = {{1, 1}, {0, 0}, {0xFF, 1}, {2, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.flag));
    EXPECT_EQ(0, s.setBroadcast(c.flag));
    EXPECT_EQ(c.option, broadcastOption(s.fd()));
  }
  EXPECT_EQ(-1, platform::socketSetBroadcast(-1, 1));
}

TEST(DatagramSocket, SendsWholeDatagramsToLoopback) {
  UdpReceiver receiver;
  ASSERT_TRUE(receiver.ok());
  platform::DatagramSocket sender;
  ASSERT_EQ(0, sender.setBroadcast(1));
  const std::string payload(1400, 'p');
  for (const std::string& datagram : {payload, std::string(), std::string("x")}) {
    const SocketOutcome sent = sender.sendTo(datagram.data(), datagram.size(), receiver.address());
    EXPECT_EQ(SocketStatus::Done, sent.status) << "an empty datagram is sent, not closed";
    EXPECT_EQ(datagram.size(), sent.count);
  }
  sockaddr_in sender_address{};
  socklen_t length = sizeof sender_address;
  ASSERT_EQ(0, ::getsockname(sender.fd(), reinterpret_cast<sockaddr*>(&sender_address), &length));
  std::string bytes;
  sockaddr_in from{};
  ASSERT_TRUE(receiver.receive(bytes, from).done());
  EXPECT_EQ(payload, bytes);
  EXPECT_EQ(htonl(INADDR_LOOPBACK), from.sin_addr.s_addr);
  EXPECT_EQ(sender_address.sin_port, from.sin_port);
  EXPECT_EQ(SocketStatus::Closed, receiver.receive(bytes, from).status) << "the empty datagram";
  ASSERT_TRUE(receiver.receive(bytes, from).done());
  EXPECT_EQ("x", bytes);
}

TEST(DatagramSocket, OwnsItsDescriptor) {
  platform::DatagramSocket first;
  const int fd = first.fd();
  ASSERT_GE(fd, 0);
  platform::DatagramSocket second(std::move(first));
  EXPECT_EQ(fd, second.fd());
  EXPECT_FALSE(first.isOpen());
  sockaddr_in nowhere{};
  nowhere.sin_family = AF_INET;
  nowhere.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const SocketOutcome unusable = first.sendTo("x", 1, nowhere);
  EXPECT_EQ(SocketStatus::Error, unusable.status);
  EXPECT_EQ(notASocketText(), platform::systemErrorText(unusable.error));
  {
    platform::DatagramSocket third;
    third = std::move(second);
    EXPECT_EQ(fd, third.fd());
  }
  EXPECT_EQ(-1, broadcastOption(fd)) << "closed with its owner";
  second.close();  // a moved-from socket closes nothing
  EXPECT_FALSE(second.isOpen());
}

}  // namespace
}  // namespace halvix::test
