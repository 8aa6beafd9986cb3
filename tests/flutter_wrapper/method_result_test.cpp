#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/flutter/engine_method_result.h"
#include "platform/flutter/method_channel.h"
#include "platform/flutter/repeated_warning.h"
#include "platform/flutter/standard_codec.h"

namespace {

using flutter::EncodableValue;
using Bytes = std::vector<uint8_t>;

constexpr const char* kDuplicate =
    "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called exactly once. "
    "Ignoring duplicate result.\n";
constexpr const char* kUnanswered = "Warning: Failed to respond to a message. This is a memory leak.\n";

struct Recorder {
  std::vector<Bytes> replies;
  flutter::BinaryReply reply() {
    return [this](const uint8_t* data, size_t size) { replies.emplace_back(data, data + size); };
  }
};

TEST(EngineMethodResult, AnswersOnceAndReportsTheSecondAnswer) {
  using Answer = void (*)(flutter::MethodResult<EncodableValue>&);
  const std::pair<const char*, Answer> answers[] = {
      {"success", [](flutter::MethodResult<EncodableValue>& r) { r.Success(EncodableValue(true)); }},
      {"error", [](flutter::MethodResult<EncodableValue>& r) { r.Error("E"); }},
      {"not implemented", [](flutter::MethodResult<EncodableValue>& r) { r.NotImplemented(); }},
  };
  for (const auto& [firstName, first] : answers) {
    for (const auto& [secondName, second] : answers) {
      SCOPED_TRACE(std::string(firstName) + " then " + secondName);
      Recorder recorder;
      testing::internal::CaptureStderr();
      {
        flutter::EngineMethodResult<EncodableValue> result(recorder.reply(),
                                                           &flutter::StandardMethodCodec::GetInstance());
        first(result);
        second(result);
      }
      EXPECT_EQ(testing::internal::GetCapturedStderr(), kDuplicate);
      ASSERT_EQ(recorder.replies.size(), 1u);
    }
  }
}

TEST(EngineMethodResult, RepliesCarryTheEnvelope) {
  Recorder recorder;
  {
    flutter::EngineMethodResult<EncodableValue> ok(recorder.reply(), &flutter::StandardMethodCodec::GetInstance());
    ok.Success(EncodableValue(int32_t{2}));
    flutter::EngineMethodResult<EncodableValue> missing(recorder.reply(),
                                                        &flutter::StandardMethodCodec::GetInstance());
    missing.NotImplemented();
  }
  ASSERT_EQ(recorder.replies.size(), 2u);
  EXPECT_EQ(recorder.replies[0], (Bytes{0, 3, 2, 0, 0, 0}));
  EXPECT_TRUE(recorder.replies[1].empty());
}

TEST(EngineMethodResult, DestroyedWithoutAnswerWarns) {
  Recorder recorder;
  testing::internal::CaptureStderr();
  { flutter::EngineMethodResult<EncodableValue> result(recorder.reply(), &flutter::StandardMethodCodec::GetInstance()); }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kUnanswered);
  EXPECT_TRUE(recorder.replies.empty());
}

TEST(RepeatedWarning, PrintsABurstThenOneCountingLinePerInterval) {
  using Clock = flutter::internal::RepeatedWarning::Clock;
  flutter::internal::RepeatedWarning warning("W", 2, std::chrono::seconds(10));
  const std::pair<int, const char*> occurrences[] = {
      {0, "W"}, {1, "W"}, {2, nullptr}, {3, nullptr}, {12, "W (3 times since the last such line)"},
      {13, nullptr}, {30, "W (2 times since the last such line)"}, {31, nullptr},
  };
  for (const auto& [second, expected] : occurrences) {
    SCOPED_TRACE(second);
    auto line = warning.occur(Clock::time_point(std::chrono::seconds(second)));
    if (expected)
      EXPECT_EQ(line, std::optional<std::string>(expected));
    else
      EXPECT_FALSE(line);
  }
}

// A messenger that keeps its handlers, so a test can deliver bytes to them.
class FakeMessenger : public flutter::BinaryMessenger {
 public:
  void Send(const std::string&, const uint8_t*, size_t, flutter::BinaryReply) const override {}
  void SetMessageHandler(const std::string& channel, flutter::BinaryMessageHandler handler) override {
    handlers[channel] = std::move(handler);
  }
  std::map<std::string, flutter::BinaryMessageHandler> handlers;
};

TEST(MethodChannel, DecodesCallsAndAnswersUndecodableOnesAsNotImplemented) {
  FakeMessenger messenger;
  std::vector<std::string> calls;
  {
    flutter::MethodChannel<EncodableValue> channel(&messenger, "chan", &flutter::StandardMethodCodec::GetInstance());
    channel.SetMethodCallHandler([&](const auto& call, auto result) {
      calls.push_back(call.method_name());
      result->Success();
    });
  }
  ASSERT_TRUE(messenger.handlers.count("chan"));  // the handler outlives the channel object
  Recorder recorder;
  Bytes good{7, 1, 'm', 0};
  messenger.handlers["chan"](good.data(), good.size(), recorder.reply());
  testing::internal::CaptureStderr();
  Bytes bad{7, 9, 'm'};
  messenger.handlers["chan"](bad.data(), bad.size(), recorder.reply());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to construct method call from message on channel chan\n");
  EXPECT_EQ(calls, std::vector<std::string>{"m"});
  ASSERT_EQ(recorder.replies.size(), 2u);
  EXPECT_EQ(recorder.replies[0], (Bytes{0, 0}));
  EXPECT_TRUE(recorder.replies[1].empty());
}

}  // namespace
