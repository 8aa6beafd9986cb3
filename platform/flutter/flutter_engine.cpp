#include "platform/flutter/flutter_engine.h"

#include <vector>

#include "platform/flutter/engine_api.h"

namespace flutter {

FlutterEngine::FlutterEngine(const DartProject& project) {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  std::vector<const char*> arguments;
  for (const std::string& argument : project.dart_entrypoint_arguments()) arguments.push_back(argument.c_str());
  properties.dart_entrypoint_argc = static_cast<int>(arguments.size());
  properties.dart_entrypoint_argv = arguments.empty() ? nullptr : arguments.data();
  const FlutterDesktopApi& api = EngineApi();
  engine_ = api.FlutterDesktopEngineCreate(&properties);
  if (engine_) messenger_ = std::make_unique<BinaryMessengerImpl>(api.FlutterDesktopEngineGetMessenger(engine_));
}

FlutterEngine::~FlutterEngine() {
  messenger_.reset();
  if (engine_ && owns_engine_) EngineApi().FlutterDesktopEngineDestroy(engine_);
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_) EngineApi().FlutterDesktopEngineReloadSystemFonts(engine_);
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetRegistrarForPlugin(const std::string& plugin_name) {
  return engine_ ? EngineApi().FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str()) : nullptr;
}

FlutterDesktopEngineRef FlutterEngine::RelinquishEngine() {
  owns_engine_ = false;
  return engine_;
}

}  // namespace flutter
