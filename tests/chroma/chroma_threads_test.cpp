// The stand-in library's own thread reports colours while the platform
// thread ticks and bridges come and go; run under ThreadSanitizer too.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "chroma/chroma_bridge.h"
#include "sdk/globals.h"
#include "tests/chroma/lamp_app.h"
#include "tests/chroma/signing_kit.h"
#include "tests/support/hot_dev_app.h"

namespace halvix::test {
namespace {

using namespace std::chrono_literals;

bool waitForColour(chroma::ChromaRelayState& relay) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (relay.colour() == chroma::ChromaColour{}) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ChromaThreads, EventsMeetTicksAndBridgesGoingAway) {
  const SigningKit kit;
  ASSERT_EQ(kit.problem(), "");
  TempDir root;
  const auto programs = root.path() / "programs";
  ASSERT_FALSE(kit.install(standInVariant("chroma_standin_marked"), programs / "Razer/ChromaBroadcast/bin",
                           Signer::Vendor)
                   .empty());
  // Fast events, each colour with some red, so a colour seen is never black.
  ::setenv("HALVIX_CHROMA_COLORS", root.write("colours", "ff0000 1\n80ff00 1\n4000ff 1\n").c_str(), 1);

  sdk::setHotDevMode(true);
  const auto app = makeLampApp();
  auto native = std::make_unique<sdk::CorvelNative>(app->directories());
  Collector init;
  native->initSDK(recordResult(init), 10, "");
  ASSERT_TRUE(init.waitFor(1));
  sdk::setCurrentCorvelNative(native.get());
  {
    chroma::ChromaLoaderEnvironment environment;
    environment.search.folders = {root.path() / "exe", programs / "Razer/ChromaBroadcast/bin"};
    environment.programFiles = programs.string();
    environment.trust.certificateFile = kit.trustedRoots();
    chroma::ChromaConnectApi api(environment);
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(round);
      auto bridge = std::make_unique<chroma::ChromaBridge>();
      bridge->relay().SetDeviceEnabled("A", true);
      // Registered once; later bridges are reached by being the newest.
      if (round == 0) {
        ASSERT_EQ(bridge->InitChromaConnect(api), 0);
      }
      ASSERT_TRUE(waitForColour(bridge->relay()));
      for (int i = 0; i < 20; ++i) {
        bridge->OnColorTick();
        std::this_thread::sleep_for(1ms);
      }
      bridge.reset();
      std::this_thread::sleep_for(5ms);
    }
    // Ticks 1 ms apart skip the lamp while its last call still waits; every
    // round reaches the application at least once.
    const std::size_t calls = receivedCalls(*native).size();
    EXPECT_GE(calls, 4u);
    EXPECT_LE(calls, 80u);
  }  // unloading the library stops its thread
  ::unsetenv("HALVIX_CHROMA_COLORS");
  sdk::setCurrentCorvelNative(nullptr);
  native.reset();
  sdk::setHotDevMode(false);
}

}  // namespace
}  // namespace halvix::test
