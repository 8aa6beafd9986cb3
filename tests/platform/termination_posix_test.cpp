// A program waiting on its sockets sees a request to end at once, whether it
// came before or during the wait, and still sees its sockets otherwise.
#include "platform/termination.h"

#include <signal.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/socket_pair.h"

namespace halvix::test {
namespace {

using namespace std::chrono_literals;

TEST(TerminationPosix, SocketWaitEndsOnARequest) {
  // The requests are blocked in this thread only, and restored after.
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, nullptr, &previous);
  platform::takeTerminationRequests();
  const pthread_t self = pthread_self();
  struct Case {
    const char* name;
    std::function<void(SocketPair&)> before;
    std::vector<std::size_t> readable;
    int request;
  } cases[] = {
      {"nothing: the time runs out", [](SocketPair&) {}, {}, 0},
      {"bytes on the second socket", [](SocketPair& p) { platform::socketSend(p.a(), "x", 1); }, {1}, 0},
      {"SIGINT before the wait", [&](SocketPair&) { pthread_kill(self, SIGINT); }, {}, SIGINT},
      {"SIGHUP reads as SIGTERM", [&](SocketPair&) { pthread_kill(self, SIGHUP); }, {}, SIGTERM},
      {"SIGTERM during the wait",
       [&](SocketPair&) {
         std::thread([self] {
           std::this_thread::sleep_for(100ms);
           pthread_kill(self, SIGTERM);
         }).detach();
       },
       {}, SIGTERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair idle, p;
    ASSERT_TRUE(idle.ok() && p.ok());
    c.before(p);
    const auto timeout = c.request == 0 && c.readable.empty() ? 200ms : 30s;
    const auto seen = platform::waitForSocketsOrRequest({idle.b(), p.b()}, timeout);
    EXPECT_EQ(c.readable, seen.readable);
    EXPECT_EQ(c.request, seen.request);
  }
  EXPECT_EQ(0, platform::waitForSocketsOrRequest({}, 0ms).request) << "each request is taken once";
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace
}  // namespace halvix::test
