// Method calls through the messenger socket: "forwardPlateCall" round trips
// against a Lua application that answers with the packed call itself, and
// the standard-codec work that one round trip contains. The round trip is
// split where the application runs: the application stamps the monotonic
// clock into the benchmark's memory (LuaJIT's FFI) as it is called, so the
// way in (client, socket thread, platform thread, worker) and the way back
// (worker, socket thread, client) are reported apart.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/flutter/method_result_functions.h"
#include "platform/flutter/standard_codec.h"
#include "standins/flutter_engine/messenger_client.h"
#include "sdk/flutter_lib_corvel_plugin.h"
#include "sdk/globals.h"
#include "tests/support/engine_host.h"
#include "tests/support/hot_dev_app.h"

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

// The application writes the time it is called at `*stamp`.
std::string appStamping(const int64_t* stamp) {
  char address[32];
  std::snprintf(address, sizeof address, "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(stamp));
  return std::string(
             "local ffi = require('ffi')\n"
             "ffi.cdef[[ struct bench_timespec { long s; long ns; };\n"
             "  int clock_gettime(int clock, struct bench_timespec* t); ]]\n"
             "local now = ffi.new('struct bench_timespec')\n"
             "local stamp = ffi.cast('int64_t*', ") +
         address +
         ")\n"
         "local M = {}\n"
         "function M.initLuaApp() end\n"
         "function M.onTick() end\n"
         "function M.forwardPlateCall(cb, packed)\n"
         "  ffi.C.clock_gettime(1, now)\n"
         "  stamp[0] = now.s * 1000000000 + now.ns\n"
         "  cb(packed)\n"
         "end\n"
         "return M\n";
}

int64_t monotonicNanoseconds() {
  // steady_clock is CLOCK_MONOTONIC here, the clock the application reads.
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::vector<uint8_t> packedCall(size_t size) {
  // A MessagePack array of one bin 32 value, padded to the size asked for.
  std::vector<uint8_t> out{0x91, 0xc6};
  uint32_t n = static_cast<uint32_t>(size > 6 ? size - 6 : 0);
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
  out.resize(6 + n, 0x5a);
  return out;
}

class Host {
 public:
  Host() {
    halvix::sdk::setHotDevMode(true);
    halvix::test::writeHotDevTree(host_.dir(), appStamping(&stamp_));
    halvix::sdk::SdkDirectories directories;
    directories.driveRoot = host_.dir().path().string();
    halvix::sdk::registerSdkPlugin(
        host_.api().FlutterDesktopEngineGetPluginRegistrar(host_.engine(), halvix::sdk::kSdkPluginName), directories);
    host_.start();
    client_ = std::make_unique<halvix::flutter_engine::MessengerClient>(host_.socketPath());
    roundTrip("initSDK", EncodableValue(EncodableMap{}));
  }
  ~Host() {
    client_.reset();
    host_.destroyEngine();
    halvix::sdk::setHotDevMode(false);
  }

  // When the application was last called, in monotonic nanoseconds.
  int64_t calledAt() const { return stamp_; }
  int64_t sentAt() const { return sentAt_; }
  int64_t repliedAt() const { return repliedAt_; }

  // One call: encode, send, wait, decode. False when no success came back.
  bool roundTrip(const std::string& method, EncodableValue arguments) {
    const auto& codec = flutter::StandardMethodCodec::GetInstance();
    flutter::MethodCall<EncodableValue> call(method, std::make_unique<EncodableValue>(std::move(arguments)));
    auto message = codec.EncodeMethodCall(call);
    sentAt_ = monotonicNanoseconds();
    uint32_t id = client_->send(halvix::sdk::kSdkChannelName, *message);
    if (client_->waitReply(id, std::chrono::seconds(10), &reply_) !=
        halvix::flutter_engine::MessengerClient::Outcome::kReply)
      return false;
    repliedAt_ = monotonicNanoseconds();
    bool ok = false;
    flutter::MethodResultFunctions<EncodableValue> sink([&](const EncodableValue*) { ok = true; }, nullptr, nullptr);
    return codec.DecodeAndProcessResponseEnvelope(reply_.data(), reply_.size(), &sink) && ok;
  }

 private:
  // Written by the application on the worker thread, read here after the
  // reply, which the worker sent after writing it.
  int64_t stamp_ = 0;
  int64_t sentAt_ = 0;
  int64_t repliedAt_ = 0;
  halvix::test::EngineHost host_;
  std::unique_ptr<halvix::flutter_engine::MessengerClient> client_;
  std::vector<uint8_t> reply_;
};

void BM_ForwardPlateCallRoundTrip(benchmark::State& state) {
  Host host;
  auto packed = packedCall(static_cast<size_t>(state.range(0)));
  double wayIn = 0;
  double wayBack = 0;
  for (auto _ : state) {
    if (!host.roundTrip("forwardPlateCall", EncodableValue(packed))) {
      state.SkipWithError("no reply");
      break;
    }
    wayIn += static_cast<double>(host.calledAt() - host.sentAt());
    wayBack += static_cast<double>(host.repliedAt() - host.calledAt());
  }
  state.SetItemsProcessed(state.iterations());
  // Nanoseconds per call: client to the application, and back.
  state.counters["in_ns"] = benchmark::Counter(wayIn, benchmark::Counter::kAvgIterations);
  state.counters["back_ns"] = benchmark::Counter(wayBack, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ForwardPlateCallRoundTrip)->Arg(16)->Arg(4096)->UseRealTime();

// The codec work of one round trip: the client encodes the call and decodes
// the reply, the plugin decodes the call and encodes the reply.
void BM_CodecPerRoundTrip(benchmark::State& state) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  auto packed = packedCall(static_cast<size_t>(state.range(0)));
  EncodableValue answer(packed);
  flutter::MethodResultFunctions<EncodableValue> sink(nullptr, nullptr, nullptr);
  for (auto _ : state) {
    flutter::MethodCall<EncodableValue> call("forwardPlateCall", std::make_unique<EncodableValue>(packed));
    auto message = codec.EncodeMethodCall(call);
    auto decoded = codec.DecodeMethodCall(message->data(), message->size());
    auto reply = codec.EncodeSuccessEnvelope(&answer);
    codec.DecodeAndProcessResponseEnvelope(reply->data(), reply->size(), &sink);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CodecPerRoundTrip)->Arg(16)->Arg(4096);

// The machine's floor for any round trip that crosses to another thread and
// back over a local socket: one thread echoes what the loop sends. The
// messenger's call crosses threads three times on its way in (client and
// socket thread, socket and platform thread, platform thread and worker)
// and twice on its way back (worker and socket thread, socket thread and
// client).
void BM_SocketEchoThroughThread(benchmark::State& state) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  const size_t size = static_cast<size_t>(state.range(0));
  std::thread echo([&] {
    std::vector<char> buffer(size);
    for (;;) {
      ssize_t n = read(ends[1], buffer.data(), buffer.size());
      if (n <= 0 || write(ends[1], buffer.data(), static_cast<size_t>(n)) != n) break;
    }
  });
  std::vector<char> message(size, 'x');
  for (auto _ : state) {
    size_t got = 0;
    if (write(ends[0], message.data(), size) != static_cast<ssize_t>(size)) break;
    while (got < size) {
      ssize_t n = read(ends[0], message.data() + got, size - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  }
  shutdown(ends[0], SHUT_RDWR);
  echo.join();
  close(ends[0]);
  close(ends[1]);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SocketEchoThroughThread)->Arg(16)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
