// halvixctl plays the Dart side against the host over the socket.
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "standins/flutter_engine/messenger_unix_socket.h"
#include "tests/support/host_process.h"
#include "tests/support/hot_dev_app.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

const std::string kBin = HALVIX_BIN_DIR;
constexpr const char* kChannel = "com.brisktide.corvel.methodchannel";

using halvix::test::ProcessOutcome;
using Outcome = ProcessOutcome;

class HalvixctlTest : public testing::Test {
 protected:
  void SetUp() override {
    writeHotDevTree(app,
              "local M = {}\n"
              "function M.initLuaApp() end\n"
              "function M.onTick() end\n"
              "function M.forwardPlateCall(cb, packed)\n"
              "  if packed == 'silent' then return end\n"
              "  local mp = require('MessagePack')\n"
              "  local call = mp.unpack(packed)\n"
              "  cb(mp.pack({true, call[1] .. '!'}))\n"
              "end\n"
              "return M\n");
    socket = (app.path() / "m.sock").string();
    host.emplace(kBin + "/halvix", std::vector<std::string>{"--socket", socket, "--drive-root", app.path().string()},
                 logs.path());
    ASSERT_TRUE(host->waitForSocket(socket)) << host->finish(SIGKILL).err;
  }

  void TearDown() override {
    if (host && host->started()) {
      Outcome end = host->finish(SIGTERM);
      EXPECT_EQ(end.exitCode, 0) << end.err;
    }
  }

  Outcome ctl(std::vector<std::string> args) {
    args.insert(args.begin(), {"--socket", socket});
    return halvix::test::runToEnd(kBin + "/halvixctl", args, scratch.path());
  }

  halvix::test::TempDir app;
  halvix::test::TempDir scratch;
  halvix::test::TempDir logs;
  std::string socket;
  std::optional<halvix::test::HostProcess> host;
};

TEST_F(HalvixctlTest, DrivesAWholeActivation) {
  Outcome init = ctl({kChannel, "initSDK", R"({"sdkEnv":{"VAR_IS_HOTDEV":true},"logLevel":60})"});
  EXPECT_EQ(init.exitCode, 0) << init.err;
  EXPECT_EQ(init.out, "[true,\"\"]\n");
  Outcome start = ctl({kChannel, "startLooper"});
  EXPECT_EQ(start.exitCode, 0);
  EXPECT_EQ(start.out, "[true,\"\"]\n");
  // MessagePack ["ping"] in, [true, "ping!"] out.
  Outcome call = ctl({kChannel, "forwardPlateCall", "\"hex:91a470696e67\""});
  EXPECT_EQ(call.exitCode, 0) << call.err;
  EXPECT_EQ(call.out, "\"hex:92c3a570696e6721\"\n");
  Outcome stop = ctl({kChannel, "stopLooper"});
  EXPECT_EQ(stop.out, "[true,\"\"]\n");
  Outcome end = ctl({kChannel, "unInitSDK"});
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.out, "null\n");
}

TEST_F(HalvixctlTest, ExitCodesAndRawOutput) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* out;
  };
  const Case cases[] = {
      {{kChannel, "initSDK", "[]"}, 2, "{\"code\":\"Bad Arguments\",\"details\":null,\"message\":null}\n"},
      {{kChannel, "initsdk"}, 3, ""},
      {{"no.such.channel", "x"}, 3, ""},
      {{"--raw", kChannel, "unInitSDK"}, 0, "0000\n"},
      {{"--raw", kChannel, "startLooper"}, 0,
       "000c0202072d696e697453444b206661696c6564203a206e6565642063616c6c20696e697453444b28292066697273746c792e\n"},
      {{"--timeout", "0.3", kChannel, "forwardPlateCall", "\"hex:00\""}, 4, ""},
      {{kChannel}, 1, ""},
      {{kChannel, "initSDK", "{bad json"}, 1, ""},
      {{kChannel, "forwardPlateCall", "\"hex:0\""}, 1, ""},
      {{"--timeout", "-1", kChannel, "x"}, 1, ""},
      {{"--bogus", kChannel, "x"}, 1, ""},
      {{kChannel, "initSDK", std::string(20000, '[') + std::string(20000, ']')}, 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Outcome run = ctl(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.out, c.out);
  }
}

TEST_F(HalvixctlTest, AHostThatCannotServeSaysWhyAndLeavesTheFirstAlone) {
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {{socket, "another host is listening on " + socket}, {"", "no socket path was given after --socket"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    Outcome second = halvix::test::runToEnd(kBin + "/halvix", {"--socket", c.path}, scratch.path());
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("engine stand-in: " + c.reason), std::string::npos) << second.err;
  }
  Outcome call = ctl({kChannel, "unInitSDK"});
  EXPECT_EQ(call.exitCode, 0) << call.err;
  EXPECT_EQ(call.out, "null\n");
}

// A server that another user runs at `path`, with a reply ready for the
// first call; it writes to `report` a byte once it listens, then how many
// bytes its one client sent.
pid_t squat(const std::string& path, uid_t user, int report) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  auto address = halvix::flutter_engine::messengerSocketAddress(path);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) ::_exit(2);
  if (::setgid(user) != 0 || ::setuid(user) != 0 || ::listen(fd, 1) != 0) ::_exit(3);
  char ready = 1;
  if (::write(report, &ready, 1) != 1) ::_exit(4);
  int client = ::accept(fd, nullptr, nullptr);
  const uint8_t successNull[] = {7, 0, 0, 0, 2, 1, 0, 0, 0, 0, 0};
  ::send(client, successNull, sizeof successNull, MSG_NOSIGNAL);  // the client may be gone already
  size_t received = 0;
  char buffer[4096];
  for (ssize_t n; (n = ::read(client, buffer, sizeof buffer)) > 0;) received += static_cast<size_t>(n);
  if (::write(report, &received, sizeof received) != sizeof received) ::_exit(6);
  ::_exit(0);
}

TEST(Halvixctl, NeitherEndTrustsWhatAnotherUserControls) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const uid_t other = 65534;
  halvix::test::TempDir dir;

  // halvixctl sends nothing to a squatter and prints nothing of its reply.
  std::string path = (dir.path() / "squatted.sock").string();
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  pid_t squatter = squat(path, other, report[1]);
  ::close(report[1]);
  char ready = 0;
  ASSERT_EQ(::read(report[0], &ready, 1), 1);
  Outcome run = halvix::test::runToEnd(
      kBin + "/halvixctl", {"--socket", path, kChannel, "initSDK", R"({"lsdName":"secret"})"}, dir.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("refusing the messenger at " + path + ": it is served by uid 65534"), std::string::npos)
      << run.err;
  size_t received = 1;
  EXPECT_EQ(::read(report[0], &received, sizeof received), static_cast<ssize_t>(sizeof received));
  EXPECT_EQ(received, 0u);
  ::close(report[0]);
  int status = 0;
  ::waitpid(squatter, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // The host refuses a default folder that another user owns.
  auto runtime = dir.path() / "runtime";
  std::filesystem::create_directory(runtime);
  ASSERT_EQ(::chown(runtime.c_str(), other, other), 0);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  Outcome host = halvix::test::runToEnd(kBin + "/halvix", {}, dir.path());
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(host.exitCode, 1);
  EXPECT_NE(host.err.find("the socket folder " + runtime.string() + " belongs to uid 65534, not to you"),
            std::string::npos)
      << host.err;
}

}  // namespace
