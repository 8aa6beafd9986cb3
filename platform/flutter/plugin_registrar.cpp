#include "platform/flutter/binary_messenger_impl.h"
#include "platform/flutter/engine_api.h"
#include "platform/flutter/plugin_registrar_windows.h"

namespace flutter {

PluginRegistrar::PluginRegistrar(FlutterDesktopPluginRegistrarRef core_registrar) : registrar_(core_registrar) {
  messenger_ = std::make_unique<BinaryMessengerImpl>(EngineApi().FlutterDesktopPluginRegistrarGetMessenger(core_registrar));
}

PluginRegistrar::~PluginRegistrar() {
  plugins_.clear();
  messenger_.reset();
}

void PluginRegistrar::AddPlugin(std::unique_ptr<Plugin> plugin) { plugins_.insert(std::move(plugin)); }

PluginRegistrarManager* PluginRegistrarManager::GetInstance() {
  static PluginRegistrarManager instance;
  return &instance;
}

void PluginRegistrarManager::OnRegistrarDestroyed(FlutterDesktopPluginRegistrarRef registrar) {
  // Moved out first: destroying plugins may look the manager up again.
  auto& registrars = GetInstance()->registrars_;
  auto it = registrars.find(registrar);
  if (it == registrars.end()) return;
  auto wrapper = std::move(it->second);
  registrars.erase(it);
  wrapper.reset();
}

}  // namespace flutter
