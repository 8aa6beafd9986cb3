#include "host/engine_loading.h"

#include <filesystem>
#include <system_error>

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
  const std::string executable = platform::executablePath().string();
  if (std::optional<std::string> shipped = shippedEnginePath(executable)) {
    // Opening a FIFO or a device can block for ever, before any code of
    // ours could notice: only a regular file is opened.
    std::error_code error;
    const auto type = std::filesystem::status(*shipped, error).type();
    if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::not_found && !error) {
      shippedFailure = *shipped + ": not a regular file";
    } else {
      platform::DynamicLibrary engine = platform::DynamicLibrary::openPath(*shipped);
      if (engine) return engine;
      shippedFailure = engine.error();
    }
  } else if (executable.empty() || executable.size() >= kModulePathBuffer) {
    shippedFailure = "the executable's path is too long for it";
  } else {
    shippedFailure = "its path beside the executable is too long";
  }
  platform::DynamicLibrary engine = platform::DynamicLibrary::open(kEngineLibraryName);
  if (engine) return engine;
  // A closed library carries the reason; the wrapper reports it.
  return platform::DynamicLibrary::failed("neither " + std::string(kShippedEngineName) + " (" + shippedFailure +
                                           ") nor " + kEngineLibraryName + " (" + engine.error() + ")");
}

}  // namespace halvix::host
