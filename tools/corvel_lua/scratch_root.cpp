#include "tools/corvel_lua/scratch_root.h"

#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>

#include "platform/temporary_directory.h"
#include "sdk/app_paths.h"

namespace halvix::tools {

namespace {

std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}

// Leaked on purpose: it must outlive every static destructor, as os.exit in
// the application runs the exit handlers while the tree still exists.
std::set<std::string>& registry() {
  static auto* roots = new std::set<std::string>;
  return *roots;
}

void removeTree(const std::string& root) {
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);  // removes the links, never what they point to
}

void registerRoot(const std::string& root) {
  static const bool handlerInstalled = [] { return std::atexit(ScratchRoot::removeAll) == 0; }();
  (void)handlerInstalled;
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().insert(root);
}

// Windows allows symbolic links only to administrators and in developer
// mode; a copy serves one run as well, as the tree goes when the run ends.
void linkOrCopy(const std::filesystem::path& target, const std::filesystem::path& place, bool directory) {
  std::error_code linkError;
  if (directory) {
    std::filesystem::create_directory_symlink(target, place, linkError);
  } else {
    std::filesystem::create_symlink(target, place, linkError);
  }
  if (linkError)
    std::filesystem::copy(target, place,
                          directory ? std::filesystem::copy_options::recursive : std::filesystem::copy_options::none);
}

}  // namespace

ScratchRoot::ScratchRoot(Mode mode, const std::filesystem::path& target) {
  try {
    root_ = platform::makeTemporaryDirectory("corvel-lua-");
  } catch (const std::runtime_error&) {
    throw std::runtime_error("cannot create a scratch directory");
  }
  registerRoot(root_.string());
  try {
    if (mode == Mode::kHotDev) {
      std::filesystem::path link = root_ / sdk::kHotDevAppDir;
      std::filesystem::create_directories(link.parent_path());
      std::filesystem::create_directories(root_ / sdk::kHotDevProjectDir);
      linkOrCopy(std::filesystem::absolute(target), link, true);
    } else {
      std::filesystem::create_directories(root_ / sdk::kBundleFolder);
      linkOrCopy(std::filesystem::absolute(target), root_ / sdk::kBundleFolder / sdk::kDefaultBundleName, false);
    }
  } catch (...) {
    removeTree(root_.string());
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().erase(root_.string());
    throw;
  }
}

ScratchRoot::~ScratchRoot() {
  removeTree(root_.string());
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().erase(root_.string());
}

void ScratchRoot::removeAll() {
  std::lock_guard<std::mutex> lock(registryMutex());
  for (const std::string& root : registry()) removeTree(root);
  registry().clear();
}

}  // namespace halvix::tools
