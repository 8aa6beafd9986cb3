#include "platform/temporary_directory.h"

#include <cstdlib>
#include <stdexcept>

namespace halvix::platform {

std::filesystem::path makeTemporaryDirectory(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder from " + pattern);
  return pattern;
}

}  // namespace halvix::platform
