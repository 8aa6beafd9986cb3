#pragma once
// The registrar through which a plugin reaches the engine, and the manager
// that keeps one wrapper object per engine registrar and drops it when the
// engine destroys the registrar.
#include <map>
#include <memory>
#include <set>

#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/engine_api.h"
#include "platform/flutter/plugin.h"
#include "platform/flutter_api/flutter_windows.h"

namespace flutter {

class PluginRegistrar {
 public:
  explicit PluginRegistrar(FlutterDesktopPluginRegistrarRef core_registrar);
  // Plugins go first, while the messenger they used still exists.
  virtual ~PluginRegistrar();
  PluginRegistrar(const PluginRegistrar&) = delete;
  PluginRegistrar& operator=(const PluginRegistrar&) = delete;

  BinaryMessenger* messenger() { return messenger_.get(); }
  FlutterDesktopPluginRegistrarRef registrar() { return registrar_; }
  void AddPlugin(std::unique_ptr<Plugin> plugin);

 private:
  FlutterDesktopPluginRegistrarRef registrar_;
  std::unique_ptr<BinaryMessenger> messenger_;
  std::set<std::unique_ptr<Plugin>> plugins_;
};

class PluginRegistrarWindows : public PluginRegistrar {
 public:
  explicit PluginRegistrarWindows(FlutterDesktopPluginRegistrarRef core_registrar)
      : PluginRegistrar(core_registrar) {}
};

// Used on the platform thread only.
class PluginRegistrarManager {
 public:
  static PluginRegistrarManager* GetInstance();

  template <class T>
  T* GetRegistrar(FlutterDesktopPluginRegistrarRef registrar_ref) {
    auto it = registrars_.find(registrar_ref);
    if (it != registrars_.end()) return static_cast<T*>(it->second.get());
    auto wrapper = std::make_unique<T>(registrar_ref);
    T* out = wrapper.get();
    registrars_.emplace(registrar_ref, std::move(wrapper));
    EngineApi().FlutterDesktopPluginRegistrarSetDestructionHandler(registrar_ref, OnRegistrarDestroyed);
    return out;
  }

  // Drops every wrapper; for tests.
  void Reset() { registrars_.clear(); }

 private:
  PluginRegistrarManager() = default;
  static void OnRegistrarDestroyed(FlutterDesktopPluginRegistrarRef registrar);

  std::map<FlutterDesktopPluginRegistrarRef, std::unique_ptr<PluginRegistrar>> registrars_;
};

}  // namespace flutter
