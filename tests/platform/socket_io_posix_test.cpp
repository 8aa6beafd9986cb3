// What only POSIX systems have to show of the socket layer: interrupted
// calls are retried, and writes to a closed peer never raise SIGPIPE.
#include "platform/socket_io.h"

#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/socket_pair.h"

namespace halvix::test {
namespace {

using platform::SocketOutcome;
using platform::SocketStatus;

void onAlarm(int) {}

TEST(SocketIoPosix, SendingToAGonePeerIsEpipeNotSigpipe) {
  SocketPair p;
  ASSERT_TRUE(p.ok());
  p.closeB();
  const SocketOutcome o = platform::socketSend(p.a(), "x", 1);
  EXPECT_EQ(SocketStatus::Error, o.status);
  EXPECT_EQ(EPIPE, o.error);
  EXPECT_STREQ("Broken pipe", o.errorText());
}

TEST(SocketIoPosix, InterruptedReceiveIsRetried) {
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

}  // namespace
}  // namespace halvix::test
