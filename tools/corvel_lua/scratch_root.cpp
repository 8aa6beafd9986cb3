#include "tools/corvel_lua/scratch_root.h"

#include <cstdlib>
#include <stdexcept>

#include "sdk/app_paths.h"

namespace halvix::tools {

ScratchRoot::ScratchRoot(const std::filesystem::path& appDir, const std::string& relativeAppPath) {
  std::string pattern = (std::filesystem::temp_directory_path() / "corvel-lua-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a scratch directory");
  root_ = pattern;
  std::filesystem::path link = root_ / relativeAppPath;
  std::filesystem::create_directories(link.parent_path());
  std::filesystem::create_directories(root_ / sdk::kHotDevProjectDir);
  std::filesystem::create_directory_symlink(std::filesystem::absolute(appDir), link);
}

ScratchRoot::~ScratchRoot() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);  // removes the link, never what it points to
}

}  // namespace halvix::tools
