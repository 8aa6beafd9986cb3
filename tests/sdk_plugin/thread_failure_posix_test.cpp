// Thread creation is made to fail by standing in for pthread_create in this
// test program; the real one is reached through RTLD_NEXT.
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>

#include "tests/sdk_plugin/plugin_host.h"

namespace {
std::atomic<bool> g_failThreadCreation{false};
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                              void* argument) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  if (g_failThreadCreation.load()) return EAGAIN;
  return real(thread, attributes, start, argument);
}

namespace {

using flutter::EncodableValue;

class ThreadFailureTest : public halvix::test::PluginFixture {};

TEST_F(ThreadFailureTest, InitSdkReportsAFailureInsteadOfThrowing) {
  g_failThreadCreation = true;
  auto reply = call("initSDK", hotDevArgs(EncodableValue(true)));
  g_failThreadCreation = false;
  ASSERT_EQ(reply.kind, halvix::test::Reply::kSuccess);
  const auto& list = std::get<flutter::EncodableList>(reply.value);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], EncodableValue(false));
  const auto& message = std::get<std::string>(list[1]);
  EXPECT_EQ(message.rfind("initSDK failed: cannot create the SDK worker thread: ", 0), 0u) << message;

  // The plugin and the SDK are still usable.
  EXPECT_EQ(call("startLooper").value, report(false, "initSDK failed : need call initSDK() firstly."));
  EXPECT_EQ(call("initSDK", hotDevArgs(EncodableValue(true))).value, report(true, ""));
  EXPECT_EQ(call("forwardPlateCall", bytes("ok")).value, bytes("ok"));
}

}  // namespace
