// The platform socket layer: interrupted calls are retried, the shaper cuts
// transfers, and writes to a closed peer never raise SIGPIPE.
#include "platform/socket_io.h"

#include <pthread.h>
#include <signal.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "tests/zsocket_sockets/socket_pair.h"

namespace halvix::test {
namespace {

void onAlarm(int) {}

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
  int error = -1;
  ssize_t n = platform::socketRecv(fds[0], buffer, sizeof buffer, error);
  late.join();
  sigaction(SIGALRM, &previous, nullptr);
  ::close(fds[0]);
  ::close(fds[1]);
  ASSERT_EQ(4, n);
  EXPECT_EQ(0, std::memcmp("late", buffer, 4));
  EXPECT_EQ(0, error);
}

TEST(SocketIo, ShaperLimitsOrRefusesEveryTransfer) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  std::size_t allow = 2;
  int consulted = 0;
  ShaperGuard guard([&](int, bool, std::size_t) { return ++consulted, allow; });
  int error = 0;
  EXPECT_EQ(2, platform::socketSend(p.a(), "abcdef", 6, error));
  allow = 0;
  EXPECT_EQ(-1, platform::socketSend(p.a(), "cdef", 4, error));
  EXPECT_EQ(EAGAIN, error);
  EXPECT_EQ(-1, platform::socketRecv(p.b(), nullptr, 4, error));
  EXPECT_EQ(EAGAIN, error);
  const int before = consulted;
  EXPECT_EQ(0, platform::socketSend(p.a(), "", 0, error)) << "a zero-length request is not shaped";
  EXPECT_EQ(before, consulted);
  allow = 100;
  char buffer[8];
  EXPECT_EQ(2, platform::socketRecv(p.b(), buffer, sizeof buffer, error));
  EXPECT_EQ(0, std::memcmp("ab", buffer, 2));
}

TEST(SocketIo, ClosedPeerGivesEpipeWithoutSignal) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  p.closeB();
  int error = 0;
  EXPECT_EQ(-1, platform::socketSend(p.a(), "x", 1, error));  // the test would die of SIGPIPE otherwise
  EXPECT_EQ(EPIPE, error);
  EXPECT_GE(platform::socketPending(p.a()), 0);
  EXPECT_EQ(-1, platform::socketPending(-1));
}

}  // namespace
}  // namespace halvix::test
