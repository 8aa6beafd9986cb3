#include "host/engine_loading.h"

#include "platform/flutter/engine_api.h"

namespace halvix::host {

std::optional<std::string> shippedEnginePath(const std::string& executablePath) {
  // The buffer holds the path and its terminating NUL.
  if (executablePath.empty() || executablePath.size() >= kModulePathBuffer) return std::nullopt;
  const std::size_t separator = executablePath.find_last_of("/\\:");
  std::string path = separator == std::string::npos ? std::string() : executablePath.substr(0, separator + 1);
  path += kShippedEngineName;
  if (path.size() >= kModulePathBuffer) return std::nullopt;
  return path;
}

platform::DynamicLibrary loadEngineLibrary() {
  std::string shippedFailure;
  if (std::optional<std::string> shipped = shippedEnginePath(platform::executablePath().string())) {
    platform::DynamicLibrary engine = platform::DynamicLibrary::openPath(*shipped);
    if (engine) return engine;
    shippedFailure = engine.error();
  } else {
    shippedFailure = "the executable's path is too long for it";
  }
  platform::DynamicLibrary engine = platform::DynamicLibrary::open(kEngineLibraryName);
  if (engine) return engine;
  // A closed library carries the reason; the wrapper reports it.
  return platform::DynamicLibrary::failed("neither " + std::string(kShippedEngineName) + " (" + shippedFailure +
                                           ") nor " + kEngineLibraryName + " (" + engine.error() + ")");
}

}  // namespace halvix::host
