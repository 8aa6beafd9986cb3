#include "sdk/flutter_lib_corvel_plugin.h"

#include <string>
#include <utility>

#include <boost/thread/exceptions.hpp>

#include "platform/flutter/method_channel.h"
#include "platform/flutter/standard_codec.h"
#include "platform/os_version.h"
#include "sdk/globals.h"

namespace halvix::sdk {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using SharedResult = std::shared_ptr<flutter::MethodResult<EncodableValue>>;

constexpr const char* kThreadFailed = "initSDK failed: cannot create the SDK worker thread: ";

EncodableValue resultList(bool ok, std::string message) {
  return EncodableValue(EncodableList{EncodableValue(ok), EncodableValue(ok ? std::string() : std::move(message))});
}

// An SDK result report (boolean, then str or bin) as the list the Dart side reads.
EncodableValue fromReport(std::vector<msgpack::object_handle>& report) {
  bool ok = report.at(0).get().as<bool>();
  const msgpack::object& text = report.at(1).get();
  std::string message;
  if (text.type == msgpack::type::BIN)
    message.assign(text.via.bin.ptr, text.via.bin.size);
  else
    message = text.as<std::string>();
  return resultList(ok, std::move(message));
}

ResultCallback replyWithReport(SharedResult result) {
  return [result = std::move(result)](std::vector<msgpack::object_handle>& report) {
    result->Success(fromReport(report));
  };
}

const EncodableValue* lookup(const EncodableMap& map, const char* key) {
  auto it = map.find(EncodableValue(key));
  return it == map.end() ? nullptr : &it->second;
}

}  // namespace

void FlutterLibCorvelPlugin::RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar,
                                                   SdkDirectories directories) {
  auto channel = std::make_unique<flutter::MethodChannel<EncodableValue>>(
      registrar->messenger(), kSdkChannelName, &flutter::StandardMethodCodec::GetInstance());
  auto plugin = std::make_unique<FlutterLibCorvelPlugin>(std::move(directories));
  setCurrentCorvelNative(plugin->native_.get());
  channel->SetMethodCallHandler([plugin_pointer = plugin.get()](const auto& call, auto result) {
    plugin_pointer->HandleMethodCall(call, std::move(result));
  });
  registrar->AddPlugin(std::move(plugin));
  setPluginRegistered(true);
}

FlutterLibCorvelPlugin::FlutterLibCorvelPlugin(SdkDirectories directories)
    : native_(std::make_unique<CorvelNative>(std::move(directories))) {}

FlutterLibCorvelPlugin::~FlutterLibCorvelPlugin() {
  if (currentCorvelNative() == native_.get()) setCurrentCorvelNative(nullptr);
  native_.reset();
}

void FlutterLibCorvelPlugin::HandleMethodCall(const flutter::MethodCall<EncodableValue>& method_call,
                                              std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
  const std::string& method = method_call.method_name();
  if (method == "unInitSDK") {
    native_->unInitSDK();
    result->Success();
  } else if (method == "startLooper") {
    native_->startLooper(replyWithReport(SharedResult(std::move(result))));
  } else if (method == "stopLooper") {
    native_->stopLooper(replyWithReport(SharedResult(std::move(result))));
  } else if (method == "initSDK") {
    handleInitSdk(method_call.arguments(), std::move(result));
  } else if (method == "forwardPlateCall") {
    const EncodableValue* arguments = method_call.arguments();
    if (!arguments || !std::holds_alternative<std::vector<uint8_t>>(*arguments)) {
      result->Error(kBadArguments);
      return;
    }
    const auto& bytes = std::get<std::vector<uint8_t>>(*arguments);
    SharedResult shared(std::move(result));
    native_->forwardPlateCall(
        [shared](const std::vector<std::string>& answers) {
          std::vector<uint8_t> out;
          if (!answers.empty()) out.assign(answers.front().begin(), answers.front().end());
          shared->Success(EncodableValue(std::move(out)));
        },
        std::string(bytes.begin(), bytes.end()));
  } else if (method == "getPlatformVersion") {
    result->Success(EncodableValue(platform::osVersionText()));
  } else {
    result->NotImplemented();
  }
}

void FlutterLibCorvelPlugin::handleInitSdk(const EncodableValue* arguments,
                                           std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
  if (!arguments || !std::holds_alternative<EncodableMap>(*arguments)) {
    result->Error(kBadArguments);
    return;
  }
  const auto& map = std::get<EncodableMap>(*arguments);

  // Everything is checked before anything changes: a bad entry leaves the
  // hot-development setting as it was.
  std::optional<bool> hotDev;
  if (const EncodableValue* env = lookup(map, "sdkEnv"); env && std::holds_alternative<EncodableMap>(*env)) {
    if (const EncodableValue* flag = lookup(std::get<EncodableMap>(*env), "VAR_IS_HOTDEV")) {
      if (!std::holds_alternative<bool>(*flag)) {
        result->Error(kBadArguments);
        return;
      }
      hotDev = std::get<bool>(*flag);
    }
  }
  int logLevel = kDefaultLogLevel;
  if (const EncodableValue* level = lookup(map, "logLevel"); level && std::holds_alternative<int32_t>(*level))
    logLevel = std::get<int32_t>(*level);
  std::string lsdName;
  if (const EncodableValue* name = lookup(map, "lsdName"); name && std::holds_alternative<std::string>(*name))
    lsdName = std::get<std::string>(*name);

  if (hotDev) setHotDevMode(*hotDev);
  SharedResult shared(std::move(result));
  try {
    native_->initSDK(replyWithReport(shared), logLevel, std::move(lsdName));
  } catch (const boost::thread_resource_error& e) {
    // The Dart side waits for a report; an exception must not reach the engine.
    shared->Success(resultList(false, kThreadFailed + std::string(e.what())));
  }
}

void registerSdkPlugin(FlutterDesktopPluginRegistrarRef registrar, SdkDirectories directories) {
  FlutterLibCorvelPlugin::RegisterWithRegistrar(
      flutter::PluginRegistrarManager::GetInstance()->GetRegistrar<flutter::PluginRegistrarWindows>(registrar),
      std::move(directories));
}

}  // namespace halvix::sdk

extern "C" void FlutterLibCorvelPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  halvix::sdk::registerSdkPlugin(registrar);
}
