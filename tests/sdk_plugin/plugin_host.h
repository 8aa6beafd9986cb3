#pragma once
// The SDK plugin registered on an engine stand-in, with a tiny Lua test
// application in a scratch developer tree, and a client playing the Dart side.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/flutter/method_result_functions.h"
#include "platform/flutter/standard_codec.h"
#include "standins/flutter_engine/messenger_client.h"
#include "sdk/flutter_lib_corvel_plugin.h"
#include "sdk/globals.h"
#include "tests/support/engine_host.h"
#include "tests/support/hot_dev_app.h"

namespace halvix::test {

inline constexpr const char* kTestApp = R"(
local M = {}
function M.initLuaApp() end
function M.onTick() end
function M.forwardPlateCall(cb, packed)
  if packed == 'twice' then cb('a') cb('b') return end
  if packed == 'silent' then return end
  if packed == 'level' then cb(tostring(VAR_LOG_LEVEL)) return end
  cb(packed)
end
return M
)";

struct Reply {
  enum Kind { kSuccess, kError, kNotImplemented, kNone } kind = kNone;
  flutter::EncodableValue value;
  std::string code;
  std::string message;
};

class PluginFixture : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.listenError(), 0);
    sdk::setHotDevMode(false);
    writeHotDevTree(host.dir(), kTestApp);
    sdk::SdkDirectories directories;
    directories.driveRoot = host.dir().path().string();
    directories.currentDir = host.dir().path().string();
    sdk::registerSdkPlugin(EngineHost::api().FlutterDesktopEngineGetPluginRegistrar(host.engine(), sdk::kSdkPluginName),
                           directories);
    host.start();
    client = std::make_unique<flutter_engine::MessengerClient>(host.socketPath());
  }

  void TearDown() override {
    client.reset();
    if (host.engine()) host.destroyEngine();
    sdk::setHotDevMode(false);
  }

  Reply call(const std::string& method, std::optional<flutter::EncodableValue> arguments = std::nullopt,
             std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto& codec = flutter::StandardMethodCodec::GetInstance();
    flutter::MethodCall<flutter::EncodableValue> methodCall(
        method, arguments ? std::make_unique<flutter::EncodableValue>(*arguments) : nullptr);
    uint32_t id = client->send(sdk::kSdkChannelName, *codec.EncodeMethodCall(methodCall));
    std::vector<uint8_t> bytes;
    Reply reply;
    if (client->waitReply(id, timeout, &bytes) != flutter_engine::MessengerClient::Outcome::kReply) return reply;
    flutter::MethodResultFunctions<flutter::EncodableValue> sink(
        [&](const flutter::EncodableValue* v) {
          reply.kind = Reply::kSuccess;
          if (v) reply.value = *v;
        },
        [&](const std::string& code, const std::string& message, const flutter::EncodableValue*) {
          reply.kind = Reply::kError;
          reply.code = code;
          reply.message = message;
        },
        [&] { reply.kind = Reply::kNotImplemented; });
    EXPECT_TRUE(codec.DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &sink));
    return reply;
  }

  static flutter::EncodableValue report(bool ok, const std::string& message) {
    return flutter::EncodableValue(flutter::EncodableList{flutter::EncodableValue(ok), flutter::EncodableValue(message)});
  }
  static flutter::EncodableValue bytes(const std::string& s) {
    return flutter::EncodableValue(std::vector<uint8_t>(s.begin(), s.end()));
  }
  static flutter::EncodableValue hotDevArgs(flutter::EncodableValue flag) {
    return flutter::EncodableValue(flutter::EncodableMap{
        {flutter::EncodableValue("sdkEnv"),
         flutter::EncodableValue(flutter::EncodableMap{{flutter::EncodableValue("VAR_IS_HOTDEV"), std::move(flag)}})}});
  }

  EngineHost host;
  std::unique_ptr<flutter_engine::MessengerClient> client;
};

}  // namespace halvix::test
