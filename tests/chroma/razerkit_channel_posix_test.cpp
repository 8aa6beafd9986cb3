// The razerkit channel on the engine stand-in's messenger, driven with encoded
// method calls over its socket; replies are compared as envelope bytes, and
// the relay state and the sender are read on the platform thread.
#include "chroma/razerkit_channel.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/flutter/binary_messenger_impl.h"
#include "platform/flutter/standard_codec.h"
#include "standins/flutter_engine/messenger_client.h"
#include "tests/support/engine_host.h"
#include "tests/support/loopback_adapters.h"

namespace halvix::test {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}
Bytes operator+(Bytes bytes, const Bytes& more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
  return bytes;
}

const Bytes kSuccess{0, 0};
const Bytes kNotImplemented{};
// Code "arguments error", message and details null.
const Bytes kArgumentsError = Bytes{1, 7, 15} + "arguments error" + Bytes{0, 0};
Bytes argumentsErrorSaying(const std::string& message) {
  return Bytes{1, 7, 15} + "arguments error" + Bytes{7, static_cast<uint8_t>(message.size())} + message + Bytes{0};
}

EncodableValue deviceArgs(EncodableValue uuid, EncodableValue enable) {
  return EncodableValue(EncodableMap{{EncodableValue("uuid"), std::move(uuid)}, {EncodableValue("enable"), std::move(enable)}});
}
EncodableValue deviceArgs(const std::string& uuid, bool enable) {
  return deviceArgs(EncodableValue(uuid), EncodableValue(enable));
}

struct Snapshot {
  std::vector<std::string> devices;
  bool broadcastEnabled = false;
  std::string broadcastDeviceId;
  int socketFd = -1;
  uint16_t port = 0;
};

class RazerKitHost {
 public:
  RazerKitHost() : sender_(loopbackHost()) {
    messenger_ = std::make_unique<flutter::BinaryMessengerImpl>(host_.messenger());
    chroma::registerRazerKitChannel(messenger_.get(), relay_, sender_);
    host_.start();
    if (host_.listenError() == 0) client_.emplace(host_.socketPath());
  }
  ~RazerKitHost() {
    client_.reset();
    host_.onLoop([this] { messenger_.reset(); });
    host_.destroyEngine();
  }

  bool ready() const { return client_.has_value(); }

  // The reply's envelope bytes; a missing reply fails the test.
  Bytes call(const std::string& method, std::optional<EncodableValue> arguments) {
    flutter::MethodCall<EncodableValue> methodCall(
        method, arguments ? std::make_unique<EncodableValue>(std::move(*arguments)) : nullptr);
    const uint32_t id = client_->send(chroma::kRazerKitChannelName,
                                      *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(methodCall));
    Bytes reply;
    EXPECT_EQ(flutter_engine::MessengerClient::Outcome::kReply,
              client_->waitReply(id, std::chrono::seconds(20), &reply));
    return reply;
  }

  Snapshot snapshot() {
    Snapshot s;
    host_.onLoop([&] {
      s.devices = relay_.enabledDevices();
      s.broadcastEnabled = relay_.broadcastEnabled();
      s.broadcastDeviceId = relay_.broadcastDeviceId();
      s.socketFd = sender_.socketFd();
      s.port = sender_.port();
    });
    return s;
  }

  // Stands for the packed-data completion, which configures the sender.
  void configureSender() {
    host_.onLoop([this] { sender_.Configure("127.0.0.1", 4242); });
  }

 private:
  EngineHost host_;
  chroma::ChromaRelayState relay_;
  chroma::BroadcastSender sender_;
  std::unique_ptr<flutter::BinaryMessengerImpl> messenger_;
  std::optional<flutter_engine::MessengerClient> client_;
};

struct Step {
  std::string method;
  std::optional<EncodableValue> arguments;
  Bytes reply;
};

Step enable(const std::string& uuid, bool on = true) { return {"enableChromaConnect", deviceArgs(uuid, on), kSuccess}; }

void runSteps(RazerKitHost& bridge, const std::vector<Step>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i) + ": " + steps[i].method);
    EXPECT_EQ(steps[i].reply, bridge.call(steps[i].method, steps[i].arguments));
  }
}

TEST(RazerKitChannel, DeviceTable) {
  const std::string longest(30, 'x');
  const std::string tooLong(31, 'x');
  std::vector<Step> fill;
  for (int i = 0; i < 129; ++i) fill.push_back(enable("lamp-" + std::to_string(i)));
  std::vector<std::string> first128;
  for (int i = 0; i < 128; ++i) first128.push_back("lamp-" + std::to_string(i));

  const struct {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> devices;
  } cases[] = {
      {"enabled twice, stored once", {enable("A"), enable("A")}, {"A"}},
      {"a freed slot is taken first", {enable("A"), enable("B"), enable("C"), enable("B", false), enable("D")},
       {"A", "D", "C"}},
      {"disabling an absent identifier", {enable("A"), enable("B", false)}, {"A"}},
      {"the 129th identifier is not stored", fill, first128},
      {"uuid not a string stores nothing",
       {{"enableChromaConnect", deviceArgs(EncodableValue(int32_t{7}), EncodableValue(true)), kSuccess}},
       {}},
      {"enable not a bool switches off",
       {enable("A"), {"enableChromaConnect", deviceArgs(EncodableValue("A"), EncodableValue("true")), kSuccess}},
       {}},
      {"an empty identifier changes nothing", {enable("A"), enable(""), enable("", false)}, {"A"}},
      {"30 bytes fit a slot, 31 are refused whole",
       {enable(longest),
        {"enableChromaConnect", deviceArgs(tooLong, true), argumentsErrorSaying("uuid is longer than 30 bytes")},
        {"enableChromaConnect", deviceArgs(longest + "yy", false),
         argumentsErrorSaying("uuid is longer than 30 bytes")}},
       {longest}},
      {"a NUL byte would cut the identifier: refused",
       {enable("A"),
        {"enableChromaConnect", deviceArgs(std::string("A\0B", 3), false),
         argumentsErrorSaying("uuid contains a NUL byte")},
        {"enableChromaConnect", deviceArgs(std::string("C\0", 2), true),
         argumentsErrorSaying("uuid contains a NUL byte")}},
       {"A"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RazerKitHost bridge;
    ASSERT_TRUE(bridge.ready());
    runSteps(bridge, c.steps);
    EXPECT_EQ(c.devices, bridge.snapshot().devices);
  }
}

TEST(RazerKitChannel, UnusableArgumentsChangeNothing) {
  RazerKitHost bridge;
  ASSERT_TRUE(bridge.ready());
  runSteps(bridge, {enable("A"), {"broadcastChromaConnect", deviceArgs("B", true), kSuccess}});
  bridge.configureSender();
  const Snapshot before = bridge.snapshot();

  const struct {
    const char* name;
    std::optional<EncodableValue> arguments;
  } cases[] = {
      {"absent", std::nullopt},
      {"null", EncodableValue()},
      {"a list", EncodableValue(EncodableList{EncodableValue("A"), EncodableValue(false)})},
      {"a string", EncodableValue("A")},
      {"uuid without enable", EncodableValue(EncodableMap{{EncodableValue("uuid"), EncodableValue("A")}})},
      {"enable without uuid", EncodableValue(EncodableMap{{EncodableValue("enable"), EncodableValue(false)}})},
      {"keys differ in case",
       EncodableValue(EncodableMap{{EncodableValue("UUID"), EncodableValue("A")},
                                   {EncodableValue("Enable"), EncodableValue(false)}})},
      {"keys that are not strings",
       EncodableValue(EncodableMap{{EncodableValue(int32_t{1}), EncodableValue("A")},
                                   {EncodableValue(int32_t{2}), EncodableValue(false)}})},
  };
  for (const char* method : {"enableChromaConnect", "broadcastChromaConnect"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(method) + " with " + c.name);
      EXPECT_EQ(kArgumentsError, bridge.call(method, c.arguments));
      const Snapshot after = bridge.snapshot();
      EXPECT_EQ(before.devices, after.devices);
      EXPECT_TRUE(after.broadcastEnabled);
      EXPECT_EQ("B", after.broadcastDeviceId);
      EXPECT_EQ(before.socketFd, after.socketFd);
      EXPECT_EQ(4242, after.port);
    }
  }
}

TEST(RazerKitChannel, BroadcastSelection) {
  RazerKitHost bridge;
  ASSERT_TRUE(bridge.ready());
  runSteps(bridge, {enable("A")});
  const std::string longId(chroma::ChromaRelayState::kMaxBroadcastIdentifierLength, 'b');
  const struct {
    const char* name;
    EncodableValue arguments;
    bool configuredBefore;
    bool enabled;
    std::string id;
    bool senderKept;
    Bytes reply = kSuccess;
  } cases[] = {
      {"on keeps a configured sender", deviceArgs("B", true), true, true, "B", true},
      {"another lamp replaces the identifier only", deviceArgs("C", true), false, true, "C", true},
      {"an identifier of 4096 bytes is kept whole", deviceArgs(longId, true), false, true, longId, true},
      {"a longer one is refused and changes nothing", deviceArgs(longId + "b", true), false, true, longId, true,
       argumentsErrorSaying("uuid is longer than 4096 bytes")},
      {"uuid not a string: on with no identifier", deviceArgs(EncodableValue(3.5), EncodableValue(true)), false,
       true, "", true},
      {"off forgets the lamp and resets the sender", deviceArgs("C", false), false, false, "", false},
      {"enable not a bool is off", deviceArgs(EncodableValue("B"), EncodableValue(int32_t{1})), true, false, "",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.configuredBefore) bridge.configureSender();
    const Snapshot before = bridge.snapshot();
    ASSERT_GE(before.socketFd, 0);
    EXPECT_EQ(c.reply, bridge.call("broadcastChromaConnect", c.arguments));
    const Snapshot after = bridge.snapshot();
    EXPECT_EQ(c.enabled, after.broadcastEnabled);
    EXPECT_EQ(c.id, after.broadcastDeviceId);
    EXPECT_EQ(c.senderKept ? before.socketFd : -1, after.socketFd);
    EXPECT_EQ(c.senderKept ? 4242 : 0, after.port);
    EXPECT_EQ(std::vector<std::string>{"A"}, after.devices) << "the device table is independent";
  }
}

TEST(RazerKitChannel, MethodNames) {
  RazerKitHost bridge;
  ASSERT_TRUE(bridge.ready());
  const struct {
    const char* method;
    Bytes reply;
    const char* printed;
  } cases[] = {
      {"__test__", kSuccess, "__test__\n"},
      {"__TEST__", kNotImplemented, ""},
      {"EnableChromaConnect", kNotImplemented, ""},
      {"enableChromaConnect ", kNotImplemented, ""},
      {"broadcastchromaconnect", kNotImplemented, ""},
      {"enable", kNotImplemented, ""},
      {"", kNotImplemented, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.reply, bridge.call(c.method, deviceArgs("A", true)));
    EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout());
  }
  EXPECT_TRUE(bridge.snapshot().devices.empty());
}

}  // namespace
}  // namespace halvix::test
