#pragma once
// The Flutter plugin through which the Dart side drives the SDK: it owns the
// process's CorvelNative and answers the method channel
// "com.brisktide.corvel.methodchannel".
#include <memory>

#include "platform/flutter/encodable_value.h"
#include "platform/flutter/method_call.h"
#include "platform/flutter/method_result.h"
#include "platform/flutter/plugin.h"
#include "platform/flutter/plugin_registrar_windows.h"
#include "platform/flutter_api/flutter_windows.h"
#include "sdk/corvel_native.h"

namespace halvix::sdk {

inline constexpr const char* kSdkChannelName = "com.brisktide.corvel.methodchannel";
// The name under which hosts ask the engine for the plugin's registrar.
inline constexpr const char* kSdkPluginName = "FlutterLibCorvelPlugin";
inline constexpr const char* kBadArguments = "Bad Arguments";
inline constexpr int kDefaultLogLevel = 10;

class FlutterLibCorvelPlugin : public flutter::Plugin {
 public:
  // `directories` is where the SDK looks for the application; tests point it
  // at a scratch tree, the host leaves the defaults.
  static void RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar, SdkDirectories directories = {});

  explicit FlutterLibCorvelPlugin(SdkDirectories directories = {});
  ~FlutterLibCorvelPlugin() override;

  void HandleMethodCall(const flutter::MethodCall<flutter::EncodableValue>& method_call,
                        std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

 private:
  void handleInitSdk(const flutter::EncodableValue* arguments,
                     std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

  std::unique_ptr<CorvelNative> native_;
};

// Registers the plugin on an engine's registrar, through the wrapper's
// registrar manager: what the exported entry below does, with the SDK's
// directories given.
void registerSdkPlugin(FlutterDesktopPluginRegistrarRef registrar, SdkDirectories directories = {});

}  // namespace halvix::sdk

// Exported from the executable under this undecorated name.
#ifdef _WIN32
#define HALVIX_SDK_PLUGIN_EXPORT __declspec(dllexport)
#else
#define HALVIX_SDK_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif
extern "C" HALVIX_SDK_PLUGIN_EXPORT void FlutterLibCorvelPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
