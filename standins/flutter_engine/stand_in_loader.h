#pragma once
// For tools and tests, which load the engine stand-in themselves: fills the
// client wrapper's engine table from the stand-in's file and resolves the
// stand-in's own additions from it.
#include <filesystem>

#include "platform/dynamic_library.h"
#include "platform/flutter_api/stand_in_api.h"

namespace halvix::flutter_engine {

// "support.dat" beside the running executable, where the build and the
// installation put the stand-in.
std::filesystem::path standInBesideExecutable();

class StandIn {
 public:
  // Loads the stand-in at `path` as the wrapper's engine library (see
  // flutter::UseEngineLibrary). Throws flutter::EngineLoadError naming what
  // could not be loaded or found.
  explicit StandIn(const std::filesystem::path& path = standInBesideExecutable());

  // See stand_in_api.h.
  bool setPlatformTaskRunner(const HalvixFlutterTaskRunner* runner) const { return setRunner_(runner); }
  int listen(FlutterDesktopEngineRef engine, const char* path) const { return listen_(engine, path); }
  int setFrameTimeout(FlutterDesktopEngineRef engine, uint32_t milliseconds) const {
    return setFrameTimeout_(engine, milliseconds);
  }
  int setBacklogLimits(FlutterDesktopEngineRef engine, size_t clientBytes, size_t totalBytes,
                       uint32_t drainTimeoutMs) const {
    return setBacklogLimits_(engine, clientBytes, totalBytes, drainTimeoutMs);
  }

 private:
  platform::DynamicLibrary library_;
  decltype(&HalvixFlutterSetPlatformTaskRunner) setRunner_ = nullptr;
  decltype(&HalvixFlutterEngineListen) listen_ = nullptr;
  decltype(&HalvixFlutterEngineSetFrameTimeout) setFrameTimeout_ = nullptr;
  decltype(&HalvixFlutterEngineSetBacklogLimits) setBacklogLimits_ = nullptr;
};

}  // namespace halvix::flutter_engine
