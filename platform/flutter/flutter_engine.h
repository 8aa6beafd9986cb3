#pragma once
// One engine, created from a project. A view controller takes the engine
// over (RelinquishEngine); otherwise the engine is destroyed with the object.
#include <memory>
#include <string>

#include "platform/flutter/binary_messenger_impl.h"
#include "platform/flutter/dart_project.h"
#include "platform/flutter_api/flutter_windows.h"

namespace flutter {

class FlutterEngine {
 public:
  // Throws EngineLoadError when the engine library cannot be loaded.
  explicit FlutterEngine(const DartProject& project);
  ~FlutterEngine();
  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // False when the engine library refused to create an engine.
  bool valid() const { return engine_ != nullptr; }
  void ReloadSystemFonts();
  FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& plugin_name);
  BinaryMessenger* messenger() { return messenger_.get(); }

  // Hands the engine to whoever takes it; this object then only refers to it.
  FlutterDesktopEngineRef RelinquishEngine();

 private:
  FlutterDesktopEngineRef engine_ = nullptr;
  bool owns_engine_ = true;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
};

}  // namespace flutter
