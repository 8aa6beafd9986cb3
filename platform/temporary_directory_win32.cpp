#include "platform/temporary_directory.h"

#include <random>
#include <stdexcept>
#include <system_error>

namespace halvix::platform {

// Windows has no mkdtemp: a random name is tried until the folder is created
// new, which create_directory reports apart from an existing one.
std::filesystem::path makeTemporaryDirectory(const std::string& prefix) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) name += kLetters[pick(random)];
    std::error_code error;
    if (std::filesystem::create_directory(base / name, error)) return base / name;
    if (error) break;
  }
  throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

}  // namespace halvix::platform
