// The messenger's limits where the system lets a test reach them: the
// socket's mode and running out of descriptors.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/flutter_engine/engine_fixture.h"

namespace {

using namespace halvix::test;

TEST_F(EngineTest, SocketIsPrivateToItsUser) {
  struct stat st {};
  ASSERT_EQ(::stat(host.socketPath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Process CPU time: what a thread spinning on accept would burn.
std::chrono::nanoseconds cpuTime() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

TEST_F(EngineTest, RunningOutOfDescriptorsPausesAcceptingUntilTheyComeBack) {
  MessengerClient before(host.socketPath());
  EXPECT_EQ(roundTrip(before, "echo", {1}), Bytes{1});

  testing::internal::CaptureStderr();
  // Every descriptor but one is taken; the client takes that one, so the
  // engine cannot accept it.
  int base = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(base, 0);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(base) + 32;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> fillers;
  for (int fd; (fd = ::dup(base)) >= 0;) fillers.push_back(fd);
  ASSERT_EQ(errno, EMFILE);
  ASSERT_FALSE(fillers.empty());
  ::close(fillers.back());
  fillers.pop_back();
  std::optional<MessengerClient> waiting;
  waiting.emplace(host.socketPath());
  uint32_t id = waiting->send("echo", {4, 2});

  auto cpuBefore = cpuTime();
  auto wallBefore = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(1s);
  auto cpu = cpuTime() - cpuBefore;
  auto wall = std::chrono::steady_clock::now() - wallBefore;
  EXPECT_LT(cpu, wall / 4) << "accepting spins while descriptors are short";

  for (int fd : fillers) ::close(fd);
  ::close(base);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  Bytes reply;
  EXPECT_EQ(waiting->waitReply(id, kWait, &reply), MessengerClient::Outcome::kReply);
  EXPECT_EQ(reply, (Bytes{2, 4}));
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("cannot accept a client"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("cannot accept a client"), errors.rfind("cannot accept a client")) << "one line per run of failures";
}

}  // namespace
