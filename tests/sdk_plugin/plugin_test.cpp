#include <thread>

#include "platform/flutter/method_result_functions.h"
#include "platform/os_version.h"
#include "tests/sdk_plugin/plugin_host.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using halvix::test::Reply;
using namespace std::chrono_literals;

constexpr const char* kCheckAssets = "initSDK failed: checkAssets failed, App maybe incompleted.";
constexpr const char* kNeedInit = "initSDK failed : need call initSDK() firstly.";

class PluginTest : public halvix::test::PluginFixture {};

TEST_F(PluginTest, RegistrationPublishesTheCoreAndDestructionWithdrawsIt) {
  EXPECT_NE(halvix::sdk::currentCorvelNative(), nullptr);
  EXPECT_TRUE(halvix::sdk::pluginRegistered());
  host.destroyEngine();
  EXPECT_EQ(halvix::sdk::currentCorvelNative(), nullptr);
}

TEST_F(PluginTest, MethodTableWithoutAnActivation) {
  const std::string version = halvix::platform::osVersionText();
  EXPECT_TRUE(version.starts_with("Linux ") || version.starts_with("Windows ")) << version;
  struct Case {
    const char* method;
    Reply::Kind kind;
    EncodableValue value;
  };
  const Case cases[] = {
      {"unInitSDK", Reply::kSuccess, EncodableValue()},
      {"stopLooper", Reply::kSuccess, report(true, "")},
      {"startLooper", Reply::kSuccess, report(false, kNeedInit)},
      {"getPlatformVersion", Reply::kSuccess, EncodableValue(version)},
      {"InitSDK", Reply::kNotImplemented, EncodableValue()},
      {"forwardplatecall", Reply::kNotImplemented, EncodableValue()},
      {"getPlatformVersion ", Reply::kNotImplemented, EncodableValue()},
      {"", Reply::kNotImplemented, EncodableValue()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    Reply reply = call(c.method, EncodableValue(int32_t{1}));
    EXPECT_EQ(reply.kind, c.kind);
    EXPECT_EQ(reply.value, c.value);
  }
}

TEST_F(PluginTest, MalformedArgumentsAreBadArgumentsAndChangeNothing) {
  struct Case {
    const char* name;
    const char* method;
    std::optional<EncodableValue> arguments;
    bool hotDevBefore;
  };
  const Case cases[] = {
      {"initSDK without arguments", "initSDK", std::nullopt, false},
      {"initSDK with null", "initSDK", EncodableValue(), false},
      {"initSDK with a list", "initSDK", EncodableValue(EncodableList{}), true},
      {"hot-dev flag as int", "initSDK", hotDevArgs(EncodableValue(int32_t{1})), false},
      {"hot-dev flag as string", "initSDK", hotDevArgs(EncodableValue("false")), true},
      {"forwardPlateCall with a string", "forwardPlateCall", EncodableValue("abc"), false},
      {"forwardPlateCall with Int32List", "forwardPlateCall", EncodableValue(std::vector<int32_t>{1}), false},
      {"forwardPlateCall without arguments", "forwardPlateCall", std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    halvix::sdk::setHotDevMode(c.hotDevBefore);
    Reply reply = call(c.method, c.arguments);
    EXPECT_EQ(reply.kind, Reply::kError);
    EXPECT_EQ(reply.code, "Bad Arguments");
    EXPECT_EQ(reply.message, "");
    EXPECT_EQ(halvix::sdk::hotDevMode(), c.hotDevBefore);
  }
  // Nothing was started by any of them.
  EXPECT_EQ(call("startLooper").value, report(false, kNeedInit));
}

TEST_F(PluginTest, AssetCheckFailureIsAnsweredAtOnce) {
  host.dir().write("lsd/other.lsd", "x");
  const EncodableValue cases[] = {
      EncodableValue(EncodableMap{}),
      EncodableValue(EncodableMap{{EncodableValue("lsdName"), EncodableValue("other.lsd")}}),
      EncodableValue(EncodableMap{{EncodableValue("sdkEnv"), EncodableValue("not a map")}}),
  };
  for (const auto& arguments : cases) {
    Reply reply = call("initSDK", arguments);
    EXPECT_EQ(reply.kind, Reply::kSuccess);
    EXPECT_EQ(reply.value, report(false, kCheckAssets));
    EXPECT_FALSE(halvix::sdk::hotDevMode());
  }
}

TEST_F(PluginTest, ActivationTickCallAndStop) {
  EXPECT_EQ(call("initSDK", hotDevArgs(EncodableValue(true))).value, report(true, ""));
  EXPECT_TRUE(halvix::sdk::hotDevMode());
  EXPECT_EQ(call("startLooper").value, report(true, ""));
  std::string packed("\x93\x00\xa1x", 4);
  EXPECT_EQ(call("forwardPlateCall", bytes(packed)).value, bytes(packed));
  EXPECT_EQ(call("forwardPlateCall", bytes("")).value, bytes(""));
  EXPECT_EQ(call("stopLooper").value, report(true, ""));

  // Without "sdkEnv" the mode stays on.
  EXPECT_EQ(call("initSDK", EncodableValue(EncodableMap{})).value, report(true, ""));
  EXPECT_TRUE(halvix::sdk::hotDevMode());
  EXPECT_EQ(call("unInitSDK").kind, Reply::kSuccess);
  EXPECT_EQ(call("startLooper").value, report(false, kNeedInit));
}

TEST_F(PluginTest, LogLevelMustBeAnInt32) {
  struct Case {
    EncodableValue level;
    const char* seen;
  };
  const Case cases[] = {
      {EncodableValue(int32_t{77}), "77"},
      {EncodableValue(int64_t{77}), "10"},
      {EncodableValue("77"), "10"},
      {EncodableValue(), "10"},
  };
  for (const auto& c : cases) {
    EncodableValue arguments(EncodableMap{
        {EncodableValue("logLevel"), c.level},
        {EncodableValue("sdkEnv"), EncodableValue(EncodableMap{{EncodableValue("VAR_IS_HOTDEV"), EncodableValue(true)}})}});
    ASSERT_EQ(call("initSDK", arguments).value, report(true, ""));
    EXPECT_EQ(call("forwardPlateCall", bytes("level")).value, bytes(c.seen));
  }
}

TEST_F(PluginTest, SecondAnswerFromLuaIsIgnoredWithTheWrappersDiagnostic) {
  ASSERT_EQ(call("initSDK", hotDevArgs(EncodableValue(true))).value, report(true, ""));
  testing::internal::CaptureStderr();
  EXPECT_EQ(call("forwardPlateCall", bytes("twice")).value, bytes("a"));
  // The worker runs calls in order: once this one is answered the second
  // invocation above has been handled too.
  EXPECT_EQ(call("forwardPlateCall", bytes("sync")).value, bytes("sync"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error: Only one of Success, Error, or NotImplemented can be called, and it can be called "
                     "exactly once. Ignoring duplicate result."),
            std::string::npos)
      << err;
  // No second reply frame reached the client.
  EXPECT_FALSE(client->readFrame(100ms));
}

TEST_F(PluginTest, ForwardPlateCallWithoutActivationIsNeverAnswered) {
  testing::internal::CaptureStderr();
  Reply reply = call("forwardPlateCall", bytes("x"), 300ms);
  host.onLoop([] {});
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(reply.kind, Reply::kNone);
  EXPECT_NE(err.find("Warning: Failed to respond to a message. This is a memory leak."), std::string::npos) << err;
  // The channel still works.
  EXPECT_EQ(call("unInitSDK").kind, Reply::kSuccess);
}

TEST_F(PluginTest, UnansweredCallIsReleasedWhenTheActivationEnds) {
  ASSERT_EQ(call("initSDK", hotDevArgs(EncodableValue(true))).value, report(true, ""));
  EXPECT_EQ(call("forwardPlateCall", bytes("silent"), 200ms).kind, Reply::kNone);
  testing::internal::CaptureStderr();
  EXPECT_EQ(call("unInitSDK").kind, Reply::kSuccess);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Warning: Failed to respond to a message."), std::string::npos) << err;
}

}  // namespace
