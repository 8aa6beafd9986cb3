// Workers the host had to give up on, spinning in code the JIT compiled
// (which no interrupt reaches), run at idle priority, and once too many
// still run no new activation is started.
#include <sched.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sdk/activation.h"
#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tests/support/host_process.h"
#include "tests/support/hot_dev_app.h"

namespace halvix::test {
namespace {

using namespace std::chrono_literals;

// Spins in a compiled loop until the file named by release.lua exists.
const char* const kSpinningApp = R"LUA(
local ffi = require('ffi')
ffi.cdef[[ int access(const char *path, int mode); ]]
local release = require('release')
local M = {}
function M.initLuaApp() end
function M.onTick() end
function M.forwardPlateCall(cb, packed)
  while ffi.C.access(release, 0) ~= 0 do end
  cb(packed)
end
return M
)LUA";

// Threads of this process in the idle scheduling class.
int idleThreads() {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    const std::string stat = readWholeFile(task.path() / "stat");
    // Fields after the command name, which may hold spaces: the state is
    // field 3 and the policy field 41.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 41 && fields >> field; ++i) {
      if (i == 41 && std::stoi(field) == SCHED_IDLE) ++count;
    }
  }
  return count;
}

TEST(StuckWorkers, RunAtIdlePriorityAndBoundNewActivations) {
  sdk::setHotDevMode(true);
  HotDevApp app(kSpinningApp);
  const std::filesystem::path release = std::filesystem::path(app.appRoot()) / "release";
  app.write("release.lua", "return '" + release.string() + "'");
  sdk::CorvelNative native(app.directories());
  testing::internal::CaptureStdout();
  for (int i = 1; i <= sdk::kMaxAbandonedWorkers + 1; ++i) {
    Collector init;
    native.initSDK(recordResult(init), 10, "");
    ASSERT_TRUE(init.waitFor(1));
    ASSERT_EQ(init.items().front(), "true:");
    native.forwardPlateCall([](const std::vector<std::string>&) {}, std::string("spin"));
    std::this_thread::sleep_for(300ms);
    native.unInitSDK();
    EXPECT_EQ(sdk::abandonedSdkWorkers(), i);
    EXPECT_EQ(idleThreads(), i);
  }

  Collector refused;
  native.initSDK(recordResult(refused), 10, "");
  ASSERT_TRUE(refused.waitFor(1));
  EXPECT_THAT(refused.items().front(), testing::StartsWith(std::string("false:") + sdk::kTooManyStuckWorkers));
  EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("left to finish on its own at idle priority"));

  // Once they finish, activations start again.
  std::ofstream(release) << "";
  ASSERT_TRUE(waitUntil([] { return sdk::abandonedSdkWorkers() == 0; }));
  Collector again;
  native.initSDK(recordResult(again), 10, "");
  ASSERT_TRUE(again.waitFor(1));
  EXPECT_EQ(again.items().front(), "true:");
  native.unInitSDK();
  sdk::setHotDevMode(false);
}

}  // namespace
}  // namespace halvix::test
