// An application that never returns must not freeze the platform thread:
// ending its activation interrupts the Lua code, and a worker that still does
// not return (stuck in native code, or in a compiled trace) is abandoned.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "sdk/activation.h"
#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tests/support/hot_dev_app.h"

namespace halvix::test {
namespace {

using namespace std::chrono_literals;

// 'spin' loops in interpreted code (the JIT is off), which the interrupt
// ends; 'sleep' blocks in a native call for a few seconds, which it cannot.
const char* const kStuckApp = R"LUA(
local ffi = require('ffi')
local nativeSleep
if ffi.os == 'Windows' then
  ffi.cdef[[ void Sleep(unsigned long milliseconds); ]]
  nativeSleep = function() ffi.C.Sleep(3500) end
else
  ffi.cdef[[ int poll(void *fds, unsigned long n, int timeout); ]]
  nativeSleep = function() ffi.C.poll(nil, 0, 3500) end
end
local M = {}
local mode = require('mode')
function M.initLuaApp()
  jit.off()
  if mode == 'init' then nativeSleep() end
end
function M.onTick() if mode == 'tick' then while true do end end end
function M.forwardPlateCall(cb, packed)
  if packed == 'sleep' then nativeSleep() end
  cb(packed)
end
return M
)LUA";

TEST(StuckApplication, EndingAnActivationNeverWaitsWithoutBound) {
  sdk::setHotDevMode(true);
  struct Case {
    const char* mode;
    bool abandoned;
    const char* initResult;
  };
  const Case cases[] = {
      {"tick", false, "true:"},
      {"call", true, "true:"},
      {"init", true, "false:initSDK failed: the activation ended before the application started."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    HotDevApp app(kStuckApp);
    app.write("mode.lua", std::string("return '") + c.mode + "'");
    sdk::CorvelNative native(app.directories());
    Collector init;
    Collector stuckAnswer;
    testing::internal::CaptureStdout();
    native.initSDK(recordResult(init), 10, "");
    if (c.mode == std::string("tick")) {
      ASSERT_TRUE(init.waitFor(1));
      native.startLooper(nullptr);
      ASSERT_TRUE(waitUntil([&] { return native.tickCount() > 0; }));
    } else if (c.mode == std::string("call")) {
      ASSERT_TRUE(init.waitFor(1));
      native.forwardPlateCall([&](const std::vector<std::string>& r) { stuckAnswer.add(r.front()); },
                              std::string("sleep"));
      std::this_thread::sleep_for(200ms);
    }
    native.unInitSDK();
    const bool stillRunning = sdk::Activation::abandonedWorkersRunning() > 0;
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(stillRunning, c.abandoned);
    EXPECT_EQ(log.find("the activation is abandoned") != std::string::npos, c.abandoned) << log;
    if (c.abandoned) {
      const char* where = c.mode == std::string("init") ? "initLuaApp" : "forwardPlateCall";
      EXPECT_NE(log.find(where), std::string::npos) << log;
    }
    ASSERT_TRUE(init.waitFor(1));
    EXPECT_EQ(init.items().front(), c.initResult);

    // The platform thread goes on: a fresh activation starts and answers.
    app.write("mode.lua", "return 'none'");
    Collector again;
    native.initSDK(recordResult(again), 10, "");
    ASSERT_TRUE(again.waitFor(1));
    EXPECT_EQ(again.items().front(), "true:");
    Collector echo;
    native.forwardPlateCall([&](const std::vector<std::string>& r) { echo.add(r.front()); }, std::string("hello"));
    ASSERT_TRUE(echo.waitFor(1));
    EXPECT_EQ(echo.items().front(), "hello");
    native.unInitSDK();

    // The abandoned worker frees what it kept once its native call returns,
    // and the answer of the interrupted call is never delivered.
    EXPECT_TRUE(waitUntil([] { return sdk::Activation::abandonedWorkersRunning() == 0; }));
    EXPECT_TRUE(stuckAnswer.items().empty());
  }
  sdk::setHotDevMode(false);
}

}  // namespace
}  // namespace halvix::test
