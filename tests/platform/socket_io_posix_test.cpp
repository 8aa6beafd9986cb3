// The platform socket layer: each outcome is classified once, interrupted
// calls are retried, the shaper cuts transfers, writes to a closed peer never
// raise SIGPIPE, and datagram sockets broadcast-enable and send on loopback.
#include "platform/socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/socket_pair.h"
#include "tests/support/udp_receiver.h"

namespace halvix::test {
namespace {

using platform::SocketOutcome;
using platform::SocketStatus;

void onAlarm(int) {}

TEST(SocketIo, EveryOutcomeIsClassifiedOnce) {
  struct Case {
    const char* name;
    std::function<SocketOutcome(SocketPair&)> call;
    SocketStatus status;
    std::size_t count;
    int error;
    const char* text;
  } cases[] = {
      {"bytes moved", [](SocketPair& p) { return platform::socketSend(p.a(), "abc", 3); }, SocketStatus::Done, 3, 0,
       "Unknown error"},
      {"nothing pending",
       [](SocketPair& p) {
         char buffer[4];
         return platform::socketRecv(p.b(), buffer, sizeof buffer);
       },
       SocketStatus::WouldBlock, 0, 0, "Unknown error"},
      {"peer closed",
       [](SocketPair& p) {
         p.closeA();
         char buffer[4];
         return platform::socketRecv(p.b(), buffer, sizeof buffer);
       },
       SocketStatus::Closed, 0, 0, "Unknown error"},
      {"zero bytes asked of a stream", [](SocketPair& p) { return platform::socketSend(p.a(), "", 0); },
       SocketStatus::Closed, 0, 0, "Unknown error"},
      {"peer gone: no SIGPIPE",
       [](SocketPair& p) {
         p.closeB();
         return platform::socketSend(p.a(), "x", 1);
       },
       SocketStatus::Error, 0, EPIPE, "Broken pipe"},
      {"no descriptor",
       [](SocketPair&) {
         char buffer[4];
         return platform::socketRecv(-1, buffer, sizeof buffer);
       },
       SocketStatus::Error, 0, EBADF, "Bad file descriptor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair p;
    ASSERT_TRUE(p.ok());
    const SocketOutcome o = c.call(p);
    EXPECT_EQ(c.status, o.status);
    EXPECT_EQ(c.count, o.count);
    EXPECT_EQ(c.error, o.error);
    EXPECT_STREQ(c.text, o.errorText());
  }
}

TEST(SocketIo, InterruptedReceiveIsRetried) {
  int fds[2];
  ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds));  // blocking on purpose
  struct sigaction action {}, previous{};
  action.sa_handler = onAlarm;  // no SA_RESTART: the blocked recv sees EINTR
  ASSERT_EQ(0, sigaction(SIGALRM, &action, &previous));
  // The helper thread starts with SIGALRM blocked, so the signal reaches
  // this thread inside its receive.
  sigset_t alarmOnly, old;
  sigemptyset(&alarmOnly);
  sigaddset(&alarmOnly, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarmOnly, &old);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::send(fds[1], "late", 4, 0);
  });
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  itimerval timer{};
  timer.it_value.tv_usec = 20000;
  ASSERT_EQ(0, setitimer(ITIMER_REAL, &timer, nullptr));
  char buffer[8];
  const SocketOutcome o = platform::socketRecv(fds[0], buffer, sizeof buffer);
  late.join();
  sigaction(SIGALRM, &previous, nullptr);
  ::close(fds[0]);
  ::close(fds[1]);
  ASSERT_EQ(SocketStatus::Done, o.status);
  ASSERT_EQ(4u, o.count);
  EXPECT_EQ(0, std::memcmp("late", buffer, 4));
}

TEST(SocketIo, ShaperLimitsOrRefusesEveryTransfer) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  std::size_t allow = 2;
  int consulted = 0;
  ShaperGuard guard([&](int, bool, std::size_t) { return ++consulted, allow; });
  EXPECT_EQ(2u, platform::socketSend(p.a(), "abcdef", 6).count);
  allow = 0;
  EXPECT_EQ(SocketStatus::WouldBlock, platform::socketSend(p.a(), "cdef", 4).status);
  EXPECT_EQ(SocketStatus::WouldBlock, platform::socketRecv(p.b(), nullptr, 4).status);
  const int before = consulted;
  EXPECT_EQ(SocketStatus::Closed, platform::socketSend(p.a(), "", 0).status) << "a zero-length request is not shaped";
  EXPECT_EQ(before, consulted);
  allow = 100;
  char buffer[8];
  EXPECT_EQ(2u, platform::socketRecv(p.b(), buffer, sizeof buffer).count);
  EXPECT_EQ(0, std::memcmp("ab", buffer, 2));
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

TEST(SocketIo, PendingBytes) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(0, platform::socketPending(p.b()));
  ASSERT_EQ(3u, platform::socketSend(p.a(), "abc", 3).count);
  EXPECT_EQ(3, platform::socketPending(p.b()));
  EXPECT_EQ(-1, platform::socketPending(-1));
}

int broadcastOption(int fd) {
  int value = -1;
  socklen_t length = sizeof value;
  return ::getsockopt(fd, SOL_SOCKET, SO_BROADCAST, &value, &length) == 0 ? value : -1;
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
  EXPECT_EQ(EBADF, unusable.error);
  {
    platform::DatagramSocket third;
    third = std::move(second);
    EXPECT_EQ(fd, third.fd());
  }
  EXPECT_EQ(-1, ::fcntl(fd, F_GETFD)) << "closed with its owner";
  second.close();  // a moved-from socket closes nothing
  EXPECT_FALSE(second.isOpen());
}

}  // namespace
}  // namespace halvix::test
