#include "sdk/globals.h"

#include <atomic>

namespace halvix::sdk {

namespace {
std::atomic<bool> g_hotDevMode{false};
int g_nextCallId = 0;
std::atomic<CorvelNative*> g_currentCorvelNative{nullptr};
std::atomic<bool> g_pluginRegistered{false};
}  // namespace

bool hotDevMode() { return g_hotDevMode.load(); }
void setHotDevMode(bool on) { g_hotDevMode.store(on); }

int takeNextCallId() {
  int id = g_nextCallId;
  // Wraps like the int it is; ids only need to be unique among live calls.
  g_nextCallId = static_cast<int>(static_cast<unsigned>(g_nextCallId) + 1u);
  return id;
}

CorvelNative* currentCorvelNative() { return g_currentCorvelNative.load(); }
void setCurrentCorvelNative(CorvelNative* native) { g_currentCorvelNative.store(native); }

bool pluginRegistered() { return g_pluginRegistered.load(); }
void setPluginRegistered(bool registered) { g_pluginRegistered.store(registered); }

}  // namespace halvix::sdk
