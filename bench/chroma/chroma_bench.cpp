// The colour tick with 128 enabled lamps: its cost on the platform thread
// (packing and handing over 128 calls), and the worker's time to answer all
// of them with a trivial Lua handler.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "chroma/chroma_bridge.h"
#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tests/support/hot_dev_app.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kApp = R"LUA(
local M = {}
local answer = string.char(0x92, 0xc3, 0xc3)  -- [true, true]
function M.initLuaApp() end
function M.forwardPlateCall(cb, packed) cb(answer) end
return M
)LUA";

// An activation, current for the bridge, and a bridge with 128 lamps.
class Fixture {
 public:
  Fixture() : app_(kApp) {
    halvix::sdk::setHotDevMode(true);
    native_ = std::make_unique<halvix::sdk::CorvelNative>(app_.directories());
    halvix::test::Collector started;
    native_->initSDK(halvix::test::recordResult(started), 10, "");
    started.waitFor(1);
    halvix::sdk::setCurrentCorvelNative(native_.get());
    for (int i = 0; i < 128; ++i) bridge_.relay().SetDeviceEnabled("lamp-" + std::to_string(i), true);
    bridge_.relay().setColour({255, 128, 0});
  }
  ~Fixture() {
    halvix::sdk::setCurrentCorvelNative(nullptr);
    native_.reset();
    halvix::sdk::setHotDevMode(false);
  }

  halvix::chroma::ChromaBridge& bridge() { return bridge_; }

  // Returns once every call queued before it has been answered: the worker
  // takes calls in order.
  void drain() {
    halvix::test::Collector done;
    native_->forwardPlateCall([&done](const std::vector<std::string>&) { done.add(""); }, std::string("drain"));
    done.waitFor(1);
  }

 private:
  halvix::test::HotDevApp app_;
  std::unique_ptr<halvix::sdk::CorvelNative> native_;
  halvix::chroma::ChromaBridge bridge_;
};

void BM_ColourTick128Lamps(benchmark::State& state) {
  Fixture fixture;
  for (auto _ : state) {
    fixture.bridge().OnColorTick();
    state.PauseTiming();
    fixture.drain();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ColourTick128Lamps)->Unit(benchmark::kMicrosecond);

void BM_Answer128LampCalls(benchmark::State& state) {
  Fixture fixture;
  for (auto _ : state) {
    const auto start = Clock::now();
    fixture.bridge().OnColorTick();
    fixture.drain();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}
BENCHMARK(BM_Answer128LampCalls)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

// Every answer prints the call bridge's diagnostic line on standard output,
// which goes to /dev/null here; the report goes to standard error.
int main(int argc, char** argv) {
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::ConsoleReporter console;
  console.SetOutputStream(&std::cerr);
  console.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&console);
  benchmark::Shutdown();
  return 0;
}
