// The host-to-Lua call round trip through the native overload with a trivial
// Lua handler, and the cost of one tick.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "sdk/activation.h"
#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tests/support/hot_dev_app.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kApp = R"LUA(
local M = { n = 0 }
local answer = string.char(0x92, 0xc3, 0x01)  -- [true, 1]
function M.initLuaApp() end
function M.onTick() M.n = M.n + 1 end
function M.forwardPlateCall(cb, packed) cb(answer) end
return M
)LUA";

// A developer tree in a scratch folder, started in hot-development mode.
class BenchApp {
 public:
  BenchApp() : app_(kApp) {
    halvix::sdk::setHotDevMode(true);
    native_ = std::make_unique<halvix::sdk::CorvelNative>(app_.directories());
    std::atomic<bool> started{false};
    native_->initSDK([&](std::vector<msgpack::object_handle>&) { started = true; }, 10, "");
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  halvix::sdk::CorvelNative& native() { return *native_; }

 private:
  halvix::test::HotDevApp app_;
  std::unique_ptr<halvix::sdk::CorvelNative> native_;
};

msgpack::sbuffer packedCall() {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_array(2);
  packer.pack(std::string("api.bench.noop"));
  packer.pack(1);
  return buffer;
}

void BM_CallThroughput(benchmark::State& state) {
  BenchApp app;
  msgpack::sbuffer call = packedCall();
  const int batch = static_cast<int>(state.range(0));
  std::mutex mutex;
  std::condition_variable done;
  int answered = 0;
  for (auto _ : state) {
    answered = 0;
    for (int i = 0; i < batch; ++i) {
      app.native().forwardPlateCall(
          [&](halvix::sdk::PlateCallArgs& args) {
            benchmark::DoNotOptimize(args.ok);
            std::lock_guard<std::mutex> lock(mutex);
            if (++answered == batch) done.notify_one();
          },
          call);
    }
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return answered == batch; });
  }
  state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * batch,
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CallThroughput)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_CallLatency(benchmark::State& state) {
  BenchApp app;
  msgpack::sbuffer call = packedCall();
  std::vector<double> micros;
  std::atomic<bool> answered{false};
  for (auto _ : state) {
    answered = false;
    auto start = Clock::now();
    app.native().forwardPlateCall([&](halvix::sdk::PlateCallArgs&) { answered.store(true); }, call);
    while (!answered.load()) {
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) {
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  }
}
BENCHMARK(BM_CallLatency)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_TickCost(benchmark::State& state) {
  halvix::sdk::CorvelNativeImpl lua(10);
  std::string pattern = (std::filesystem::temp_directory_path() / "halvix-tick-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  std::ofstream(std::filesystem::path(pattern) / "preload.lua") << kApp;
  halvix::sdk::StateOptions options;
  options.hotDev = true;
  options.root = pattern;
  if (lua.prepareState(options)) std::abort();
  for (auto _ : state) benchmark::DoNotOptimize(lua.doString(halvix::sdk::kTickChunk));
  std::filesystem::remove_all(pattern);
}
BENCHMARK(BM_TickCost)->Unit(benchmark::kMicrosecond);

}  // namespace

// Every answer prints the bridge's "resultHandler=" line on standard output;
// it goes to /dev/null so that the terminal is not what is measured, and the
// report goes to the original standard output.
int main(int argc, char** argv) {
  int saved = dup(STDOUT_FILENO);
  std::ofstream report("/dev/fd/" + std::to_string(saved));
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::ConsoleReporter console;
  console.SetOutputStream(&report);
  console.SetErrorStream(&report);
  benchmark::RunSpecifiedBenchmarks(&console);
  benchmark::Shutdown();
  return 0;
}
