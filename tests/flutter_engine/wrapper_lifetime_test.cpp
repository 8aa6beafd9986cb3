// The client wrapper over the engine stand-in: results that are never
// answered, and answers that come after the engine is gone.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/flutter/method_channel.h"
#include "platform/flutter/plugin_registrar_windows.h"
#include "platform/flutter/standard_codec.h"
#include "standins/flutter_engine/messenger_client.h"
#include "tests/support/engine_host.h"

namespace {

using flutter::EncodableValue;
using halvix::flutter_engine::FrameKind;
using halvix::flutter_engine::MessengerClient;
using halvix::test::EngineHost;
using Bytes = std::vector<uint8_t>;
using Results = std::vector<std::unique_ptr<flutter::MethodResult<EncodableValue>>>;
using namespace std::chrono_literals;

constexpr auto kWait = 10s;

const flutter::FlutterDesktopApi& api() { return EngineHost::api(); }

// A method channel through the wrapper's registrar for the host's engine, as
// a plugin has it.
void setMethodHandler(EngineHost& host, const char* channel, flutter::MethodCallHandler<EncodableValue> handler) {
  auto* registrar = flutter::PluginRegistrarManager::GetInstance()->GetRegistrar<flutter::PluginRegistrarWindows>(
      api().FlutterDesktopEngineGetPluginRegistrar(host.engine(), "test"));
  flutter::MethodChannel<EncodableValue>(registrar->messenger(), channel, &flutter::StandardMethodCodec::GetInstance())
      .SetMethodCallHandler(std::move(handler));
}

Bytes methodCall() {
  flutter::MethodCall<EncodableValue> call("m", nullptr);
  return *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
}

// Collects the raw response handles of a channel's messages.
struct Spy {
  std::vector<const FlutterDesktopMessageResponseHandle*> handles;
  static void record(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message, void* user) {
    static_cast<Spy*>(user)->handles.push_back(message->response_handle);
  }
};

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(WrapperOverStandIn, UnansweredCallsAreForgottenWithoutAReplyAndWarnedAboutSparingly) {
  EngineHost host;
  ASSERT_EQ(host.listenError(), 0);
  setMethodHandler(host, "drop", [](const auto&, auto) {});
  Spy spy;
  api().FlutterDesktopMessengerSetCallback(host.messenger(), "spy", Spy::record, &spy);
  host.start();

  MessengerClient client(host.socketPath());
  testing::internal::CaptureStderr();
  uint32_t before = client.send("spy", {1});
  constexpr int kDropped = 25;
  for (int i = 0; i < kDropped; ++i) client.send("drop", methodCall());
  uint32_t after = client.send("spy", {2});
  size_t seen = 0;
  for (int i = 0; i < 2000 && seen < 2; ++i) {
    host.onLoop([&] { seen = spy.handles.size(); });
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(seen, 2u);

  // Handles count up, so the dropped calls' handles lie between the spy's.
  // Answering them now finds nothing: only the spy's two replies arrive.
  auto first = reinterpret_cast<uintptr_t>(spy.handles[0]);
  ASSERT_EQ(reinterpret_cast<uintptr_t>(spy.handles[1]), first + kDropped + 1);
  host.onLoop([&] {
    Bytes late{9};
    for (uintptr_t h = first + 1; h <= first + kDropped; ++h)
      api().FlutterDesktopMessengerSendResponse(host.messenger(), reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(h),
                                                late.data(), late.size());
    api().FlutterDesktopMessengerSendResponse(host.messenger(), spy.handles[0], late.data(), late.size());
    api().FlutterDesktopMessengerSendResponse(host.messenger(), spy.handles[1], late.data(), late.size());
  });
  std::vector<uint32_t> replied;
  while (replied.size() < 3) {
    auto frame = client.readFrame(replied.size() < 2 ? kWait : 300ms);
    if (!frame) break;
    EXPECT_EQ(frame->kind, FrameKind::kReply);
    replied.push_back(frame->id);
  }
  EXPECT_EQ(replied, (std::vector<uint32_t>{before, after}));
  EXPECT_FALSE(client.closed());
  EXPECT_EQ(count(testing::internal::GetCapturedStderr(), "Warning: Failed to respond to a message."), 10u);
}

TEST(WrapperOverStandIn, AnswersAndResultsThatOutliveTheEngineAreDropped) {
  EngineHost host;
  ASSERT_EQ(host.listenError(), 0);
  Results held;
  setMethodHandler(host, "keep", [&](const auto&, auto result) { held.push_back(std::move(result)); });
  FlutterDesktopMessengerRef kept = api().FlutterDesktopMessengerAddRef(host.messenger());
  host.start();

  MessengerClient client(host.socketPath());
  for (int i = 0; i < 4; ++i) client.send("keep", methodCall());
  size_t arrived = 0;
  for (int i = 0; i < 2000 && arrived < 4; ++i) {
    host.onLoop([&] { arrived = held.size(); });
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(arrived, 4u);
  // While the engine lives, an answer from another thread goes through.
  std::thread([&] { held[0]->Success(EncodableValue(int32_t{1})); }).join();
  auto reply = client.readFrame(kWait);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->id, 1u);

  host.destroyEngine();
  EXPECT_FALSE(client.readFrame(kWait));
  EXPECT_TRUE(client.closed());
  // A worker the host could not stop answers, or lets its results go, long
  // after: nothing is sent and nothing freed is touched.
  std::thread([&] {
    held[1]->Success(EncodableValue(int32_t{2}));
    held[2].reset();
  }).join();
  held[3]->Error("late");
  held.clear();
  EXPECT_FALSE(api().FlutterDesktopMessengerIsAvailable(kept));
  Bytes data{1};
  api().FlutterDesktopMessengerSendResponse(kept, reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(2),
                                            data.data(), data.size());
  api().FlutterDesktopMessengerRelease(kept);
}

}  // namespace
