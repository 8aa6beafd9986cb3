// The colour tick with 128 enabled lamps: its cost on the platform thread
// (packing and handing over 128 calls), and the worker's time to answer all
// of them with a trivial Lua handler. Heap allocations are counted next to
// the times: those the tick makes on the platform thread, and those of a whole
// round (tick and answers, every thread).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <new>
#include <string>

#include <benchmark/benchmark.h>

#include "chroma/chroma_bridge.h"
#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tests/support/hot_dev_app.h"

namespace {

// Every thread's allocations, and the benchmark thread's own, so that the
// tick's share is not blurred by the worker answering at the same time.
struct AllocationCount {
  std::atomic<std::uint64_t> calls{0};
  std::atomic<std::uint64_t> bytes{0};
  void add(std::size_t size) {
    calls.fetch_add(1, std::memory_order_relaxed);
    bytes.fetch_add(size, std::memory_order_relaxed);
  }
};
AllocationCount g_allThreads;
AllocationCount g_benchmarkThread;
thread_local bool t_benchmarkThread = false;

void countAllocation(std::size_t size) {
  g_allThreads.add(size);
  if (t_benchmarkThread) g_benchmarkThread.add(size);
}

void* allocate(std::size_t size) {
  countAllocation(size);
  return std::malloc(size == 0 ? 1 : size);
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
  countAllocation(size);
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a multiple of the alignment.
  return std::aligned_alloc(align, (size + align - 1) / align * align);
}

}  // namespace

// GCC takes the replaced operators' malloc and free for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  if (void* p = allocateAligned(size, alignment)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  if (void* p = allocateAligned(size, alignment)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocateAligned(size, alignment);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using Clock = std::chrono::steady_clock;

// Allocations between start() and stop(), summed over the iterations and
// reported per iteration.
class AllocationMeter {
 public:
  explicit AllocationMeter(const AllocationCount& count) : count_(count) {}
  void start() {
    calls_ = count_.calls.load(std::memory_order_relaxed);
    bytes_ = count_.bytes.load(std::memory_order_relaxed);
  }
  void stop() {
    totalCalls_ += count_.calls.load(std::memory_order_relaxed) - calls_;
    totalBytes_ += count_.bytes.load(std::memory_order_relaxed) - bytes_;
  }
  void report(benchmark::State& state, const char* callsName, const char* bytesName) const {
    using benchmark::Counter;
    state.counters[callsName] = Counter(static_cast<double>(totalCalls_), Counter::kAvgIterations);
    state.counters[bytesName] = Counter(static_cast<double>(totalBytes_), Counter::kAvgIterations);
  }

 private:
  const AllocationCount& count_;
  std::uint64_t calls_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t totalCalls_ = 0;
  std::uint64_t totalBytes_ = 0;
};

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
  t_benchmarkThread = true;
  AllocationMeter tick(g_benchmarkThread);
  for (auto _ : state) {
    tick.start();
    fixture.bridge().OnColorTick();
    tick.stop();
    state.PauseTiming();
    fixture.drain();
    state.ResumeTiming();
  }
  t_benchmarkThread = false;
  tick.report(state, "allocs/tick", "bytes/tick");
}
BENCHMARK(BM_ColourTick128Lamps)->Unit(benchmark::kMicrosecond);

// The round's count takes in the drain call's own allocations as well.
void BM_Answer128LampCalls(benchmark::State& state) {
  Fixture fixture;
  AllocationMeter round(g_allThreads);
  for (auto _ : state) {
    const auto start = Clock::now();
    round.start();
    fixture.bridge().OnColorTick();
    fixture.drain();
    round.stop();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  round.report(state, "allocs/round", "bytes/round");
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
