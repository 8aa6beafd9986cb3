// Start-up is made to throw by standing in for luaL_newstate in this test
// program; the real one is reached through RTLD_NEXT.
#include <dlfcn.h>

#include <atomic>
#include <new>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tests/support/hot_dev_app.h"

namespace {
std::atomic<bool> g_throwOnce{false};
}

extern "C" lua_State* luaL_newstate(void) {
  using NewState = lua_State* (*)();
  static NewState real = reinterpret_cast<NewState>(dlsym(RTLD_NEXT, "luaL_newstate"));
  if (g_throwOnce.exchange(false)) throw std::bad_alloc();
  return real();
}

namespace halvix::test {
namespace {

TEST(StartupFault, AnExceptionIsAnsweredAndTheSdkStartsAgain) {
  sdk::setHotDevMode(true);
  HotDevApp app(kEchoApp);
  sdk::CorvelNative native(app.directories());
  Collector failed;
  g_throwOnce = true;
  native.initSDK(recordResult(failed), 10, "");
  ASSERT_TRUE(failed.waitFor(1));
  EXPECT_EQ(failed.items(), std::vector<std::string>{"false:initSDK failed: start-up raised an exception: std::bad_alloc"});

  Collector started;
  native.initSDK(recordResult(started), 10, "");
  ASSERT_TRUE(started.waitFor(1));
  EXPECT_EQ(started.items(), std::vector<std::string>{"true:"});
  Collector answers;
  native.forwardPlateCall([&](const std::vector<std::string>& r) { answers.add(r.front()); }, std::string("again"));
  ASSERT_TRUE(answers.waitFor(1));
  EXPECT_EQ(answers.items().front(), "again");
  sdk::setHotDevMode(false);
}

}  // namespace
}  // namespace halvix::test
