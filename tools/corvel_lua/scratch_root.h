#pragma once
// The SDK finds the application at a fixed place below the directories it is
// given. To run an application that lives elsewhere, a scratch tree is made
// in which that place is a symbolic link to the application's folder.
#include <filesystem>
#include <string>

namespace halvix::tools {

class ScratchRoot {
 public:
  // `relativeAppPath` is where the SDK looks below the scratch root; its
  // parent folders are created and its last element links to `appDir`.
  ScratchRoot(const std::filesystem::path& appDir, const std::string& relativeAppPath);
  ~ScratchRoot();
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;

  const std::filesystem::path& path() const { return root_; }

 private:
  std::filesystem::path root_;
};

}  // namespace halvix::tools
