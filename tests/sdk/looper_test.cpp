#include <thread>

#include <gtest/gtest.h>

#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tests/support/hot_dev_app.h"

namespace halvix::test {
namespace {

using namespace std::chrono_literals;
using sdk::CorvelNative;

// The application records the steady-clock time of every tick, so that the
// test can read the schedule back through a call.
const char* const kTickRecorder = R"LUA(
local clock = require('tickclock')
local M = { ticks = {} }
function M.initLuaApp() end
function M.onTick() M.ticks[#M.ticks + 1] = clock() end
function M.forwardPlateCall(cb, what)
  if what == 'count' then cb(tostring(#M.ticks)) return end
  local parts = {}
  for i, t in ipairs(M.ticks) do parts[i] = string.format('%.6f', t) end
  cb(table.concat(parts, ' '))
end
return M
)LUA";

const char* const kClockModule = R"LUA(
local ffi = require('ffi')
if ffi.os == 'Windows' then
  ffi.cdef[[ int QueryPerformanceCounter(int64_t *count); int QueryPerformanceFrequency(int64_t *frequency); ]]
  local count, frequency = ffi.new('int64_t[1]'), ffi.new('int64_t[1]')
  ffi.C.QueryPerformanceFrequency(frequency)
  return function()
    ffi.C.QueryPerformanceCounter(count)
    return tonumber(count[0]) / tonumber(frequency[0])
  end
end
ffi.cdef[[ typedef struct { long tv_sec; long tv_nsec; } halvix_timespec;
           int clock_gettime(int clk, halvix_timespec *tp); ]]
local ts = ffi.new('halvix_timespec')
return function()
  ffi.C.clock_gettime(1, ts)  -- CLOCK_MONOTONIC, the clock of std::chrono::steady_clock
  return tonumber(ts.tv_sec) + tonumber(ts.tv_nsec) * 1e-9
end
)LUA";

class LooperTest : public ::testing::Test {
 protected:
  void SetUp() override { sdk::setHotDevMode(true); }
  void TearDown() override { sdk::setHotDevMode(false); }

  static std::string ask(CorvelNative& native, const std::string& what) {
    Collector answer;
    native.forwardPlateCall([&](const std::vector<std::string>& r) { answer.add(r.front()); }, what);
    if (!answer.waitFor(1)) return "no answer";
    return answer.items().front();
  }

  // Starts an activation and waits for its successful report.
  static bool started(CorvelNative& native) {
    Collector init;
    native.initSDK(recordResult(init), 10, "");
    return init.waitFor(1) && init.items().front() == "true:";
  }

  static std::vector<double> tickTimes(CorvelNative& native) {
    std::vector<double> times;
    std::istringstream in(ask(native, "times"));
    for (double t; in >> t;) times.push_back(t);
    return times;
  }
};

TEST_F(LooperTest, StartAndStopResults) {
  HotDevApp app(kEchoApp);
  CorvelNative native(app.directories());
  Collector early;
  native.startLooper(recordResult(early));
  native.stopLooper(recordResult(early));  // never fails, also without an activation
  EXPECT_EQ(early.items(), (std::vector<std::string>{"false:initSDK failed : need call initSDK() firstly.", "true:"}));
  EXPECT_FALSE(native.ticking());

  Collector init;
  native.initSDK(recordResult(init), 10, "");
  Collector looper;
  native.startLooper(recordResult(looper));
  native.startLooper(recordResult(looper));
  native.stopLooper(recordResult(looper));
  EXPECT_EQ(looper.items(), (std::vector<std::string>{
                                "true:", "false:initSDK failed : startLooper : ticker already started.", "true:"}));
  ASSERT_TRUE(init.waitFor(1));
}

TEST_F(LooperTest, TicksAtTheFixedRateWithoutDrift) {
  HotDevApp app(kTickRecorder);
  app.write("tickclock.lua", kClockModule);
  CorvelNative native(app.directories());
  ASSERT_TRUE(started(native));
  std::this_thread::sleep_for(100ms);  // let the schedule fall behind a little first
  native.startLooper(nullptr);
  std::this_thread::sleep_for(1200ms);
  native.stopLooper(nullptr);
  std::vector<double> times = tickTimes(native);
  ASSERT_GT(times.size(), 40u);

  // The ticks missed before startLooper run back to back...
  EXPECT_LT(times[1] - times[0], 0.010);
  // ...then the schedule keeps 17 ms from the first deadline: tick k is never
  // early, and on average the late ones do not accumulate drift.
  std::size_t last = times.size() - 1;
  double span = times[last] - times[last / 2];
  double perTick = span / static_cast<double>(last - last / 2);
  EXPECT_NEAR(perTick, 0.017, 0.004) << "ticks: " << times.size();
}

TEST_F(LooperTest, StopThenStartWithinOnePeriodKeepsOneWait) {
  HotDevApp app(kTickRecorder);
  app.write("tickclock.lua", kClockModule);
  CorvelNative native(app.directories());
  ASSERT_TRUE(started(native));
  native.startLooper(nullptr);
  std::this_thread::sleep_for(200ms);
  for (int i = 0; i < 20; ++i) {
    native.stopLooper(nullptr);
    native.startLooper(nullptr);
  }
  std::size_t before = std::stoul(ask(native, "count"));
  std::this_thread::sleep_for(1000ms);
  std::size_t after = std::stoul(ask(native, "count"));
  // Two waits would tick twice as fast (about 118 in a second).
  EXPECT_GT(after - before, 40u);
  EXPECT_LT(after - before, 80u);
}

TEST_F(LooperTest, StoppingDoesNotResetTheSchedule) {
  HotDevApp app(kTickRecorder);
  app.write("tickclock.lua", kClockModule);
  CorvelNative native(app.directories());
  ASSERT_TRUE(started(native));
  native.startLooper(nullptr);
  std::this_thread::sleep_for(100ms);
  native.stopLooper(nullptr);
  std::size_t stopped = std::stoul(ask(native, "count"));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(std::stoul(ask(native, "count")), stopped);  // no tick while stopped
  native.startLooper(nullptr);
  // About 29 missed deadlines run back to back right after the restart: 25
  // of them take far less than the 408 ms they would at the tick's rate.
  ASSERT_TRUE(waitUntil([&] { return std::stoul(ask(native, "count")) >= stopped + 25; }));
  const std::vector<double> times = tickTimes(native);
  EXPECT_LT(times[stopped + 24] - times[stopped], 0.2);
}

TEST_F(LooperTest, FailingTicksKeepTicking) {
  HotDevApp app(R"LUA(
    local M = { n = 0 }
    function M.onTick() M.n = M.n + 1; error('tick failed') end
    function M.forwardPlateCall(cb) cb(tostring(M.n)) end
    return M
  )LUA");
  CorvelNative native(app.directories());
  ASSERT_TRUE(started(native));
  native.startLooper(nullptr);
  std::this_thread::sleep_for(300ms);
  EXPECT_GT(std::stoul(ask(native, "n")), 5u);
  EXPECT_GT(native.tickCount(), 5u);
}

TEST_F(LooperTest, StartLooperDuringStartUpTicksOnceTheLoopRuns) {
  HotDevApp app(R"LUA(
    local M = { n = 0 }
    function M.initLuaApp() local t = os.clock() + 0.2 while os.clock() < t do end end
    function M.onTick() M.n = M.n + 1 end
    function M.forwardPlateCall(cb) cb(tostring(M.n)) end
    return M
  )LUA");
  CorvelNative native(app.directories());
  Collector init, looper;
  native.initSDK(recordResult(init), 10, "");
  native.startLooper(recordResult(looper));
  EXPECT_EQ(looper.items(), std::vector<std::string>{"true:"});
  EXPECT_EQ(native.tickCount(), 0u);
  ASSERT_TRUE(init.waitFor(1));
  std::this_thread::sleep_for(200ms);
  EXPECT_GT(std::stoul(ask(native, "n")), 5u);
}

}  // namespace
}  // namespace halvix::test
