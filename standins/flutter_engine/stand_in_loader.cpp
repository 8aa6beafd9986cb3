#include "standins/flutter_engine/stand_in_loader.h"

#include "platform/flutter/engine_api.h"

namespace halvix::flutter_engine {

namespace {

template <typename Function>
Function lookUp(platform::DynamicLibrary& library, const char* name) {
  auto function = library.function<Function>(name);
  if (!function) throw flutter::EngineLoadError("the engine stand-in lacks " + std::string(name) + ": " + library.error());
  return function;
}

}  // namespace

std::filesystem::path standInBesideExecutable() { return platform::executablePath().parent_path() / "support.dat"; }

StandIn::StandIn(const std::filesystem::path& path) {
  flutter::UseEngineLibrary(path);
  // The same file again: the system hands back the loaded library.
  library_ = platform::DynamicLibrary::openPath(path);
  if (!library_) throw flutter::EngineLoadError("the engine stand-in cannot be loaded: " + library_.error());
  setRunner_ = lookUp<decltype(setRunner_)>(library_, "HalvixFlutterSetPlatformTaskRunner");
  listen_ = lookUp<decltype(listen_)>(library_, "HalvixFlutterEngineListen");
  setFrameTimeout_ = lookUp<decltype(setFrameTimeout_)>(library_, "HalvixFlutterEngineSetFrameTimeout");
  setBacklogLimits_ = lookUp<decltype(setBacklogLimits_)>(library_, "HalvixFlutterEngineSetBacklogLimits");
}

}  // namespace halvix::flutter_engine
