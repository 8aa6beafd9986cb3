#pragma once
// The SDK finds the application at a fixed place below the directories it is
// given. To run an application that lives elsewhere, a scratch tree is made
// in which that place is a symbolic link to the application: the source
// folder (hot-development mode) or the bundle file as "ls.lsd" (normal mode),
// so that a bundle of any name can be run. Where the system refuses the link
// (Windows without the privilege), the place holds a copy.
//
// A scratch tree is removed when the object goes, and also when the process
// exits without unwinding (os.exit in the application, or an exit that must
// skip destructors), so that no run leaves folders behind in /tmp.
#include <filesystem>
#include <string>

namespace halvix::tools {

class ScratchRoot {
 public:
  enum class Mode { kHotDev, kBundle };
  // `target` is the application's source folder (kHotDev) or its bundle file
  // (kBundle). Throws std::runtime_error or std::filesystem_error.
  ScratchRoot(Mode mode, const std::filesystem::path& target);
  ~ScratchRoot();
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;

  const std::filesystem::path& path() const { return root_; }

  // Removes every scratch tree still alive; for exits that skip destructors.
  static void removeAll();

 private:
  std::filesystem::path root_;
};

}  // namespace halvix::tools
